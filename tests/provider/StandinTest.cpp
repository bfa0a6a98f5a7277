// SHMSPConfig on the MAPI stand-in, reached through the library's loader.
// The loader binds MAPI while Hearthkit.dll loads, so these tests run in a
// process of their own started after the stand-in was registered
// (Provider.OnTheMapiStandin); in the first process they are skipped.
#include "ProviderTestEnv.h"
#include "tests/config/ConfigTestEnv.h"
#include "Scenario.h"

#include "tests/mapistandin/MapiStandinFixture.h"

#include <gtest/gtest.h>
#include <mapicode.h>

#include <functional>

using namespace providertest;

namespace {

bool g_standinProcess = false;

const wchar_t kProfile[] = L"ShmspTest";
const char kProfileA[] = "ShmspTest";
const ULONG kTagMdcPath = 0x6700001F;
const ULONG kTagServiceUid = 0x3D0C0102;
const ULONG kTagServiceName = 0x3D09001F;
const ULONG kTagDisplayName = 0x3001001F;
const wchar_t kGlobalSection[] = L"13dbb0c8aa05101a9bb000aa002fc45a";

// The HRESULT of the _com_error the call raised, S_OK when none.
HRESULT Raised(const std::function<void()>& call) {
    try {
        call();
    } catch (const _com_error& e) {
        return e.Error();
    }
    return S_OK;
}

std::string UidText(const MAPIUID& uid) {
    return hk::test::Narrow(Hex(std::vector<BYTE>(uid.ab, uid.ab + 16)));
}

} // namespace

HK_SCENARIO(ProviderOnStandin) {
    g_standinProcess = true;
    std::string filter = "--gtest_filter=StandinTest.*";
    char program[] = "hk_provider_tests";
    char* argv[] = {program, &filter[0], nullptr};
    int argc = 2;
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

TEST(Provider, OnTheMapiStandin) {
    hk::test::RegistryKeyGuard outlook(HKEY_LOCAL_MACHINE, L"Software\\Clients\\Mail\\Microsoft Outlook");
    hk::test::RegistryKeyGuard profiles(HKEY_CURRENT_USER, kProfilesRoot);
    hk::test::RegistryKeyGuard client(HKEY_CURRENT_USER, kClientKey);
    ASSERT_EQ(S_OK, mapitest::Api().Register(nullptr));
    auto run = hk::test::RunScenario("ProviderOnStandin", {}, 300000);
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(0u, run.exitCode) << run.output;
    if (getenv("HK_SHOW_STANDIN_RUN")) {
        std::printf("%s", run.output.c_str());
    }
}

class StandinTest : public mapitest::LeakCheckedTest {
protected:
    void SetUp() override {
        if (!g_standinProcess) {
            GTEST_SKIP() << "runs in the stand-in's process (Provider.OnTheMapiStandin)";
        }
        LeakCheckedTest::SetUp();
        configtest::UseStoreKey(true);
        ::RegDeleteTreeW(HKEY_CURRENT_USER, kClientKey);
        CRegKey store;
        ASSERT_EQ(ERROR_SUCCESS, store.Create(HKEY_CURRENT_USER, kStoreKey));
        ASSERT_TRUE(::CreateDirectoryW((m_dir.Path() + L"\\TESTSTORE").c_str(), nullptr));
        CreateProfile(kProfileA);
        m_session = Logon(kProfileA);
        ASSERT_TRUE(m_session);
    }
    void Release() override { m_session.Release(); }

    static void CreateProfile(const char* name) {
        CComPtr<IProfAdmin> admin;
        ASSERT_EQ(S_OK, MAPIAdminProfiles(0, &admin));
        admin->DeleteProfile(const_cast<char*>(name), 0);
        ASSERT_EQ(S_OK, admin->CreateProfile(const_cast<char*>(name), nullptr, 0, 0));
    }
    static CComPtr<IMAPISession> Logon(const char* name) {
        CComPtr<IMAPISession> session;
        EXPECT_EQ(S_OK, MAPILogonEx(0, const_cast<char*>(name), nullptr, MAPI_NEW_SESSION | MAPI_EXTENDED,
                                    &session));
        return session;
    }
    CComPtr<IMsgServiceAdmin> Admin() const {
        CComPtr<IMsgServiceAdmin> admin;
        EXPECT_EQ(S_OK, m_session->AdminServices(0, &admin));
        return admin;
    }
    std::wstring Mdc(const wchar_t* name) const { return m_dir.Path() + L"\\TESTSTORE\\" + name + L".db"; }

    // Rows of the service table: "service name|display name|UID".
    std::vector<std::string> Services() const {
        CComPtr<IMAPITable> table;
        EXPECT_EQ(S_OK, Admin()->GetMsgServiceTable(0, &table));
        SizedSPropTagArray(3, columns) = {3, {kTagServiceName, kTagDisplayName, kTagServiceUid}};
        TidyRowSet rows;
        EXPECT_EQ(S_OK, HrQueryAllRows(table, reinterpret_cast<LPSPropTagArray>(&columns), nullptr, nullptr,
                                       0, rows.put()));
        std::vector<std::string> out;
        for (ULONG i = 0; rows && i < rows->cRows; ++i) {
            const SPropValue* v = rows->aRow[i].lpProps;
            std::string line;
            line += v[0].ulPropTag == kTagServiceName ? hk::test::Narrow(v[0].Value.lpszW) : "?";
            line += "|";
            line += v[1].ulPropTag == kTagDisplayName ? hk::test::Narrow(v[1].Value.lpszW) : "?";
            line += "|";
            line += v[2].ulPropTag == kTagServiceUid
                        ? UidText(*reinterpret_cast<MAPIUID*>(v[2].Value.bin.lpb))
                        : "error";
            out.push_back(line);
        }
        return out;
    }
    // A service created and configured directly, past SHMSPConfig's checks;
    // the new service is the table's last row.
    MAPIUID CreateService(const char* service, const std::wstring& path = L"") const {
        CComPtr<IMsgServiceAdmin> admin = Admin();
        EXPECT_EQ(S_OK, admin->CreateMsgService(const_cast<char*>(service), const_cast<char*>("x"), 0, 0));
        CComPtr<IMAPITable> table;
        EXPECT_EQ(S_OK, admin->GetMsgServiceTable(0, &table));
        SizedSPropTagArray(1, columns) = {1, {kTagServiceUid}};
        TidyRowSet rows;
        EXPECT_EQ(S_OK, HrQueryAllRows(table, reinterpret_cast<LPSPropTagArray>(&columns), nullptr, nullptr,
                                       0, rows.put()));
        MAPIUID uid{};
        memcpy(uid.ab, rows->aRow[rows->cRows - 1].lpProps[0].Value.bin.lpb, 16);
        if (!path.empty()) {
            SPropValue value{};
            value.ulPropTag = kTagMdcPath;
            value.Value.lpszW = const_cast<wchar_t*>(path.c_str());
            EXPECT_EQ(S_OK, admin->ConfigureMsgService(&uid, 0, 0, 1, &value));
        }
        return uid;
    }
    std::wstring SectionKey(const MAPIUID& uid, const char* profile = kProfileA) const {
        return std::wstring(kProfilesRoot) + L"\\" + hk::test::Widen(profile) + L"\\" +
               Hex(std::vector<BYTE>(uid.ab, uid.ab + 16));
    }
    std::wstring ProfileUid(const char* profile = kProfileA) const {
        return Hex(
            GetBinary(std::wstring(kProfilesRoot) + L"\\" + hk::test::Widen(profile) + L"\\" + kGlobalSection,
                      L"01023d0c"),
            true);
    }
    // The record of mdcKey for this profile: its DWORD, or a LONG error.
    LONG Record(const wchar_t* mdcKey, DWORD* value) const {
        CRegKey key;
        LONG rc = key.Open(HKEY_CURRENT_USER,
                           (std::wstring(kStoreKey) + L"\\" + mdcKey + L"\\Profiles").c_str(), KEY_READ);
        return rc != ERROR_SUCCESS ? rc : key.QueryDWORDValue(ProfileUid().c_str(), *value);
    }
    void SetRecord(const wchar_t* mdcKey, const std::wstring& uid, DWORD value) const {
        CRegKey key;
        ASSERT_EQ(ERROR_SUCCESS,
                  key.Create(HKEY_CURRENT_USER,
                             (std::wstring(kStoreKey) + L"\\" + mdcKey + L"\\Profiles").c_str()));
        key.SetDWORDValue(uid.c_str(), value);
    }

    hk::test::TempDir m_dir{L"shmsp"};
    CComPtr<IMAPISession> m_session;
};

TEST_F(StandinTest, AddFindRenameOpenAndRemoveOneInstance) {
    const std::wstring path = Mdc(L"mdc1");
    SHMSPConfig::AddSHMSPService(m_session, L"mdc1", path, L"Archive one");
    EXPECT_EQ(1ul, SHMSPConfig::NumSHMSPServicesInProfile(m_session));
    auto services = Services();
    ASSERT_EQ(1u, services.size());
    EXPECT_EQ(0u, services[0].find("SHMSP|Archive one|"));
    DWORD record = 0xdeadbeef;
    EXPECT_EQ(ERROR_SUCCESS, Record(L"mdc1", &record));
    EXPECT_EQ(1u, record);

    std::wstring upper = path;
    for (wchar_t& c : upper) {
        c = towupper(c);
    }
    EXPECT_TRUE(SHMSPConfig::SHMSPServiceExists(m_session, upper));
    EXPECT_FALSE(SHMSPConfig::SHMSPServiceExists(m_session, Mdc(L"mdc2")));

    // The same path in other letter case adds nothing and writes no record.
    SetRecord(L"mdc1", ProfileUid(), 7);
    ULONG creates = mapitest::Api().CallCount("IMsgServiceAdmin::CreateMsgService");
    SHMSPConfig::AddSHMSPService(m_session, L"mdc1", upper, L"Again");
    EXPECT_EQ(creates, mapitest::Api().CallCount("IMsgServiceAdmin::CreateMsgService"));
    EXPECT_EQ(ERROR_SUCCESS, Record(L"mdc1", &record));
    EXPECT_EQ(7u, record);

    SHMSPConfig::SetSHMSPServiceDisplayName(m_session, upper, L"Renamed");
    EXPECT_EQ(0u, Services()[0].find("SHMSP|Renamed|"));
    SHMSPConfig::SetSHMSPServiceDisplayName(m_session, Mdc(L"none"), L"Nobody");
    EXPECT_EQ(0u, Services()[0].find("SHMSP|Renamed|"));

    IMsgStore* store = reinterpret_cast<IMsgStore*>(0xdeadbeef);
    SHMSPConfig::OpenSHMSPMsgStore(m_session, path, &store);
    ASSERT_NE(reinterpret_cast<IMsgStore*>(0xdeadbeef), store);
    ASSERT_NE(nullptr, store);
    TidyMAPIBuffer<SPropValue> name;
    EXPECT_EQ(S_OK, HrGetOneProp(store, PR_DISPLAY_NAME_W, name.put()));
    store->Release();

    SetRecord(L"mdc1", ProfileUid(), 1);
    SHMSPConfig::RemoveSHMSPService(m_session, L"mdc1", upper, false);
    EXPECT_EQ(0ul, SHMSPConfig::NumSHMSPServicesInProfile(m_session));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, Record(L"mdc1", &record));
}

TEST_F(StandinTest, RemovingAnAbsentInstanceKeepsOffAndKeptRecords) {
    const std::wstring uid = ProfileUid();
    DWORD record = 0xdeadbeef;
    SetRecord(L"off", uid, 0);
    SetRecord(L"kept", uid, 1);
    SetRecord(L"gone", uid, 1);
    SHMSPConfig::RemoveSHMSPService(m_session, L"off", Mdc(L"off"), false);
    SHMSPConfig::RemoveSHMSPService(m_session, L"kept", Mdc(L"kept"), true);
    SHMSPConfig::RemoveSHMSPService(m_session, L"gone", Mdc(L"gone"), false);
    EXPECT_EQ(ERROR_SUCCESS, Record(L"off", &record));
    EXPECT_EQ(0u, record);
    EXPECT_EQ(ERROR_SUCCESS, Record(L"kept", &record));
    EXPECT_EQ(1u, record);
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, Record(L"gone", &record));
    EXPECT_EQ(0u, mapitest::Api().CallCount("IMsgServiceAdmin::DeleteMsgService"));
}

TEST_F(StandinTest, EmptyProfileAndForgettingIt) {
    EXPECT_EQ(0ul, SHMSPConfig::NumSHMSPServicesInProfile(m_session));
    EXPECT_FALSE(SHMSPConfig::SHMSPServiceExists(m_session, Mdc(L"mdc1")));
    IMsgStore* store = reinterpret_cast<IMsgStore*>(0xdeadbeef);
    EXPECT_EQ(MAPI_E_NOT_FOUND,
              Raised([&] { SHMSPConfig::OpenSHMSPMsgStore(m_session, Mdc(L"mdc1"), &store); }));
    EXPECT_EQ(reinterpret_cast<IMsgStore*>(0xdeadbeef), store);

    const std::wstring uid = ProfileUid();
    const wchar_t other[] = L"00112233445566778899AABBCCDDEEFF";
    SetRecord(L"a", uid, 1);
    SetRecord(L"a", other, 1);
    SetRecord(L"b", uid, 0);
    SHMSPConfig::RemoveAllSHMSPServices(m_session, false);
    DWORD record = 0xdeadbeef;
    EXPECT_EQ(ERROR_SUCCESS, Record(L"a", &record)) << "kept without forgetting";
    SHMSPConfig::RemoveAllSHMSPServices(m_session, true);
    EXPECT_EQ(0u, mapitest::Api().CallCount("IMsgServiceAdmin::DeleteMsgService"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, Record(L"a", &record));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, Record(L"b", &record));
    CRegKey key;
    ASSERT_EQ(ERROR_SUCCESS,
              key.Open(HKEY_CURRENT_USER, (std::wstring(kStoreKey) + L"\\a\\Profiles").c_str()));
    EXPECT_EQ(ERROR_SUCCESS, key.QueryDWORDValue(other, record)) << "another profile's record stays";
}

TEST_F(StandinTest, TwoInstancesOfOnePathActOnTheFirstInTableOrder) {
    const MAPIUID first = CreateService("SHMSP", Mdc(L"same"));
    const MAPIUID second = CreateService("SHMSP", Mdc(L"SAME"));
    CreateService("SHMSP", Mdc(L"other"));
    CComPtr<IMsgServiceAdmin> admin = Admin();
    MAPIUID found{};
    ASSERT_TRUE(SHMSPConfig::GetSHMSPServiceUID(admin, Mdc(L"same"), &found));
    EXPECT_EQ(UidText(first), UidText(found));

    SHMSPConfig::SetSHMSPServiceDisplayName(m_session, Mdc(L"same"), L"First");
    auto services = Services();
    EXPECT_NE(std::string::npos, services[0].find("|First|"));
    EXPECT_EQ(std::string::npos, services[1].find("|First|"));

    IMsgStore* store = nullptr;
    SHMSPConfig::OpenSHMSPMsgStore(m_session, Mdc(L"same"), &store);
    ASSERT_NE(nullptr, store);
    store->Release();

    SHMSPConfig::RemoveSHMSPService(m_session, L"same", Mdc(L"same"), false);
    EXPECT_EQ(2ul, SHMSPConfig::NumSHMSPServicesInProfile(m_session));
    ASSERT_TRUE(SHMSPConfig::GetSHMSPServiceUID(admin, Mdc(L"same"), &found));
    EXPECT_EQ(UidText(second), UidText(found));
}

TEST_F(StandinTest, ServicesThatNoLookupMatches) {
    // No SHMSP provider, two SHMSP providers, and a row whose UID column is
    // an error: none serves "x", though each names it.
    const MAPIUID none = CreateService("SHMSP", Mdc(L"x"));
    const MAPIUID two = CreateService("SHMSP", Mdc(L"x"));
    const MAPIUID broken = CreateService("SHMSP", Mdc(L"x"));
    auto ownProviders = GetBinary(SectionKey(two), L"01023d00");
    auto noneProviders = GetBinary(SectionKey(none), L"01023d00");
    ownProviders.insert(ownProviders.end(), noneProviders.begin(), noneProviders.end());
    SetBinary(SectionKey(two), L"01023d00", ownProviders);
    SetBinary(SectionKey(none), L"01023d00", {});
    {
        CRegKey key;
        ASSERT_EQ(ERROR_SUCCESS, key.Open(HKEY_CURRENT_USER, SectionKey(broken).c_str()));
        ASSERT_EQ(ERROR_SUCCESS, key.DeleteValue(L"01023d0c"));
    }
    EXPECT_EQ(3ul, SHMSPConfig::NumSHMSPServicesInProfile(m_session)) << "the error row counts";
    EXPECT_FALSE(SHMSPConfig::SHMSPServiceExists(m_session, Mdc(L"x")));

    // Adding "x" creates a fourth service: the error row is not taken for
    // the new one.
    SHMSPConfig::AddSHMSPService(m_session, L"x", Mdc(L"x"), L"New");
    auto services = Services();
    ASSERT_EQ(4u, services.size());
    EXPECT_EQ(0u, services[3].find("SHMSP|New|"));
    EXPECT_TRUE(SHMSPConfig::SHMSPServiceExists(m_session, Mdc(L"x")));

    SHMSPConfig::RemoveAllSHMSPServices(m_session, false);
    EXPECT_EQ(3u, mapitest::Api().CallCount("IMsgServiceAdmin::DeleteMsgService"));
    services = Services();
    ASSERT_EQ(1u, services.size());
    EXPECT_NE(std::string::npos, services[0].find("|error")) << services[0];
}

TEST_F(StandinTest, MapiFailuresAreRaisedWithTheirHResult) {
    CreateService("SHMSP"); // a provider section without the MDC path
    EXPECT_EQ(MAPI_E_NOT_FOUND, Raised([&] { SHMSPConfig::SHMSPServiceExists(m_session, Mdc(L"a")); }));
    SHMSPConfig::RemoveAllSHMSPServices(m_session, false);

    mapitest::Api().FailCall("IMsgServiceAdmin::CreateMsgService", MAPI_E_NO_ACCESS, 1, nullptr);
    EXPECT_EQ(MAPI_E_NO_ACCESS,
              Raised([&] { SHMSPConfig::AddSHMSPService(m_session, L"a", Mdc(L"a"), L"A"); }));
    DWORD record = 0xdeadbeef;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, Record(L"a", &record));

    const struct {
        const char* call;
        std::function<void()> operation;
    } cases[] = {
        {"IMAPISession::AdminServices", [&] { SHMSPConfig::NumSHMSPServicesInProfile(m_session); }},
        {"IMsgServiceAdmin::GetMsgServiceTable",
         [&] { SHMSPConfig::RemoveAllSHMSPServices(m_session, true); }},
        {"HrQueryAllRows", [&] { SHMSPConfig::SHMSPServiceExists(m_session, Mdc(L"b")); }},
        {"IProviderAdmin::GetProviderTable", [&] { SHMSPConfig::SHMSPServiceExists(m_session, Mdc(L"b")); }},
        {"IProviderAdmin::OpenProfileSection",
         [&] { SHMSPConfig::SetSHMSPServiceDisplayName(m_session, Mdc(L"b"), L"B"); }},
        {"IMsgServiceAdmin::DeleteMsgService",
         [&] { SHMSPConfig::RemoveSHMSPService(m_session, L"b", Mdc(L"b"), false); }},
        {"IMsgServiceAdmin::ConfigureMsgService",
         [&] { SHMSPConfig::AddSHMSPService(m_session, L"c", Mdc(L"c"), L"C"); }},
        {"IMAPISession::GetMsgStoresTable",
         [&] {
             CComPtr<IMsgStore> store;
             SHMSPConfig::OpenSHMSPMsgStore(m_session, Mdc(L"b"), &store);
         }},
        {"IMAPISession::OpenMsgStore",
         [&] {
             CComPtr<IMsgStore> store;
             SHMSPConfig::OpenSHMSPMsgStore(m_session, Mdc(L"b"), &store);
         }},
    };
    SHMSPConfig::AddSHMSPService(m_session, L"b", Mdc(L"b"), L"B");
    for (const auto& c : cases) {
        mapitest::Api().FailCall(c.call, MAPI_E_CALL_FAILED, 1, nullptr);
        EXPECT_EQ(MAPI_E_CALL_FAILED, Raised(c.operation)) << c.call;
        mapitest::Api().FailCall(c.call, S_OK, 0, nullptr);
    }
    // A failed configuration leaves the created instance, and no record.
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, Record(L"c", &record));
}

TEST_F(StandinTest, ProfileUidAndConfigurationRecords) {
    std::wstring uid = L"unset";
    ASSERT_TRUE(SHMSPConfig::GetProfileUID(m_session, uid));
    EXPECT_EQ(ProfileUid(), uid);
    EXPECT_EQ(32u, uid.size());
    CComPtr<IProviderAdmin> providers;
    const MAPIUID service = CreateService("SHMSP", Mdc(L"p"));
    ASSERT_EQ(S_OK, Admin()->AdminProviders(const_cast<MAPIUID*>(&service), 0, &providers));
    std::wstring fromProviders;
    ASSERT_TRUE(SHMSPConfig::GetProfileUID(providers, fromProviders));
    EXPECT_EQ(uid, fromProviders);
    EXPECT_FALSE(SHMSPConfig::GetProfileUID(nullptr, fromProviders));
    CComPtr<IMAPITable> table;
    ASSERT_EQ(S_OK, m_session->GetMsgStoresTable(0, &table));
    EXPECT_EQ(E_NOINTERFACE, Raised([&] { SHMSPConfig::GetProfileUID(table, fromProviders); }));
    mapitest::Api().FailCall("IMAPISession::OpenProfileSection", MAPI_E_CALL_FAILED, 1, nullptr);
    EXPECT_FALSE(SHMSPConfig::GetProfileUID(m_session, fromProviders));

    // Records: On and Off are read back, None removes; DWORD 0 still counts
    // as configured; a string record is no record.
    EXPECT_FALSE(SHMSPConfig::IsSHMSPConfiguredInProfile(m_session));
    EXPECT_EQ(SHMSPProfileConfigNone, SHMSPConfig::GetSHMSPProfileConfiguration(m_session, L"k"));
    SHMSPConfig::SetSHMSPProfileConfiguration(providers, L"k", SHMSPProfileConfigOff);
    EXPECT_EQ(SHMSPProfileConfigOff, SHMSPConfig::GetSHMSPProfileConfiguration(m_session, L"k"));
    EXPECT_TRUE(SHMSPConfig::IsSHMSPConfiguredInProfile(m_session));
    SHMSPConfig::SetSHMSPProfileConfiguration(m_session, L"k", SHMSPProfileConfigOn);
    EXPECT_EQ(SHMSPProfileConfigOn, SHMSPConfig::GetSHMSPProfileConfiguration(m_session, L"k"));
    SetRecord(L"k", uid, 5);
    EXPECT_EQ(SHMSPProfileConfigNone, SHMSPConfig::GetSHMSPProfileConfiguration(m_session, L"k"));
    SHMSPConfig::SetSHMSPProfileConfiguration(m_session, L"k", SHMSPProfileConfigNone);
    EXPECT_FALSE(SHMSPConfig::IsSHMSPConfiguredInProfile(m_session));
    {
        CRegKey key;
        ASSERT_EQ(ERROR_SUCCESS,
                  key.Create(HKEY_CURRENT_USER, (std::wstring(kStoreKey) + L"\\s\\Profiles").c_str()));
        key.SetStringValue(uid.c_str(), L"1");
    }
    EXPECT_EQ(SHMSPProfileConfigNone, SHMSPConfig::GetSHMSPProfileConfiguration(m_session, L"s"));
    EXPECT_FALSE(SHMSPConfig::IsSHMSPConfiguredInProfile(m_session));

    // Without a store key there is nothing to read or write.
    SetRecord(L"k", uid, 1);
    configtest::UseStoreKey(false);
    EXPECT_EQ(SHMSPProfileConfigNone, SHMSPConfig::GetSHMSPProfileConfiguration(m_session, L"k"));
    EXPECT_FALSE(SHMSPConfig::IsSHMSPConfiguredInProfile(m_session));
    SHMSPConfig::SetSHMSPProfileConfiguration(m_session, L"k", SHMSPProfileConfigNone);
    configtest::UseStoreKey(true);
    EXPECT_EQ(SHMSPProfileConfigOn, SHMSPConfig::GetSHMSPProfileConfiguration(m_session, L"k"));
}

TEST_F(StandinTest, ProfileNameList) {
    HearthkitConfig::SetHoardviewConfiguredProfiles(L"Other");
    EXPECT_FALSE(SHMSPConfig::IsSHMSPConfiguredInProfileV8SP3(m_session));
    SHMSPConfig::SetSHMSPConfiguredInProfileV8SP3(m_session, true);
    SHMSPConfig::SetSHMSPConfiguredInProfileV8SP3(m_session, true);
    CStringW list;
    HearthkitConfig::GetHoardviewConfiguredProfiles(list);
    EXPECT_EQ(L"Other\\ShmspTest\\ShmspTest", std::wstring(list.GetString()));
    EXPECT_TRUE(SHMSPConfig::IsSHMSPConfiguredInProfileV8SP3(m_session));
    SHMSPConfig::SetSHMSPConfiguredInProfileV8SP3(m_session, false);
    HearthkitConfig::GetHoardviewConfiguredProfiles(list);
    EXPECT_EQ(L"Other", std::wstring(list.GetString()));
    EXPECT_FALSE(SHMSPConfig::IsSHMSPConfiguredInProfileV8SP3(m_session));

    mapitest::Api().FailCall("IMAPISession::OpenProfileSection", MAPI_E_CALL_FAILED, 1, nullptr);
    EXPECT_EQ(MAPI_E_CALL_FAILED, Raised([&] { SHMSPConfig::IsSHMSPConfiguredInProfileV8SP3(m_session); }));
    mapitest::Api().FailCall("HrGetOneProp", MAPI_E_NOT_FOUND, 1, nullptr);
    EXPECT_EQ(MAPI_E_NOT_FOUND,
              Raised([&] { SHMSPConfig::SetSHMSPConfiguredInProfileV8SP3(m_session, true); }));
    HearthkitConfig::GetHoardviewConfiguredProfiles(list);
    EXPECT_EQ(L"Other", std::wstring(list.GetString()));
}

// A profile built through MAPI, cleaned in the registry alone.
TEST_F(StandinTest, RegistryCleanupOfAProfileBuiltThroughMapi) {
    const char kMailbox[] = "ShmspMailbox";
    const std::wstring mailboxKey = std::wstring(kProfilesRoot) + L"\\ShmspMailbox";
    MapiStandinMailbox mailbox = {L"user1", L"User One", nullptr, FALSE, FALSE, FALSE};
    ASSERT_EQ(S_OK, mapitest::Api().CreateMailboxProfile(L"ShmspMailbox", &mailbox));
    m_session = Logon(kMailbox);
    ASSERT_TRUE(m_session);
    CreateService("MSUPST MS", m_dir.Path() + L"\\one.pst");
    SHMSPConfig::AddSHMSPService(m_session, L"mdc1", Mdc(L"mdc1"), L"Hoardview 1");
    CreateService("MSUPST MS", m_dir.Path() + L"\\two.pst");
    SHMSPConfig::AddSHMSPService(m_session, L"mdc2", Mdc(L"mdc2"), L"Hoardview 2");
    CreateService("SHMSP", Mdc(L"mdc1"));
    SetRecord(L"keep", L"00112233445566778899AABBCCDDEEFF", 1);
    std::vector<std::string> others;
    for (const std::string& row : Services()) {
        if (row.compare(0, 6, "SHMSP|") != 0) {
            others.push_back(row);
        }
    }
    EXPECT_EQ(3u, others.size());
    EXPECT_EQ(3ul, SHMSPConfig::NumSHMSPServicesInProfile(m_session));
    m_session.Release();
    const std::string otherProfile =
        DumpTree(HKEY_CURRENT_USER, std::wstring(kProfilesRoot) + L"\\ShmspTest");

    EXPECT_TRUE(SHMSPConfig::RemoveSHMSPFromRegistryProfiles());

    m_session = Logon(kMailbox);
    ASSERT_TRUE(m_session);
    EXPECT_EQ(0ul, SHMSPConfig::NumSHMSPServicesInProfile(m_session));
    EXPECT_EQ(others, Services()) << "every other service intact and in order";
    CComPtr<IMAPITable> stores;
    ASSERT_EQ(S_OK, m_session->GetMsgStoresTable(0, &stores));
    SizedSPropTagArray(1, columns) = {1, {PR_ENTRYID}};
    TidyRowSet rows;
    ASSERT_EQ(S_OK, HrQueryAllRows(stores, reinterpret_cast<LPSPropTagArray>(&columns), nullptr, nullptr, 0,
                                   rows.put()));
    EXPECT_EQ(4u, rows->cRows) << "mailbox, public folders and two PSTs";
    for (ULONG i = 0; i < rows->cRows; ++i) {
        CComPtr<IMsgStore> store;
        const SBinary& eid = rows->aRow[i].lpProps[0].Value.bin;
        EXPECT_EQ(S_OK, m_session->OpenMsgStore(0, eid.cb, reinterpret_cast<LPENTRYID>(eid.lpb), nullptr,
                                                MAPI_BEST_ACCESS, &store));
    }
    const std::string shmspDll = hk::test::Narrow(Hex(WideBytes(L"SHMSP.DLL")));
    EXPECT_EQ(std::string::npos, DumpTree(HKEY_CURRENT_USER, mailboxKey).find(shmspDll));
    EXPECT_EQ(otherProfile, DumpTree(HKEY_CURRENT_USER, std::wstring(kProfilesRoot) + L"\\ShmspTest"));
    EXPECT_FALSE(KeyExists(std::wstring(kStoreKey) + L"\\mdc1\\Profiles"));
    EXPECT_FALSE(KeyExists(std::wstring(kStoreKey) + L"\\mdc2\\Profiles"));
    EXPECT_TRUE(KeyExists(std::wstring(kStoreKey) + L"\\keep\\Profiles"));
}
