// The growth-policy exemption: registration on open as the policy decides,
// and the provider's callback through the library's export, played by the
// stand-in as MSPST32 would.
#include "PstTestEnv.h"

#include "mapi/PSTOverride.h"

#include <atomic>
#include <memory>
#include <thread>

// {FBB68D34-F561-44FB-A8CA-AE36696342CA}
static const IID kIID_Override = {
    0xFBB68D34, 0xF561, 0x44FB, {0xA8, 0xCA, 0xAE, 0x36, 0x69, 0x63, 0x42, 0xCA}};

// An override object as the provider hands it to the callback (offering the
// override interface or not); counts the exemptions asked for and answers
// result. It lives on the test's stack, so references are not counted.
class TestOverride : public IPSTOverride {
public:
    explicit TestOverride(HRESULT result, bool offered = true) : m_result(result), m_offered(offered) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
        bool known = riid == IID_IUnknown || (m_offered && riid == kIID_Override);
        *out = known ? static_cast<IPSTOverride*>(this) : nullptr;
        return known ? S_OK : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP Reserved1() override { return E_NOTIMPL; }
    STDMETHODIMP Reserved2() override { return E_NOTIMPL; }
    STDMETHODIMP ExemptFromDisableGrow() override {
        ++exemptions;
        return m_result;
    }
    int exemptions = 0;

private:
    HRESULT m_result;
    bool m_offered;
};

namespace {

using psttest::TestHelper;

class PstExemption : public psttest::PstTest {};

std::wstring LibraryPath() {
    wchar_t path[520] = {};
    ::GetModuleFileNameW(::GetModuleHandleW(L"Hearthkit.dll"), path, 520);
    return path;
}

TEST_F(PstExemption, RegisteredOnOpenOnlyWhenThePolicyForbidsGrowthAndAllowsOverrides) {
    struct Case {
        const wchar_t* disableGrow; // DWORD, or "s1" for the string "1"; null: absent
        const wchar_t* allowOverrides;
        bool registered;
    } cases[] = {
        {nullptr, nullptr, false}, {L"0", L"1", false},  {L"1", nullptr, false}, {L"1", L"0", false},
        {L"s1", L"1", false},      {L"1", L"s1", false}, {L"2", L"1", false},    {L"1", L"1", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << (c.disableGrow ? hk::test::Narrow(c.disableGrow) : "-") << " "
                                        << (c.allowOverrides ? hk::test::Narrow(c.allowOverrides) : "-"));
        psttest::GrowthPolicy policy;
        for (auto value : {std::make_pair(L"PstDisableGrow", c.disableGrow),
                           std::make_pair(L"PSTDisableGrowAllowAuthenticodeOverrides", c.allowOverrides)}) {
            if (value.second) {
                bool asString = value.second[0] == L's';
                policy.Set(value.first, _wtoi(value.second + asString), asString);
            }
        }
        TestHelper helper(m_session);
        ASSERT_EQ(S_OK, helper.OpenNamedPST(m_dir.File(L"p.pst").c_str(), CDesktopPSTHelperBase::CreateNew));
        CComPtr<IMsgStore> store;
        ASSERT_EQ(S_OK, helper.GetStore(&store));
        wchar_t path[520] = {};
        void* client = reinterpret_cast<void*>(0xdeadbeef);
        HRESULT hr = MapiStandinGetPstOverrideRegistration(store, path, 520, &client);
        if (c.registered) {
            EXPECT_EQ(S_OK, hr);
            EXPECT_EQ(LibraryPath(), path);
            EXPECT_EQ(static_cast<CDesktopPSTHelperBase*>(&helper), client);
        } else {
            EXPECT_EQ(S_FALSE, hr);
        }
    }
    // A provider that refuses the registration does not fail the open.
    psttest::GrowthPolicy policy;
    policy.AllowExemptions();
    MapiStandinFailCall("IPSTOverrideReq::RegisterTrustedPSTOverrideHandler", E_ACCESSDENIED, 1, nullptr);
    TestHelper helper(m_session);
    EXPECT_EQ(S_OK, helper.OpenNamedPST(m_dir.File(L"r.pst").c_str(), CDesktopPSTHelperBase::CreateNew));
}

TEST_F(PstExemption, TheProviderCallsBackAndOnlyTheRegisteringHelpersOpenStoreIsExempted) {
    psttest::GrowthPolicy policy;
    policy.AllowExemptions();
    TestHelper first(m_session);
    CComPtr<IMsgStore> firstStore = OpenStore(first, L"a.pst");
    ASSERT_TRUE(firstStore);
    BOOL exempted = FALSE;
    EXPECT_EQ(S_OK, MapiStandinPlayPstOverride(firstStore, &exempted));
    EXPECT_TRUE(exempted) << "loaded by its path, called by its name, entry ids equal";

    auto second = std::make_unique<TestHelper>(m_session);
    CComPtr<IMsgStore> secondStore = OpenStore(*second, L"b.pst");
    ASSERT_TRUE(secondStore);
    CComPtr<IMAPIFolder> folder;
    ASSERT_EQ(S_OK, first.GetRootFolder(&folder));

    TestOverride granted(S_OK);
    // Another store's entry id, of the same length: no exemption.
    EXPECT_EQ(S_OK, HrTrustedPSTOverrideHandlerCallback(secondStore, &granted, &first));
    // An entry id of another length (a folder's; only the callback's
    // IMAPIProp part is used): no exemption.
    EXPECT_EQ(S_OK,
              HrTrustedPSTOverrideHandlerCallback(reinterpret_cast<IMsgStore*>(folder.p), &granted, &first));
    // Null arguments: nothing done.
    EXPECT_EQ(S_OK, HrTrustedPSTOverrideHandlerCallback(nullptr, &granted, &first));
    EXPECT_EQ(S_OK, HrTrustedPSTOverrideHandlerCallback(firstStore, nullptr, &first));
    EXPECT_EQ(S_OK, HrTrustedPSTOverrideHandlerCallback(firstStore, &granted, nullptr));
    EXPECT_EQ(0, granted.exemptions);
    EXPECT_EQ(S_OK, HrTrustedPSTOverrideHandlerCallback(firstStore, &granted, &first));
    EXPECT_EQ(1, granted.exemptions);

    // The provider's failures come back as the callback's result.
    TestOverride refused(E_ACCESSDENIED);
    EXPECT_EQ(E_ACCESSDENIED, HrTrustedPSTOverrideHandlerCallback(firstStore, &refused, &first));
    TestOverride without(S_OK, false);
    EXPECT_EQ(E_NOINTERFACE, HrTrustedPSTOverrideHandlerCallback(firstStore, &without, &first));

    // The provider calls back on a thread of its own: closing the store
    // meanwhile waits until the callback is done with it.
    MapiStandinDelayCall("IMsgStore::GetProps", 1000); // the callback's read of the helper's store
    std::atomic<bool> done{false};
    const ULONG reads = MapiStandinCallCount("IMsgStore::GetProps");
    std::thread provider([&] {
        EXPECT_EQ(S_OK, HrTrustedPSTOverrideHandlerCallback(firstStore, &granted, &first));
        done = true;
    });
    // Close only once the callback is inside the held-up read, however slow
    // the machine is to start the thread.
    for (int i = 0; i < 1000 && MapiStandinCallCount("IMsgStore::GetProps") == reads; ++i) {
        ::Sleep(10);
    }
    EXPECT_TRUE(first.ClosePST(false));
    EXPECT_TRUE(done) << "the store was released under the callback";
    provider.join();
    EXPECT_EQ(2, granted.exemptions);

    // A helper that is gone, or whose store is closed, is never touched.
    second.reset();
    exempted = TRUE;
    EXPECT_EQ(S_OK, MapiStandinPlayPstOverride(secondStore, &exempted));
    EXPECT_FALSE(exempted);
    exempted = TRUE;
    EXPECT_EQ(S_OK, MapiStandinPlayPstOverride(firstStore, &exempted));
    EXPECT_FALSE(exempted);
}

} // namespace
