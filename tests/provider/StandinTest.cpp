// SHMSPConfig on the MAPI stand-in, reached through the library's loader.
#include "ClientKeys.h"
#include "MapiStandin.h"
#include "ProviderTestEnv.h"

#include <gtest/gtest.h>
#include <functional>

using namespace providertest;

namespace {

const char kProfile[] = "ShmspTest";
const wchar_t kOtherUid[] = L"00112233445566778899AABBCCDDEEFF";

// The HRESULT of the _com_error the call raised, S_OK when none.
HRESULT Raised(const std::function<void()>& call) {
    try {
        call();
    } catch (const _com_error& e) {
        return e.Error();
    }
    return S_OK;
}

} // namespace

class StandinTest : public hk::test::MapiTest {
protected:
    void SetUp() override {
        MapiTest::SetUp();
        hk::test::UseStoreKey(true);
        ::RegDeleteTreeW(HKEY_CURRENT_USER, kClientKey);
        CRegKey store;
        ASSERT_EQ(ERROR_SUCCESS, store.Create(HKEY_CURRENT_USER, kStoreKey));
        ASSERT_TRUE(::CreateDirectoryW((m_dir.Path() + L"\\TESTSTORE").c_str(), nullptr));
        CComPtr<IProfAdmin> profiles;
        ASSERT_EQ(S_OK, MAPIAdminProfiles(0, &profiles));
        profiles->DeleteProfile(const_cast<char*>(kProfile), 0);
        ASSERT_EQ(S_OK, profiles->CreateProfile(const_cast<char*>(kProfile), nullptr, 0, 0));
        Logon(kProfile);
    }
    void ReleaseAll() override { m_session.Release(); }

    void Logon(const char* profile) {
        m_session.Release();
        ASSERT_EQ(S_OK, MAPILogonEx(0, const_cast<char*>(profile), nullptr, MAPI_NEW_SESSION | MAPI_EXTENDED,
                                    &m_session));
        m_profile = hk::test::Widen(profile);
    }
    CComPtr<IMsgServiceAdmin> Admin() const {
        CComPtr<IMsgServiceAdmin> admin;
        EXPECT_EQ(S_OK, m_session->AdminServices(0, &admin));
        return admin;
    }
    std::wstring Mdc(const wchar_t* name) const { return m_dir.Path() + L"\\TESTSTORE\\" + name + L".db"; }
    // The profile's key, or one of its sections.
    std::wstring Section(const std::wstring& hex) const {
        std::wstring path = std::wstring(kProfilesRoot) + L"\\" + m_profile;
        return hex.empty() ? path : path + L"\\" + hex;
    }
    std::wstring ProfileUid() const {
        return Hex(GetBinary(Section(L"13dbb0c8aa05101a9bb000aa002fc45a"), L"01023d0c"), true);
    }

    // The service table as "service name|display name|UID hex" rows.
    std::vector<std::wstring> Services() const {
        CComPtr<IMAPITable> table;
        EXPECT_EQ(S_OK, Admin()->GetMsgServiceTable(0, &table));
        SizedSPropTagArray(3, columns) = {3, {PR_SERVICE_NAME_W, PR_DISPLAY_NAME_W, PR_SERVICE_UID}};
        TidyRowSet rows;
        EXPECT_EQ(S_OK, HrQueryAllRows(table, reinterpret_cast<LPSPropTagArray>(&columns), nullptr, nullptr,
                                       0, rows.put()));
        std::vector<std::wstring> out;
        auto text = [](const SPropValue& v) {
            return PROP_TYPE(v.ulPropTag) == PT_UNICODE ? std::wstring(v.Value.lpszW) : L"error";
        };
        for (ULONG i = 0; rows && i < rows->cRows; ++i) {
            const SPropValue* v = rows->aRow[i].lpProps;
            const SBinary& uid = v[2].Value.bin;
            out.push_back(text(v[0]) + L"|" + text(v[1]) + L"|" +
                          (v[2].ulPropTag == PR_SERVICE_UID ? Hex({uid.lpb, uid.lpb + uid.cb}) : L"error"));
        }
        return out;
    }
    // A service made and configured directly, past SHMSPConfig's checks;
    // answers its UID in hex (the new service is the table's last row).
    std::wstring CreateService(const char* service, const std::wstring& path = L"") const {
        CComPtr<IMsgServiceAdmin> admin = Admin();
        EXPECT_EQ(S_OK, admin->CreateMsgService(const_cast<char*>(service), const_cast<char*>("x"), 0, 0));
        std::wstring hex = Services().back().substr(Services().back().rfind(L'|') + 1);
        if (!path.empty()) {
            std::vector<BYTE> uid;
            EXPECT_EQ(S_OK, HearthkitUtil::HexStrToBinary(hex.c_str(), uid));
            SPropValue value{};
            value.ulPropTag = 0x6700001F;
            value.Value.lpszW = const_cast<wchar_t*>(path.c_str());
            EXPECT_EQ(S_OK,
                      admin->ConfigureMsgService(reinterpret_cast<MAPIUID*>(uid.data()), 0, 0, 1, &value));
        }
        return hex;
    }
    std::wstring RecordKey(const wchar_t* mdcKey) const {
        return std::wstring(kStoreKey) + L"\\" + mdcKey + L"\\Profiles";
    }
    // This profile's record of mdcKey: its DWORD, or a registry error.
    LONG Record(const wchar_t* mdcKey, DWORD* value) const {
        CRegKey key;
        LONG rc = key.Open(HKEY_CURRENT_USER, RecordKey(mdcKey).c_str(), KEY_READ);
        return rc != ERROR_SUCCESS ? rc : key.QueryDWORDValue(ProfileUid().c_str(), *value);
    }
    void SetRecord(const wchar_t* mdcKey, DWORD value, const std::wstring& uid = L"") const {
        CRegKey key;
        ASSERT_EQ(ERROR_SUCCESS, key.Create(HKEY_CURRENT_USER, RecordKey(mdcKey).c_str()));
        key.SetDWORDValue(uid.empty() ? ProfileUid().c_str() : uid.c_str(), value);
    }

    hk::test::TempDir m_dir{L"shmsp"};
    CComPtr<IMAPISession> m_session;
    std::wstring m_profile;
};

TEST_F(StandinTest, AddFindRenameOpenAndRemove) {
    const std::wstring path = Mdc(L"mdc1");
    std::wstring upper = path;
    ::CharUpperW(&upper[0]);
    SHMSPConfig::AddSHMSPService(m_session, L"mdc1", path, L"Archive one");
    ASSERT_EQ(1u, Services().size());
    EXPECT_EQ(0u, Services()[0].find(L"SHMSP|Archive one|"));
    DWORD record = 0xdeadbeef;
    EXPECT_EQ(ERROR_SUCCESS, Record(L"mdc1", &record));
    EXPECT_EQ(1u, record);
    EXPECT_TRUE(SHMSPConfig::SHMSPServiceExists(m_session, upper));
    EXPECT_FALSE(SHMSPConfig::SHMSPServiceExists(m_session, Mdc(L"mdc2")));

    // The same path in other letter case adds nothing and writes no record.
    SetRecord(L"mdc1", 7);
    SHMSPConfig::AddSHMSPService(m_session, L"mdc1", upper, L"Again");
    EXPECT_EQ(1u, MapiStandinCallCount("IMsgServiceAdmin::CreateMsgService"));
    EXPECT_EQ(ERROR_SUCCESS, Record(L"mdc1", &record));
    EXPECT_EQ(7u, record);

    SHMSPConfig::SetSHMSPServiceDisplayName(m_session, upper, L"Renamed");
    SHMSPConfig::SetSHMSPServiceDisplayName(m_session, Mdc(L"none"), L"Nobody");
    EXPECT_EQ(0u, Services()[0].find(L"SHMSP|Renamed|"));

    IMsgStore* store = reinterpret_cast<IMsgStore*>(0xdeadbeef);
    SHMSPConfig::OpenSHMSPMsgStore(m_session, path, &store);
    ASSERT_NE(reinterpret_cast<IMsgStore*>(0xdeadbeef), store);
    TidyMAPIBuffer<SPropValue> name;
    EXPECT_EQ(S_OK, HrGetOneProp(store, PR_DISPLAY_NAME_W, name.put()));
    store->Release();

    // Removing drops the record, also with no instance, unless it is kept
    // or says Off.
    SetRecord(L"mdc1", 1);
    SetRecord(L"off", 0);
    SetRecord(L"kept", 1);
    SHMSPConfig::RemoveSHMSPService(m_session, L"mdc1", upper, false);
    SHMSPConfig::RemoveSHMSPService(m_session, L"off", Mdc(L"off"), false);
    SHMSPConfig::RemoveSHMSPService(m_session, L"kept", Mdc(L"kept"), true);
    EXPECT_EQ(0ul, SHMSPConfig::NumSHMSPServicesInProfile(m_session));
    EXPECT_EQ(1u, MapiStandinCallCount("IMsgServiceAdmin::DeleteMsgService"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, Record(L"mdc1", &record));
    EXPECT_EQ(ERROR_SUCCESS, Record(L"off", &record));
    EXPECT_EQ(0u, record);
    EXPECT_EQ(ERROR_SUCCESS, Record(L"kept", &record));
}

TEST_F(StandinTest, EmptyProfileAndForgettingIt) {
    EXPECT_EQ(0ul, SHMSPConfig::NumSHMSPServicesInProfile(m_session));
    EXPECT_FALSE(SHMSPConfig::SHMSPServiceExists(m_session, Mdc(L"mdc1")));
    IMsgStore* store = reinterpret_cast<IMsgStore*>(0xdeadbeef);
    EXPECT_EQ(MAPI_E_NOT_FOUND,
              Raised([&] { SHMSPConfig::OpenSHMSPMsgStore(m_session, Mdc(L"mdc1"), &store); }));
    EXPECT_EQ(reinterpret_cast<IMsgStore*>(0xdeadbeef), store);

    SetRecord(L"a", 1);
    SetRecord(L"a", 1, kOtherUid);
    SetRecord(L"b", 0);
    DWORD record = 0xdeadbeef;
    SHMSPConfig::RemoveAllSHMSPServices(m_session, false);
    EXPECT_EQ(ERROR_SUCCESS, Record(L"a", &record)) << "kept without forgetting";
    SHMSPConfig::RemoveAllSHMSPServices(m_session, true);
    EXPECT_EQ(0u, MapiStandinCallCount("IMsgServiceAdmin::DeleteMsgService"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, Record(L"a", &record));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, Record(L"b", &record));
    CRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.Open(HKEY_CURRENT_USER, RecordKey(L"a").c_str()));
    EXPECT_EQ(ERROR_SUCCESS, key.QueryDWORDValue(kOtherUid, record)) << "another profile's record stays";
}

TEST_F(StandinTest, TwoInstancesOfOnePathActOnTheFirstInTableOrder) {
    const std::wstring first = CreateService("SHMSP", Mdc(L"same"));
    const std::wstring second = CreateService("SHMSP", Mdc(L"SAME"));
    MAPIUID found{};
    ASSERT_TRUE(SHMSPConfig::GetSHMSPServiceUID(Admin(), Mdc(L"same"), &found));
    EXPECT_EQ(first, Hex({found.ab, found.ab + 16}));
    SHMSPConfig::SetSHMSPServiceDisplayName(m_session, Mdc(L"same"), L"First");
    EXPECT_EQ(L"SHMSP|First|" + first, Services()[0]);
    EXPECT_EQ(L"SHMSP|x|" + second, Services()[1]);
    SHMSPConfig::RemoveSHMSPService(m_session, L"same", Mdc(L"same"), false);
    ASSERT_TRUE(SHMSPConfig::GetSHMSPServiceUID(Admin(), Mdc(L"same"), &found));
    EXPECT_EQ(second, Hex({found.ab, found.ab + 16}));
}

TEST_F(StandinTest, ServicesThatNoLookupMatches) {
    // Each names "x": one has no SHMSP provider, one has two, and one row's
    // UID column is an error.
    const std::wstring none = CreateService("SHMSP", Mdc(L"x"));
    const std::wstring two = CreateService("SHMSP", Mdc(L"x"));
    const std::wstring broken = CreateService("SHMSP", Mdc(L"x"));
    auto providers = GetBinary(Section(two), L"01023d00");
    auto moved = GetBinary(Section(none), L"01023d00");
    providers.insert(providers.end(), moved.begin(), moved.end());
    SetBinary(Section(two), L"01023d00", providers);
    SetBinary(Section(none), L"01023d00", {});
    CRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.Open(HKEY_CURRENT_USER, Section(broken).c_str()));
    ASSERT_EQ(ERROR_SUCCESS, key.DeleteValue(L"01023d0c"));
    EXPECT_EQ(3ul, SHMSPConfig::NumSHMSPServicesInProfile(m_session)) << "the error row counts";
    EXPECT_FALSE(SHMSPConfig::SHMSPServiceExists(m_session, Mdc(L"x")));

    // Adding "x" makes a fourth service: the error row is not taken for it.
    SHMSPConfig::AddSHMSPService(m_session, L"x", Mdc(L"x"), L"New");
    ASSERT_EQ(4u, Services().size());
    EXPECT_EQ(0u, Services()[3].find(L"SHMSP|New|"));
    SHMSPConfig::RemoveAllSHMSPServices(m_session, false);
    EXPECT_EQ(3u, MapiStandinCallCount("IMsgServiceAdmin::DeleteMsgService"));
    EXPECT_EQ(std::vector<std::wstring>{L"SHMSP|x|error"}, Services());
}

TEST_F(StandinTest, MapiFailuresAreRaisedWithTheirHResult) {
    CreateService("SHMSP"); // a provider section without the MDC path
    EXPECT_EQ(MAPI_E_NOT_FOUND, Raised([&] { SHMSPConfig::SHMSPServiceExists(m_session, Mdc(L"a")); }));
    SHMSPConfig::RemoveAllSHMSPServices(m_session, false);

    MapiStandinFailCall("IMsgServiceAdmin::CreateMsgService", MAPI_E_NO_ACCESS, 1, nullptr);
    EXPECT_EQ(MAPI_E_NO_ACCESS,
              Raised([&] { SHMSPConfig::AddSHMSPService(m_session, L"a", Mdc(L"a"), L"A"); }));
    MapiStandinFailCall("IMsgServiceAdmin::ConfigureMsgService", MAPI_E_CALL_FAILED, 1, nullptr);
    EXPECT_EQ(MAPI_E_CALL_FAILED,
              Raised([&] { SHMSPConfig::AddSHMSPService(m_session, L"a", Mdc(L"a"), L"A"); }));
    DWORD record = 0xdeadbeef;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, Record(L"a", &record));
    EXPECT_EQ(1ul, SHMSPConfig::NumSHMSPServicesInProfile(m_session)) << "the instance made stays";
    SHMSPConfig::RemoveAllSHMSPServices(m_session, false);

    SHMSPConfig::AddSHMSPService(m_session, L"b", Mdc(L"b"), L"B");
    for (const char* call : {"IProviderAdmin::OpenProfileSection", "IMAPISession::OpenMsgStore"}) {
        MapiStandinFailCall(call, MAPI_E_CALL_FAILED, 1, nullptr);
        CComPtr<IMsgStore> store;
        EXPECT_EQ(MAPI_E_CALL_FAILED,
                  Raised([&] { SHMSPConfig::OpenSHMSPMsgStore(m_session, Mdc(L"b"), &store); }))
            << call;
    }
}

TEST_F(StandinTest, ProfileUidRecordsAndProfileNameList) {
    std::wstring uid = L"unset";
    ASSERT_TRUE(SHMSPConfig::GetProfileUID(m_session, uid));
    EXPECT_EQ(ProfileUid(), uid);
    std::vector<BYTE> service;
    HearthkitUtil::HexStrToBinary(CreateService("SHMSP").c_str(), service);
    CComPtr<IProviderAdmin> providers;
    ASSERT_EQ(S_OK, Admin()->AdminProviders(reinterpret_cast<MAPIUID*>(service.data()), 0, &providers));
    std::wstring other;
    ASSERT_TRUE(SHMSPConfig::GetProfileUID(providers, other));
    EXPECT_EQ(uid, other);
    EXPECT_FALSE(SHMSPConfig::GetProfileUID(nullptr, other));
    CComPtr<IMAPITable> table;
    ASSERT_EQ(S_OK, m_session->GetMsgStoresTable(0, &table));
    EXPECT_EQ(E_NOINTERFACE, Raised([&] { SHMSPConfig::GetProfileUID(table, other); }));

    // DWORD 0 reads Off and still counts as configured; other numbers and
    // string records read as no record.
    SHMSPConfig::SetSHMSPProfileConfiguration(providers, L"k", SHMSPProfileConfigOff);
    EXPECT_EQ(SHMSPProfileConfigOff, SHMSPConfig::GetSHMSPProfileConfiguration(m_session, L"k"));
    EXPECT_TRUE(SHMSPConfig::IsSHMSPConfiguredInProfile(m_session));
    SetRecord(L"k", 5);
    EXPECT_EQ(SHMSPProfileConfigNone, SHMSPConfig::GetSHMSPProfileConfiguration(m_session, L"k"));
    SHMSPConfig::SetSHMSPProfileConfiguration(m_session, L"k", SHMSPProfileConfigNone);
    CRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.Create(HKEY_CURRENT_USER, RecordKey(L"s").c_str()));
    key.SetStringValue(uid.c_str(), L"1");
    EXPECT_EQ(SHMSPProfileConfigNone, SHMSPConfig::GetSHMSPProfileConfiguration(m_session, L"s"));
    EXPECT_FALSE(SHMSPConfig::IsSHMSPConfiguredInProfile(m_session));

    HearthkitConfig::SetHoardviewConfiguredProfiles(L"Other");
    SHMSPConfig::SetSHMSPConfiguredInProfileV8SP3(m_session, true);
    CStringW list;
    HearthkitConfig::GetHoardviewConfiguredProfiles(list);
    EXPECT_EQ(L"Other\\ShmspTest", std::wstring(list.GetString()));
    EXPECT_TRUE(SHMSPConfig::IsSHMSPConfiguredInProfileV8SP3(m_session));
    SHMSPConfig::SetSHMSPConfiguredInProfileV8SP3(m_session, false);
    EXPECT_FALSE(SHMSPConfig::IsSHMSPConfiguredInProfileV8SP3(m_session));
    MapiStandinFailCall("HrGetOneProp", MAPI_E_NOT_FOUND, 1, nullptr);
    EXPECT_EQ(MAPI_E_NOT_FOUND,
              Raised([&] { SHMSPConfig::SetSHMSPConfiguredInProfileV8SP3(m_session, true); }));
    HearthkitConfig::GetHoardviewConfiguredProfiles(list);
    EXPECT_EQ(L"Other", std::wstring(list.GetString()));
}

TEST_F(StandinTest, NullSessionAdminObjectOrOutPointerRaisesEPointer) {
    IMAPISession* const noSession = nullptr;
    const std::wstring mdc = Mdc(L"a");
    SRowSet* rows = nullptr;
    MAPIUID uid{};
    IMsgStore* store = nullptr;
    const std::pair<const char*, std::function<void()>> calls[] = {
        {"GetSHMSPServices", [&] { SHMSPConfig::GetSHMSPServices(nullptr, &rows); }},
        {"GetSHMSPServices rows", [&] { SHMSPConfig::GetSHMSPServices(Admin(), nullptr); }},
        {"GetSHMSPServiceUID", [&] { SHMSPConfig::GetSHMSPServiceUID(nullptr, mdc, &uid); }},
        {"GetSHMSPServiceUID uid", [&] { SHMSPConfig::GetSHMSPServiceUID(Admin(), mdc, nullptr); }},
        {"NumSHMSPServicesInProfile", [&] { SHMSPConfig::NumSHMSPServicesInProfile(noSession); }},
        {"SHMSPServiceExists", [&] { SHMSPConfig::SHMSPServiceExists(noSession, mdc); }},
        {"AddSHMSPService", [&] { SHMSPConfig::AddSHMSPService(noSession, L"a", mdc, L"A"); }},
        {"RemoveSHMSPService", [&] { SHMSPConfig::RemoveSHMSPService(noSession, L"a", mdc, false); }},
        {"RemoveAllSHMSPServices", [&] { SHMSPConfig::RemoveAllSHMSPServices(noSession, true); }},
        {"SetSHMSPServiceDisplayName",
         [&] { SHMSPConfig::SetSHMSPServiceDisplayName(noSession, mdc, L"A"); }},
        {"OpenSHMSPMsgStore", [&] { SHMSPConfig::OpenSHMSPMsgStore(noSession, mdc, &store); }},
        {"OpenSHMSPMsgStore store", [&] { SHMSPConfig::OpenSHMSPMsgStore(m_session, mdc, nullptr); }},
        {"IsSHMSPConfiguredInProfileV8SP3", [&] { SHMSPConfig::IsSHMSPConfiguredInProfileV8SP3(noSession); }},
        {"SetSHMSPConfiguredInProfileV8SP3",
         [&] { SHMSPConfig::SetSHMSPConfiguredInProfileV8SP3(noSession, true); }},
    };
    SHMSPConfig::AddSHMSPService(m_session, L"a", mdc, L"A"); // so that a missing check reaches the store
    for (const auto& call : calls) {
        EXPECT_EQ(E_POINTER, Raised(call.second)) << call.first;
    }
}
