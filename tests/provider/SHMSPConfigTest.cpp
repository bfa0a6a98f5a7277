// SHMSPConfig on the MAPI stand-in, reached through the library's loader, and
// its clean-up of MAPI's profile registry written directly in MAPI's layout.
#include "ClientKeys.h"
#include "LoggedRun.h"
#include "MapiStandin.h"

#include <gtest/gtest.h>
#include <functional>

namespace {

using hk::test::kClientKey;
using hk::test::kStoreKey;

const wchar_t kProfilesRoot[] =
    L"Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows Messaging Subsystem\\Profiles";
const wchar_t kServicesSection[] = L"9207f3e0a3b11019908b08002b2a56c2";
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

std::wstring Hex(const std::vector<BYTE>& bytes, bool upper = false) {
    const wchar_t* digits = upper ? L"0123456789ABCDEF" : L"0123456789abcdef";
    std::wstring text;
    for (BYTE b : bytes) {
        text += {digits[b >> 4], digits[b & 15]};
    }
    return text;
}

// REG_BINARY values in MAPI's profile layout, under HKCU.
void SetBinary(const std::wstring& path, const wchar_t* name, const std::vector<BYTE>& bytes) {
    CRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.Create(HKEY_CURRENT_USER, path.c_str()));
    EXPECT_EQ(ERROR_SUCCESS, key.SetBinaryValue(name, bytes.data(), static_cast<ULONG>(bytes.size())));
}

std::vector<BYTE> GetBinary(const std::wstring& path, const wchar_t* name) {
    CRegKey key;
    std::vector<BYTE> data;
    if (key.Open(HKEY_CURRENT_USER, path.c_str(), KEY_READ) == ERROR_SUCCESS) {
        key.QueryBinaryValue(name, data);
    }
    return data;
}

bool KeyExists(const std::wstring& path) {
    CRegKey key;
    return key.Open(HKEY_CURRENT_USER, path.c_str(), KEY_READ) == ERROR_SUCCESS;
}

std::wstring ProfileKey(const std::wstring& profile, const std::wstring& section = L"") {
    std::wstring path = std::wstring(kProfilesRoot) + L"\\" + profile;
    return section.empty() ? path : path + L"\\" + section;
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
        ASSERT_EQ(S_OK, MAPILogonEx(0, const_cast<char*>(kProfile), nullptr, MAPI_NEW_SESSION | MAPI_EXTENDED,
                                    &m_session));
    }
    void ReleaseAll() override { m_session.Release(); }

    CComPtr<IMsgServiceAdmin> Admin() const {
        CComPtr<IMsgServiceAdmin> admin;
        EXPECT_EQ(S_OK, m_session->AdminServices(0, &admin));
        return admin;
    }
    std::wstring Mdc(const wchar_t* name) const { return m_dir.Path() + L"\\TESTSTORE\\" + name + L".db"; }
    std::wstring ProfileUid() const {
        return Hex(GetBinary(ProfileKey(L"ShmspTest", L"13dbb0c8aa05101a9bb000aa002fc45a"), L"01023d0c"),
                   true);
    }

    // The service table as "service name|display name|UID hex" rows.
    std::vector<std::wstring> Services() const {
        CComPtr<IMAPITable> table;
        EXPECT_EQ(S_OK, Admin()->GetMsgServiceTable(0, &table));
        TidyRowSet rows;
        EXPECT_EQ(S_OK, hk::test::QueryAll(table, {PR_SERVICE_NAME_W, PR_DISPLAY_NAME_W, PR_SERVICE_UID},
                                           nullptr, &rows));
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
    std::wstring CreateService(const std::wstring& path = L"") const {
        CComPtr<IMsgServiceAdmin> admin = Admin();
        EXPECT_EQ(S_OK, admin->CreateMsgService(const_cast<char*>("SHMSP"), const_cast<char*>("x"), 0, 0));
        std::wstring hex = Services().back().substr(Services().back().rfind(L'|') + 1);
        std::vector<BYTE> uid;
        EXPECT_EQ(S_OK, HearthkitUtil::HexStrToBinary(hex.c_str(), uid));
        SPropValue value{0x6700001F, 0, {}};
        value.Value.lpszW = const_cast<wchar_t*>(path.c_str());
        if (!path.empty()) {
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
    CComPtr<IMsgStore> store;
    SHMSPConfig::OpenSHMSPMsgStore(m_session, path, &store);
    EXPECT_TRUE(store);

    // Removing drops the record, also with no instance, unless it is kept
    // or says Off.
    SetRecord(L"off", 0);
    SetRecord(L"kept", 1);
    SHMSPConfig::RemoveSHMSPService(m_session, L"mdc1", upper, false);
    SHMSPConfig::RemoveSHMSPService(m_session, L"off", Mdc(L"off"), false);
    SHMSPConfig::RemoveSHMSPService(m_session, L"kept", Mdc(L"kept"), true);
    EXPECT_EQ(0ul, SHMSPConfig::NumSHMSPServicesInProfile(m_session));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, Record(L"mdc1", &record));
    EXPECT_EQ(ERROR_SUCCESS, Record(L"off", &record));
    EXPECT_EQ(0u, record);
    EXPECT_EQ(ERROR_SUCCESS, Record(L"kept", &record));

    // With no instance left: no store, and forgetting removes this
    // profile's records only.
    IMsgStore* none = reinterpret_cast<IMsgStore*>(0xdeadbeef);
    EXPECT_EQ(MAPI_E_NOT_FOUND, Raised([&] { SHMSPConfig::OpenSHMSPMsgStore(m_session, path, &none); }));
    EXPECT_EQ(reinterpret_cast<IMsgStore*>(0xdeadbeef), none);
    SetRecord(L"a", 1, kOtherUid);
    SHMSPConfig::RemoveAllSHMSPServices(m_session, false);
    EXPECT_EQ(ERROR_SUCCESS, Record(L"kept", &record)) << "kept without forgetting";
    SHMSPConfig::RemoveAllSHMSPServices(m_session, true);
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, Record(L"kept", &record));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, Record(L"off", &record));
    CRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.Open(HKEY_CURRENT_USER, RecordKey(L"a").c_str()));
    EXPECT_EQ(ERROR_SUCCESS, key.QueryDWORDValue(kOtherUid, record)) << "another profile's record stays";
}

TEST_F(StandinTest, TwoInstancesOfOnePathActOnTheFirstInTableOrder) {
    const std::wstring first = CreateService(Mdc(L"same"));
    const std::wstring second = CreateService(Mdc(L"SAME"));
    SHMSPConfig::SetSHMSPServiceDisplayName(m_session, Mdc(L"same"), L"First");
    EXPECT_EQ((std::vector<std::wstring>{L"SHMSP|First|" + first, L"SHMSP|x|" + second}), Services());
    SHMSPConfig::RemoveSHMSPService(m_session, L"same", Mdc(L"same"), false);
    MAPIUID found{};
    ASSERT_TRUE(SHMSPConfig::GetSHMSPServiceUID(Admin(), Mdc(L"same"), &found));
    EXPECT_EQ(second, Hex({found.ab, found.ab + 16}));
}

TEST_F(StandinTest, ServicesThatNoLookupMatches) {
    // Each names "x": one has no SHMSP provider, one has two, and one row's
    // UID column is an error.
    const std::wstring none = CreateService(Mdc(L"x"));
    const std::wstring two = CreateService(Mdc(L"x"));
    const std::wstring broken = CreateService(Mdc(L"x"));
    auto providers = GetBinary(ProfileKey(L"ShmspTest", two), L"01023d00");
    auto moved = GetBinary(ProfileKey(L"ShmspTest", none), L"01023d00");
    providers.insert(providers.end(), moved.begin(), moved.end());
    SetBinary(ProfileKey(L"ShmspTest", two), L"01023d00", providers);
    SetBinary(ProfileKey(L"ShmspTest", none), L"01023d00", {});
    CRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.Open(HKEY_CURRENT_USER, ProfileKey(L"ShmspTest", broken).c_str()));
    ASSERT_EQ(ERROR_SUCCESS, key.DeleteValue(L"01023d0c"));
    EXPECT_EQ(3ul, SHMSPConfig::NumSHMSPServicesInProfile(m_session)) << "the error row counts";
    EXPECT_FALSE(SHMSPConfig::SHMSPServiceExists(m_session, Mdc(L"x")));

    // Adding "x" makes a fourth service: the error row is not taken for it.
    SHMSPConfig::AddSHMSPService(m_session, L"x", Mdc(L"x"), L"New");
    ASSERT_EQ(4u, Services().size());
    EXPECT_EQ(0u, Services()[3].find(L"SHMSP|New|"));
    SHMSPConfig::RemoveAllSHMSPServices(m_session, false);
    EXPECT_EQ(std::vector<std::wstring>{L"SHMSP|x|error"}, Services());
}

TEST_F(StandinTest, MapiFailuresAreRaisedWithTheirHResult) {
    CreateService(); // a provider section without the MDC path
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
}

TEST_F(StandinTest, ProfileUidRecordsAndProfileNameList) {
    std::wstring uid = L"unset";
    ASSERT_TRUE(SHMSPConfig::GetProfileUID(m_session, uid));
    EXPECT_EQ(ProfileUid(), uid);
    std::vector<BYTE> service;
    HearthkitUtil::HexStrToBinary(CreateService().c_str(), service);
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

    // The name list: exact names between runs of separators, every one removed.
    CStringW list;
    HearthkitConfig::SetHoardviewConfiguredProfiles(L"ShmspTest\\A\\\\shmsptest\\ShmspTest");
    EXPECT_TRUE(SHMSPConfig::IsSHMSPConfiguredInProfileV8SP3(m_session));
    SHMSPConfig::SetSHMSPConfiguredInProfileV8SP3(m_session, false);
    HearthkitConfig::GetHoardviewConfiguredProfiles(list);
    EXPECT_EQ(L"A\\shmsptest", std::wstring(list.GetString()));
    EXPECT_FALSE(SHMSPConfig::IsSHMSPConfiguredInProfileV8SP3(m_session));
    SHMSPConfig::SetSHMSPConfiguredInProfileV8SP3(m_session, true);
    HearthkitConfig::GetHoardviewConfiguredProfiles(list);
    EXPECT_EQ(L"A\\shmsptest\\ShmspTest", std::wstring(list.GetString()));
    MapiStandinFailCall("HrGetOneProp", MAPI_E_NOT_FOUND, 1, nullptr);
    EXPECT_EQ(MAPI_E_NOT_FOUND,
              Raised([&] { SHMSPConfig::SetSHMSPConfiguredInProfileV8SP3(m_session, false); }));
    HearthkitConfig::GetHoardviewConfiguredProfiles(list);
    EXPECT_EQ(L"A\\shmsptest\\ShmspTest", std::wstring(list.GetString()));
}

HK_SCENARIO(CleanupAllProfiles) {
    return SHMSPConfig::RemoveSHMSPFromRegistryProfiles() ? 0 : 1;
}

TEST(RegistryCleanup, StripsOnlyTheProductsEntriesOfEveryProfile) {
    hk::test::RegistryKeyGuard profiles(HKEY_CURRENT_USER, kProfilesRoot);
    hk::test::ClientKeys client;
    ::RegDeleteTreeW(HKEY_CURRENT_USER, kProfilesRoot);
    // A UID is 16 bytes of one value.
    auto uids = [](std::initializer_list<BYTE> seeds) {
        std::vector<BYTE> bytes;
        for (BYTE seed : seeds) {
            bytes.insert(bytes.end(), 16, seed);
        }
        return bytes;
    };
    auto wide = [](const std::wstring& text) {
        const BYTE* p = reinterpret_cast<const BYTE*>(text.c_str());
        return std::vector<BYTE>(p, p + (text.size() + 1) * sizeof(wchar_t));
    };
    auto section = [&](const wchar_t* profile, BYTE uid) { return ProfileKey(profile, Hex(uids({uid}))); };
    // "Mixed" lists services 1 (PST), 2 (the product's, in lower case, with an
    // MDC path), 3 (no section) and 4 (with sub keys), and store providers 5
    // (PST), 6 and 7 (the product's, 7 with an unparseable path) and 8 (the
    // product's name as REG_SZ: unreadable, so kept). "Ragged" lists 9 with a
    // list that is no whole number of UIDs: it stays as it is.
    const struct {
        const wchar_t* profile;
        BYTE uid;
        const wchar_t* dllValue;
        const wchar_t* dll;
        const wchar_t* mdcPath;
    } sections[] = {
        {L"Mixed", 1, L"001f3d0a", L"MSPST.DLL", nullptr},
        {L"Mixed", 2, L"001f3d0a", L"shmsp.dll", L"C:\\Cache\\STORE\\svc.db"},
        {L"Mixed", 4, L"001f3d0a", L"SHMSP.DLL", nullptr},
        {L"Mixed", 5, L"001f300a", L"MSPST.DLL", L"C:\\Cache\\STORE\\pst.db"},
        {L"Mixed", 6, L"001f300a", L"SHMSP.DLL", L"C:\\Cache\\STORE\\gone.db"},
        {L"Mixed", 7, L"001f300a", L"Shmsp.Dll", L"C:\\gone2.db"},
        {L"Ragged", 9, L"001f300a", L"SHMSP.DLL", L"C:\\Cache\\STORE\\gone.db"},
    };
    for (const auto& s : sections) {
        SetBinary(section(s.profile, s.uid), s.dllValue, wide(s.dll));
        if (s.mdcPath != nullptr) {
            SetBinary(section(s.profile, s.uid), L"001f6700", wide(s.mdcPath));
        }
    }
    SetBinary(section(L"Mixed", 4) + L"\\sub\\deeper", L"x", {1});
    client.SetString(HKEY_CURRENT_USER, section(L"Mixed", 8).c_str(), L"001f300a", L"SHMSP.DLL");
    SetBinary(ProfileKey(L"Mixed", kServicesSection), L"01023d0e", uids({1, 2, 3, 4}));
    SetBinary(ProfileKey(L"Mixed", kServicesSection), L"01023d00", uids({5, 6, 7, 8}));
    auto ragged = uids({9});
    ragged.push_back(0);
    SetBinary(ProfileKey(L"Ragged", kServicesSection), L"01023d00", ragged);
    for (const wchar_t* relative : {L"STORE\\gone", L"STORE\\svc", L"STORE\\pst", L"gone2"}) {
        SetBinary(std::wstring(kClientKey) + L"\\" + relative + L"\\Profiles\\deeper", L"x", {1});
    }

    auto logged = hk::test::RunLoggedScenario("CleanupAllProfiles", {}, LOG_DETAIL);
    ASSERT_EQ(0u, logged.result.exitCode) << logged.result.output;

    EXPECT_EQ(uids({1, 3}), GetBinary(ProfileKey(L"Mixed", kServicesSection), L"01023d0e"));
    EXPECT_EQ(uids({5, 8}), GetBinary(ProfileKey(L"Mixed", kServicesSection), L"01023d00"));
    for (BYTE uid : {1, 2, 4, 5, 6, 7, 8}) {
        EXPECT_EQ(uid == 1 || uid == 5 || uid == 8, KeyExists(section(L"Mixed", uid))) << int(uid);
    }
    EXPECT_EQ(ragged, GetBinary(ProfileKey(L"Ragged", kServicesSection), L"01023d00"));
    EXPECT_TRUE(KeyExists(section(L"Ragged", 9)));
    const std::wstring store = std::wstring(kClientKey) + L"\\STORE";
    EXPECT_FALSE(KeyExists(store + L"\\gone\\Profiles"));
    EXPECT_TRUE(KeyExists(store + L"\\gone")) << "only its Profiles key goes";
    EXPECT_TRUE(KeyExists(store + L"\\svc\\Profiles")) << "not in the service pass";
    EXPECT_TRUE(KeyExists(store + L"\\pst\\Profiles")) << "not the product's";
    EXPECT_TRUE(KeyExists(std::wstring(kClientKey) + L"\\gone2\\Profiles"));
    for (const char* line :
         {"Processing profile Mixed ; Provider 01023d00 \r\n", "Got MDC Path: C:\\gone2.db\r\n",
          "Failed to parse MDC Path",
          "Deleting SH Client Profiles key: SOFTWARE\\Talvo\\Stowhaven\\Client\\STORE\\gone\\"
          "Profiles\r\n"}) {
        EXPECT_NE(std::string::npos, logged.log.find(line)) << line << "\n" << logged.log;
    }
}
