// The MAPI stand-in, reached as a loader reaches it: exports, MAPI memory,
// profiles in MAPI's registry layout, sessions, service administration,
// tables, the control surface, and reference counts back to zero.
#include "MapiStandinFixture.h"
#include "MAPILoader.h" // FunctionCount only: the program does not link the library
#include "HkRegKey.h"
#include "TestEnv.h"

#include <gtest/gtest.h>

#include <vector>

using namespace mapitest;

namespace {

const ULONG PR_SERVICE_NAME_A_TAG = PROP_TAG(PT_STRING8, 0x3D09);
const ULONG PR_PST_PATH = PROP_TAG(PT_UNICODE, 0x6700);
const ULONG PR_PST_FLAGS = PROP_TAG(PT_LONG, 0x6770);

std::wstring Hex(const BYTE* b, ULONG n) {
    static const wchar_t digits[] = L"0123456789abcdef";
    std::wstring text;
    for (ULONG i = 0; i < n; ++i) {
        text += digits[b[i] >> 4];
        text += digits[b[i] & 15];
    }
    return text;
}

bool ReadBinary(const std::wstring& key, const wchar_t* value, std::vector<BYTE>* data) {
    CRegKey k;
    return k.Open(HKEY_CURRENT_USER, key.c_str(), KEY_READ) == ERROR_SUCCESS &&
           k.QueryBinaryValue(value, *data) == ERROR_SUCCESS;
}

bool KeyExists(const std::wstring& key) {
    return CRegKey().Open(HKEY_CURRENT_USER, key.c_str(), KEY_READ) == ERROR_SUCCESS;
}

// Every test: its own copy of the profiles root, no faults, and no object
// or buffer left behind.
class MapiStandin : public LeakCheckedTest {
protected:
    void CreateProfile(const char* name) {
        Ptr<IProfAdmin> admin;
        ASSERT_EQ(S_OK, MAPIAdminProfiles(0, admin.put()));
        ASSERT_EQ(S_OK, admin->CreateProfile(const_cast<char*>(name), nullptr, 0, 0));
    }

    // Creates a service and answers its UID (the row that was not there
    // before).
    void AddService(IMsgServiceAdmin* admin, const char* service, MAPIUID* uid) {
        ASSERT_EQ(S_OK,
                  admin->CreateMsgService(const_cast<char*>(service), const_cast<char*>("Ignored"), 0, 0));
        Ptr<IMAPITable> table;
        ASSERT_EQ(S_OK, admin->GetMsgServiceTable(0, table.put()));
        Rows rows;
        ASSERT_EQ(S_OK, QueryAll(table.p, {PR_SERVICE_UID}, nullptr, &rows));
        ASSERT_GE(rows->cRows, 1u);
        const SPropValue& v = rows->aRow[rows->cRows - 1].lpProps[0];
        ASSERT_EQ(PR_SERVICE_UID, v.ulPropTag);
        ASSERT_EQ(16u, v.Value.bin.cb);
        memcpy(uid->ab, v.Value.bin.lpb, 16);
    }

    hk::test::RegistryKeyGuard m_profiles{HKEY_CURRENT_USER, kProfiles};
};

TEST_F(MapiStandin, ExportsTheMapiNamesAndTheControlSurface) {
    // Every name the library's loader binds, in its order.
    for (ULONG i = 0; i < MAPILoader::FunctionCount; ++i)
        EXPECT_NE(nullptr, GetProcAddress(GetModuleHandleW(L"MapiStandin.dll"), MAPILoader::FunctionName(i)))
            << MAPILoader::FunctionName(i);
    auto noSupport = reinterpret_cast<HRESULT(WINAPI*)()>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"MapiStandin.dll"), "MAPIOpenLocalFormContainer")));
    EXPECT_EQ(MAPI_E_NO_SUPPORT, noSupport());
    EXPECT_EQ(1u, MapiStandinCallCount("MAPIOpenLocalFormContainer"));
}

TEST_F(MapiStandin, MoreBuffersGoWithTheirParentAndBadPointersAreRefused) {
    void* root = reinterpret_cast<void*>(0xdeadbeef);
    ASSERT_EQ(S_OK, MAPIAllocateBuffer(64, &root));
    void* more = reinterpret_cast<void*>(0xdeadbeef);
    ASSERT_EQ(S_OK, MAPIAllocateMore(32, root, &more));
    void* moreOfMore = nullptr;
    ASSERT_EQ(S_OK, MAPIAllocateMore(16, more, &moreOfMore)); // hangs on the same root
    memset(more, 0xAB, 32);
    EXPECT_EQ(m_buffers + 1, MapiStandinLiveBuffers());
    EXPECT_EQ(0u, MAPIFreeBuffer(more)); // a More buffer is not freed on its own
    EXPECT_EQ(m_buffers + 1, MapiStandinLiveBuffers());
    EXPECT_EQ(0u, MAPIFreeBuffer(root));
    EXPECT_EQ(m_buffers, MapiStandinLiveBuffers());

    // Refused and counted: a More buffer, a second free, a pointer MAPI never
    // handed out.
    static BYTE notMapi[64];
    EXPECT_EQ(0u, MAPIFreeBuffer(nullptr));
    EXPECT_EQ(0u, MAPIFreeBuffer(root));
    EXPECT_EQ(0u, MAPIFreeBuffer(notMapi + 32));
    EXPECT_EQ(m_badFrees + 3, MapiStandinBadFrees());
    m_badFrees += 3;
    void* out = reinterpret_cast<void*>(0xdeadbeef);
    EXPECT_EQ(MAPI_E_INVALID_PARAMETER, MAPIAllocateMore(8, nullptr, &out));
    EXPECT_EQ(MAPI_E_INVALID_PARAMETER, MAPIAllocateMore(8, notMapi + 32, &out));
    EXPECT_EQ(reinterpret_cast<void*>(0xdeadbeef), out);
    EXPECT_EQ(MAPI_E_INVALID_PARAMETER, MAPIAllocateBuffer(8, nullptr));
}

TEST_F(MapiStandin, ProfilesLiveInMapisRegistryLayout) {
    Ptr<IProfAdmin> admin;
    ASSERT_EQ(S_OK, MAPIAdminProfiles(0, admin.put()));
    EXPECT_EQ(MAPI_E_NOT_FOUND, admin->DeleteProfile(const_cast<char*>("StandinNoSuchProfile"), 0));
    ASSERT_EQ(S_OK, admin->CreateProfile(const_cast<char*>("StandinLayout"), nullptr, 0, 0));
    EXPECT_EQ(MAPI_E_NO_ACCESS, admin->CreateProfile(const_cast<char*>("StandinLayout"), nullptr, 0, 0));
    EXPECT_EQ(MAPI_E_INVALID_PARAMETER, admin->CreateProfile(nullptr, nullptr, 0, 0));

    std::wstring profile = std::wstring(kProfiles) + L"\\StandinLayout";
    std::vector<BYTE> data;
    ASSERT_TRUE(ReadBinary(profile + L"\\13dbb0c8aa05101a9bb000aa002fc45a", L"001f3d12", &data));
    EXPECT_EQ(std::wstring(L"StandinLayout"), reinterpret_cast<const wchar_t*>(data.data()));
    ASSERT_TRUE(ReadBinary(profile + L"\\13dbb0c8aa05101a9bb000aa002fc45a", L"01023d0c", &data));
    EXPECT_EQ(16u, data.size());
    ASSERT_TRUE(ReadBinary(profile + L"\\9207f3e0a3b11019908b08002b2a56c2", L"01023d0e", &data));
    EXPECT_EQ(0u, data.size());

    Ptr<IMAPITable> table;
    ASSERT_EQ(S_OK, admin->GetProfileTable(0, table.put()));
    Match name(PR_DISPLAY_NAME_A);
    name.value.Value.lpszA = const_cast<char*>("StandinLayout");
    Rows rows;
    ASSERT_EQ(S_OK, HrQueryAllRows(table.p, nullptr, &name.r, nullptr, 0, rows.put()));
    EXPECT_EQ(1u, rows->cRows);

    ASSERT_EQ(S_OK, admin->DeleteProfile(const_cast<char*>("StandinLayout"), 0));
    EXPECT_FALSE(KeyExists(profile));
}

TEST_F(MapiStandin, LogonSharesTheDefaultProfilesSessionAndKeepsADeletedProfileForItsSession) {
    CreateProfile("StandinShared");
    {
        Ptr<IProfAdmin> admin;
        ASSERT_EQ(S_OK, MAPIAdminProfiles(0, admin.put()));
        ASSERT_EQ(S_OK, admin->SetDefaultProfile(const_cast<char*>("StandinShared"), 0));
    }
    Ptr<IMAPISession> first, second, separate;
    ASSERT_EQ(S_OK, MAPILogonEx(0, nullptr, nullptr, MAPI_EXTENDED | MAPI_ALLOW_OTHERS, first.put()));
    ASSERT_EQ(S_OK, MAPILogonEx(0, nullptr, nullptr, MAPI_EXTENDED | MAPI_ALLOW_OTHERS, second.put()));
    EXPECT_EQ(first.p, second.p);
    ASSERT_EQ(S_OK,
              MAPILogonEx(0, const_cast<char*>("StandinShared"), nullptr, MAPI_NEW_SESSION, separate.put()));
    EXPECT_NE(first.p, separate.p);

    IMAPISession* untouched = reinterpret_cast<IMAPISession*>(0xdeadbeef);
    EXPECT_EQ(MAPI_E_LOGON_FAILED,
              MAPILogonEx(0, const_cast<char*>("StandinMissing"), nullptr, MAPI_NEW_SESSION, &untouched));
    EXPECT_EQ(reinterpret_cast<IMAPISession*>(0xdeadbeef), untouched);
    EXPECT_EQ(MAPI_E_INVALID_PARAMETER, MAPILogonEx(0, nullptr, nullptr, MAPI_ALLOW_OTHERS, nullptr));

    // Deleted right after logon, as a temporary profile is: the sessions
    // keep working and the profile goes when the last one ends.
    {
        Ptr<IProfAdmin> admin;
        ASSERT_EQ(S_OK, MAPIAdminProfiles(0, admin.put()));
        ASSERT_EQ(S_OK, admin->DeleteProfile(const_cast<char*>("StandinShared"), 0));
        EXPECT_EQ(MAPI_E_NOT_FOUND, admin->DeleteProfile(const_cast<char*>("StandinShared"), 0));
    }
    Ptr<IProfSect> global;
    ASSERT_EQ(S_OK, first->OpenProfileSection(&kGlobalSection, nullptr, 0, global.put()));
    Buf<SPropValue> name;
    ASSERT_EQ(S_OK, HrGetOneProp(global.p, PR_PROFILE_NAME_A, name.put()));
    EXPECT_STREQ("StandinShared", name->Value.lpszA);
    global.put();
    first.put();
    second.put();
    EXPECT_TRUE(KeyExists(std::wstring(kProfiles) + L"\\StandinShared"));
    separate.put();
    EXPECT_FALSE(KeyExists(std::wstring(kProfiles) + L"\\StandinShared"));
}

TEST_F(MapiStandin, ServicesAreCreatedConfiguredFoundAndDeleted) {
    CreateProfile("StandinServices");
    Ptr<IMAPISession> session;
    ASSERT_EQ(S_OK,
              MAPILogonEx(0, const_cast<char*>("StandinServices"), nullptr, MAPI_NEW_SESSION, session.put()));
    Ptr<IMsgServiceAdmin> admin;
    ASSERT_EQ(S_OK, session->AdminServices(0, admin.put()));
    EXPECT_EQ(MAPI_E_NOT_FOUND, admin->CreateMsgService(const_cast<char*>("NOSUCH MS"), nullptr, 0, 0));

    MAPIUID pst, shmsp;
    AddService(admin.p, "MSUPST MS", &pst);
    AddService(admin.p, "SHMSP", &shmsp);

    // The service table restricted by the 8-bit service name.
    {
        Ptr<IMAPITable> table;
        ASSERT_EQ(S_OK, admin->GetMsgServiceTable(0, table.put()));
        Match name(PR_SERVICE_NAME_A_TAG);
        name.value.Value.lpszA = const_cast<char*>("SHMSP");
        Rows rows;
        ASSERT_EQ(S_OK, QueryAll(table.p, {PR_SERVICE_UID, PR_SERVICE_NAME_A_TAG}, &name.r, &rows));
        ASSERT_EQ(1u, rows->cRows);
        EXPECT_EQ(0, memcmp(shmsp.ab, rows->aRow[0].lpProps[0].Value.bin.lpb, 16));
        EXPECT_STREQ("SHMSP", rows->aRow[0].lpProps[1].Value.lpszA);
    }

    // Configuration reaches the provider's section in the registry.
    hk::test::TempDir dir;
    std::wstring pstPath = dir.File(L"a.pst");
    SPropValue path{};
    path.ulPropTag = PR_PST_PATH;
    path.Value.lpszW = const_cast<wchar_t*>(pstPath.c_str());
    ASSERT_EQ(S_OK, admin->ConfigureMsgService(&pst, 0, 0, 1, &path));
    MAPIUID unknown = {{1}};
    EXPECT_EQ(MAPI_E_NOT_FOUND, admin->ConfigureMsgService(&unknown, 0, 0, 1, &path));
    EXPECT_EQ(MAPI_E_INVALID_PARAMETER, admin->ConfigureMsgService(nullptr, 0, 0, 1, &path));
    SPropValue badPath = path;
    std::wstring nowhere = dir.File(L"missing\\dir\\b.pst");
    badPath.Value.lpszW = const_cast<wchar_t*>(nowhere.c_str());
    ASSERT_EQ(MAPI_E_EXTENDED_ERROR, admin->ConfigureMsgService(&pst, 0, 0, 1, &badPath));
    {
        Buf<MAPIERROR> info;
        ASSERT_EQ(S_OK, admin->GetLastError(MAPI_E_EXTENDED_ERROR, MAPI_UNICODE, info.put()));
        ASSERT_NE(nullptr, info.p);
        EXPECT_STREQ(L"The personal folders file could not be created.",
                     reinterpret_cast<const wchar_t*>(info->lpszError));
    }
    ASSERT_EQ(S_OK, admin->ConfigureMsgService(&pst, 0, 0, 1, &path));

    Ptr<IProviderAdmin> providers;
    ASSERT_EQ(S_OK, admin->AdminProviders(&pst, 0, providers.put()));
    Ptr<IMAPITable> providerTable;
    ASSERT_EQ(S_OK, providers->GetProviderTable(0, providerTable.put()));
    Match serviceName(PR_SERVICE_NAME_A_TAG, FL_FULLSTRING, RES_CONTENT);
    serviceName.value.Value.lpszA = const_cast<char*>("MSUPST MS");
    Rows providerRows;
    ASSERT_EQ(S_OK, QueryAll(providerTable.p, {PR_PROVIDER_UID}, &serviceName.r, &providerRows));
    ASSERT_EQ(1u, providerRows->cRows);
    MAPIUID provider;
    memcpy(provider.ab, providerRows->aRow[0].lpProps[0].Value.bin.lpb, 16);
    std::wstring section = std::wstring(kProfiles) + L"\\StandinServices\\" + Hex(provider.ab, 16);
    std::vector<BYTE> data;
    ASSERT_TRUE(ReadBinary(section, L"001f6700", &data));
    EXPECT_EQ(pstPath, reinterpret_cast<const wchar_t*>(data.data()));
    ASSERT_TRUE(ReadBinary(section, L"001f300a", &data));

    // A section edited in the registry is what the next read sees.
    const wchar_t edited[] = L"D:\\edited.pst";
    CRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.Open(HKEY_CURRENT_USER, section.c_str(), KEY_SET_VALUE));
    ASSERT_EQ(ERROR_SUCCESS, key.SetBinaryValue(L"001f6700", edited, sizeof(edited)));
    Ptr<IProfSect> sect;
    ASSERT_EQ(S_OK, providers->OpenProfileSection(&provider, nullptr, MAPI_MODIFY | 0x00080000, sect.put()));
    Buf<SPropValue> value;
    ASSERT_EQ(S_OK, HrGetOneProp(sect.p, PR_PST_PATH, value.put()));
    EXPECT_STREQ(edited, value->Value.lpszW);
    SPropValue flags{};
    flags.ulPropTag = PR_PST_FLAGS;
    flags.Value.l = static_cast<LONG>(0x80000000);
    ASSERT_EQ(S_OK, sect->SetProps(1, &flags, nullptr));
    ASSERT_TRUE(ReadBinary(section, L"00036770", &data));
    EXPECT_EQ(0x80000000u, *reinterpret_cast<const ULONG*>(data.data()));
    EXPECT_EQ(MAPI_E_NOT_FOUND, HrGetOneProp(sect.p, PROP_TAG(PT_LONG, 0x6771), value.put()));

    // The store table finds the PST's store by its service UID.
    Ptr<IMAPITable> stores;
    ASSERT_EQ(S_OK, session->GetMsgStoresTable(0, stores.put()));
    Match byService(PR_SERVICE_UID);
    byService.value.Value.bin = {16, pst.ab};
    Rows storeRows;
    ASSERT_EQ(S_OK, QueryAll(stores.p, {PR_ENTRYID, PROP_TAG(PT_LONG, 0x6806)}, &byService.r, &storeRows,
                             nullptr, 1));
    ASSERT_EQ(1u, storeRows->cRows);
    EXPECT_EQ(PR_ENTRYID, storeRows->aRow[0].lpProps[0].ulPropTag);
    EXPECT_EQ(PROP_TAG(PT_ERROR, 0x6806), storeRows->aRow[0].lpProps[1].ulPropTag);
    EXPECT_EQ(MAPI_E_NOT_FOUND, storeRows->aRow[0].lpProps[1].Value.err);

    // Deleting the service removes it, its providers and their sections.
    ASSERT_EQ(S_OK, admin->DeleteMsgService(&pst));
    EXPECT_EQ(MAPI_E_NOT_FOUND, admin->DeleteMsgService(&pst));
    EXPECT_FALSE(KeyExists(section));
    std::wstring lists = std::wstring(kProfiles) + L"\\StandinServices\\9207f3e0a3b11019908b08002b2a56c2";
    ASSERT_TRUE(ReadBinary(lists, L"01023d0e", &data));
    ASSERT_EQ(16u, data.size());
    EXPECT_EQ(0, memcmp(shmsp.ab, data.data(), 16));
    ASSERT_TRUE(ReadBinary(lists, L"01023d00", &data));
    EXPECT_EQ(16u, data.size());
}

TEST_F(MapiStandin, TablesSortRestrictAndLimit) {
    CreateProfile("StandinTables");
    Ptr<IMAPISession> session;
    ASSERT_EQ(S_OK,
              MAPILogonEx(0, const_cast<char*>("StandinTables"), nullptr, MAPI_NEW_SESSION, session.put()));
    Ptr<IMsgServiceAdmin> admin;
    ASSERT_EQ(S_OK, session->AdminServices(0, admin.put()));
    ASSERT_EQ(S_OK, admin->CreateMsgService(const_cast<char*>("MSEMS"), nullptr, 0, 0)); // two stores
    ASSERT_EQ(S_OK, admin->CreateMsgService(const_cast<char*>("MSPST MS"), nullptr, 0, 0));

    Ptr<IMAPITable> stores;
    ASSERT_EQ(S_OK, session->GetMsgStoresTable(0, stores.put()));
    ULONG count = 0xdeadbeef;
    ASSERT_EQ(S_OK, stores->GetRowCount(0, &count));
    EXPECT_EQ(3u, count);
    SRowSet* tooMany = reinterpret_cast<SRowSet*>(0xdeadbeef);
    EXPECT_EQ(MAPI_E_TABLE_TOO_BIG, HrQueryAllRows(stores.p, nullptr, nullptr, nullptr, 2, &tooMany));

    // Display names sorted descending (restrictions: the mailbox profile's tests).
    SizedSSortOrderSet(1, sort) = {1, 0, 0, {{PR_DISPLAY_NAME_A, TABLE_SORT_DESCEND}}};
    Rows rows;
    ASSERT_EQ(S_OK, QueryAll(stores.p, {PR_DISPLAY_NAME_A}, nullptr, &rows,
                             reinterpret_cast<LPSSortOrderSet>(&sort)));
    ASSERT_EQ(3u, rows->cRows);
    EXPECT_STREQ("Public Folders", rows->aRow[0].lpProps[0].Value.lpszA);
    EXPECT_STREQ("Personal Folders", rows->aRow[1].lpProps[0].Value.lpszA);
    EXPECT_STREQ("Mailbox", rows->aRow[2].lpProps[0].Value.lpszA);

    // The default store flag follows SetDefaultStore.
    ASSERT_EQ(S_OK, session->SetDefaultStore(MAPI_DEFAULT_STORE, 0, nullptr));
    Match isDefault(PR_DEFAULT_STORE);
    isDefault.value.Value.b = TRUE;
    Ptr<IMAPITable> again;
    ASSERT_EQ(S_OK, session->GetMsgStoresTable(0, again.put()));
    ASSERT_EQ(S_OK, QueryAll(again.p, {PR_DISPLAY_NAME_A}, &isDefault.r, &rows));
    ASSERT_EQ(1u, rows->cRows);
    EXPECT_STREQ("Personal Folders", rows->aRow[0].lpProps[0].Value.lpszA);
}

TEST_F(MapiStandin, FaultsFailTheNamedCallWithTheChosenExtendedError) {
    CreateProfile("StandinFaults");
    Ptr<IMAPISession> session;
    ASSERT_EQ(S_OK,
              MAPILogonEx(0, const_cast<char*>("StandinFaults"), nullptr, MAPI_NEW_SESSION, session.put()));
    MapiStandinError error = {L"store busy", L"MSPST", 7, 0x100D0201};
    MapiStandinFailCall("IMAPISession::OpenMsgStore", MAPI_E_EXTENDED_ERROR, 2, &error);
    BYTE eid[36] = {};
    IMsgStore* store = reinterpret_cast<IMsgStore*>(0xdeadbeef);
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(
            MAPI_E_EXTENDED_ERROR,
            session->OpenMsgStore(0, sizeof(eid), reinterpret_cast<LPENTRYID>(eid), nullptr, 0x90, &store));
        Buf<MAPIERROR> info;
        ASSERT_EQ(S_OK, session->GetLastError(MAPI_E_EXTENDED_ERROR, 0, info.put()));
        ASSERT_NE(nullptr, info.p);
        EXPECT_EQ(0x100D0201u, info->ulContext);
        EXPECT_EQ(7u, info->ulLowLevelError);
        EXPECT_STREQ("store busy", reinterpret_cast<const char*>(info->lpszError));
    }
    EXPECT_EQ(reinterpret_cast<IMsgStore*>(0xdeadbeef), store);
    // The fault is used up: the call now judges its arguments itself.
    EXPECT_EQ(MAPI_E_INVALID_ENTRYID,
              session->OpenMsgStore(0, sizeof(eid), reinterpret_cast<LPENTRYID>(eid), nullptr, 0x90, &store));
    EXPECT_EQ(3u, MapiStandinCallCount("IMAPISession::OpenMsgStore"));

    MapiStandinFailCall("MAPILogonEx", static_cast<HRESULT>(0x80040605), 1, nullptr);
    IMAPISession* other = nullptr;
    EXPECT_EQ(static_cast<HRESULT>(0x80040605), MAPILogonEx(0, nullptr, nullptr, 0x28, &other));
    EXPECT_EQ(nullptr, other);
}

} // namespace
