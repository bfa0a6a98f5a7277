#include "MailboxTestEnv.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <type_traits>

namespace mailboxtest {

const BYTE kPrimary[16] = {0x54, 0x94, 0xA1, 0xC0, 0x29, 0x7F, 0x10, 0x1B,
                           0xA5, 0x87, 0x08, 0x00, 0x2B, 0x2A, 0x25, 0x17};
const BYTE kDelegate[16] = {0x9E, 0xB4, 0x77, 0x00, 0x74, 0xE4, 0x11, 0xCE,
                            0x8C, 0x5E, 0x00, 0xAA, 0x00, 0x42, 0x54, 0xE2};
int g_failures = 0;

void Check(bool ok, const char* where, int line, const char* what) {
    if (!ok) {
        std::printf("%s(%d): %s\n", where, line, what);
        ++g_failures;
    }
}

void CheckHr(HRESULT expected, HRESULT actual, const char* where, int line, const char* what) {
    if (actual != expected) {
        std::printf("%s(%d): %s is 0x%08lx, not 0x%08lx\n", where, line, what,
                    static_cast<unsigned long>(actual), static_cast<unsigned long>(expected));
        ++g_failures;
    }
}

void CheckStr(const std::wstring& expected, const std::wstring& actual, const char* where, int line,
              const char* what) {
    if (actual != expected) {
        std::printf("%s(%d): %s is \"%ls\", not \"%ls\"\n", where, line, what, actual.c_str(),
                    expected.c_str());
        ++g_failures;
    }
}

namespace {

const wchar_t kOutlookKey[] = L"Software\\Clients\\Mail\\Microsoft Outlook";
const wchar_t kProfilesKey[] =
    L"Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows Messaging Subsystem\\Profiles";
const GUID kProductSet = {0xD0F41A15, 0x9E91, 0xD111, {0x84, 0xE6, 0x00, 0x00, 0xF8, 0x77, 0xD4, 0x28}};
const ULONG kClassA = PROP_TAG(PT_STRING8, 0x001A);
const ULONG kMailboxKind = PROP_TAG(PT_LONG, 0x6806);

void Must(HRESULT hr, const char* what) {
    if (FAILED(hr)) {
        std::printf("setup failed: %s 0x%08lx\n", what, static_cast<unsigned long>(hr));
        std::fflush(stdout);
        ::ExitProcess(90);
    }
}

CComPtr<IMAPISession> Session() {
    CComPtr<IMAPISession> session;
    Must(MAPILogonEx(0, nullptr, nullptr, MAPI_EXTENDED | MAPI_ALLOW_OTHERS, &session), "MAPILogonEx");
    return session;
}

} // namespace

CComPtr<IMAPIFolder> OpenInbox(IMsgStore* store) {
    ULONG cb = 0;
    TidyMAPIBuffer<ENTRYID> eid;
    Must(store->GetReceiveFolder(nullptr, 0, &cb, eid.put(), nullptr), "GetReceiveFolder");
    ULONG type = 0;
    CComPtr<IMAPIFolder> inbox;
    Must(store->OpenEntry(cb, eid.get(), &IID_IMAPIFolder, MAPI_BEST_ACCESS, &type,
                          reinterpret_cast<LPUNKNOWN*>(&inbox)),
         "OpenEntry(Inbox)");
    return inbox;
}

namespace {

ULONG NamedTag(IMAPIProp* object, const wchar_t* text) {
    MAPINAMEID name{};
    name.lpguid = const_cast<GUID*>(&kProductSet);
    name.ulKind = MNID_STRING;
    name.Kind.lpwstrName = const_cast<wchar_t*>(text);
    LPMAPINAMEID names[] = {&name};
    TidyMAPIBuffer<SPropTagArray> tags;
    Must(object->GetIDsFromNames(1, names, MAPI_CREATE, tags.put()), "GetIDsFromNames");
    return CHANGE_PROP_TYPE(tags->aulPropTag[0], PT_UNICODE);
}

// Entry ids of the Inbox's associated messages of the class, newest
// (by modification) first.
void HiddenRows(IMAPIFolder* inbox, const char* messageClass, TidyRowSet& rows) {
    CComPtr<IMAPITable> table;
    Must(inbox->GetContentsTable(MAPI_ASSOCIATED, &table), "GetContentsTable");
    SPropValue value{};
    value.ulPropTag = kClassA;
    value.Value.lpszA = const_cast<char*>(messageClass);
    SRestriction restriction{};
    restriction.rt = RES_PROPERTY;
    restriction.res.resProperty = {RELOP_EQ, kClassA, &value};
    SizedSPropTagArray(1, columns) = {1, {PR_ENTRYID}};
    SSortOrderSet sort = {1, 0, 0, {{PR_LAST_MODIFICATION_TIME, TABLE_SORT_DESCEND}}};
    Must(HrQueryAllRows(table, reinterpret_cast<LPSPropTagArray>(&columns), &restriction, &sort, 0,
                        rows.put()),
         "HrQueryAllRows");
}

// The newest associated message of the class, or null.
CComPtr<IMessage> NewestHidden(IMsgStore* store, const char* messageClass) {
    CComPtr<IMAPIFolder> inbox = OpenInbox(store);
    TidyRowSet rows;
    HiddenRows(inbox, messageClass, rows);
    CComPtr<IMessage> message;
    if (rows->cRows > 0) {
        const SBinary& eid = rows->aRow[0].lpProps[0].Value.bin;
        ULONG type = 0;
        Must(inbox->OpenEntry(eid.cb, reinterpret_cast<LPENTRYID>(eid.lpb), &IID_IMessage, MAPI_BEST_ACCESS,
                              &type, reinterpret_cast<LPUNKNOWN*>(&message)),
             "OpenEntry(message)");
    }
    return message;
}

} // namespace

StandinHost::StandinHost()
    : m_outlook(HKEY_LOCAL_MACHINE, kOutlookKey), m_profiles(HKEY_CURRENT_USER, kProfilesKey) {
    CRegKey key;
    EXPECT_EQ(ERROR_SUCCESS, key.Create(HKEY_LOCAL_MACHINE, kOutlookKey));
    std::wstring path = hk::test::BinDir() + L"\\MapiStandin.dll";
    EXPECT_EQ(ERROR_SUCCESS, key.SetStringValue(L"DLLPathEx", path.c_str()));
}

const Standin& Api() {
    static Standin api = [] {
        HMODULE module = ::GetModuleHandleW(L"MapiStandin.dll");
        if (module == nullptr) {
            std::printf("the library did not bind the MAPI stand-in\n");
            std::fflush(stdout);
            ::ExitProcess(91);
        }
        auto find = [&](auto& fn, const char* name) {
            fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(
                reinterpret_cast<void*>(::GetProcAddress(module, name)));
        };
        Standin s;
        find(s.CreateMailboxProfile, "MapiStandinCreateMailboxProfile");
        find(s.FailCall, "MapiStandinFailCall");
        find(s.CallCount, "MapiStandinCallCount");
        find(s.LiveObjects, "MapiStandinLiveObjects");
        return s;
    }();
    return api;
}

HRESULT CreateProfile(bool delegate, bool archive) {
    MapiStandinMailbox mailbox = {L"jdoe", L"John Doe", "exch01.example", delegate, archive, TRUE};
    return Api().CreateMailboxProfile(L"ConfigTest", &mailbox);
}

CComPtr<IMsgStore> OpenStore(const BYTE* provider, bool archive) {
    CComPtr<IMAPISession> session = Session();
    CComPtr<IMAPITable> table;
    Must(session->GetMsgStoresTable(0, &table), "GetMsgStoresTable");
    SizedSPropTagArray(3, columns) = {3, {PR_ENTRYID, PR_MDB_PROVIDER, kMailboxKind}};
    TidyRowSet rows;
    Must(HrQueryAllRows(table, reinterpret_cast<LPSPropTagArray>(&columns), nullptr, nullptr, 0, rows.put()),
         "HrQueryAllRows(stores)");
    for (ULONG i = 0; i < rows->cRows; ++i) {
        const SPropValue* props = rows->aRow[i].lpProps;
        bool isArchive = PROP_TYPE(props[2].ulPropTag) == PT_LONG && props[2].Value.l == 32;
        if (props[1].Value.bin.cb != 16 || std::memcmp(props[1].Value.bin.lpb, provider, 16) != 0 ||
            isArchive != archive) {
            continue;
        }
        CComPtr<IMsgStore> store;
        Must(session->OpenMsgStore(0, props[0].Value.bin.cb,
                                   reinterpret_cast<LPENTRYID>(props[0].Value.bin.lpb), nullptr,
                                   MAPI_BEST_ACCESS, &store),
             "OpenMsgStore");
        return store;
    }
    Must(MAPI_E_NOT_FOUND, "no such store");
    return nullptr;
}

void PutSettings(IMsgStore* store, const std::wstring& text, int minutesAgo) {
    CComPtr<IMAPIFolder> inbox = OpenInbox(store);
    CComPtr<IMessage> message;
    Must(inbox->CreateMessage(nullptr, MAPI_ASSOCIATED, &message), "CreateMessage");
    FILETIME now;
    ::GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER created{{now.dwLowDateTime, now.dwHighDateTime}};
    created.QuadPart -= static_cast<ULONGLONG>(minutesAgo) * 60 * 10000000ULL;
    SPropValue props[2] = {};
    props[0].ulPropTag = kClassA;
    props[0].Value.lpszA = const_cast<char*>("IPM.Note.Stowhaven.Settings");
    props[1].ulPropTag = PR_CREATION_TIME;
    props[1].Value.ft = {created.LowPart, created.HighPart};
    Must(message->SetProps(2, props, nullptr), "SetProps(settings)");
    ULONG number = 0;
    CComPtr<IAttach> attachment;
    Must(message->CreateAttach(nullptr, 0, &number, &attachment), "CreateAttach");
    std::wstring bytes = L"\xFEFF" + text;
    SPropValue data{};
    data.ulPropTag = PR_ATTACH_DATA_BIN;
    data.Value.bin.cb = static_cast<ULONG>(bytes.size() * sizeof(wchar_t));
    data.Value.bin.lpb = reinterpret_cast<BYTE*>(&bytes[0]);
    Must(attachment->SetProps(1, &data, nullptr), "SetProps(attachment)");
    Must(attachment->SaveChanges(0), "SaveChanges(attachment)");
    Must(message->SaveChanges(0), "SaveChanges(settings)");
}

CComPtr<IMessage> PutItem(IMsgStore* store, const char* messageClass, const wchar_t* archiveId,
                          bool associated, const wchar_t* storeId) {
    CComPtr<IMAPIFolder> inbox = OpenInbox(store);
    CComPtr<IMessage> message;
    Must(inbox->CreateMessage(nullptr, associated ? MAPI_ASSOCIATED : 0, &message), "CreateMessage");
    SPropValue props[2] = {};
    props[0].ulPropTag = kClassA;
    props[0].Value.lpszA = const_cast<char*>(messageClass);
    const wchar_t* named = archiveId != nullptr ? archiveId : storeId;
    props[1].ulPropTag =
        named == nullptr ? PR_NULL : NamedTag(message, archiveId ? L"Archive ID" : L"Store Id");
    props[1].Value.lpszW = const_cast<wchar_t*>(named);
    Must(message->SetProps(named != nullptr ? 2 : 1, props, nullptr), "SetProps(item)");
    Must(message->SaveChanges(KEEP_OPEN_READWRITE), "SaveChanges(item)");
    return message;
}

void PutMarker(IMsgStore* store, const wchar_t* storeId) {
    PutItem(store, "IPM.Stowhaven.Hoardlocal", nullptr, true, storeId);
}

void SetStoreId(IMsgStore* store, const wchar_t* storeId) {
    CComPtr<IMessage> marker = NewestHidden(store, "IPM.Stowhaven.Hoardlocal");
    SPropValue value{};
    value.ulPropTag = NamedTag(marker, L"Store Id");
    value.Value.lpszW = const_cast<wchar_t*>(storeId);
    Must(marker->SetProps(1, &value, nullptr), "SetProps(Store Id)");
    Must(marker->SaveChanges(0), "SaveChanges(Store Id)");
}

void MakeDefault(IMsgStore* store) {
    TidyMAPIBuffer<SPropValue> eid;
    Must(HrGetOneProp(store, PR_ENTRYID, eid.put()), "HrGetOneProp(PR_ENTRYID)");
    Must(Session()->SetDefaultStore(MAPI_DEFAULT_STORE, eid->Value.bin.cb,
                                    reinterpret_cast<LPENTRYID>(eid->Value.bin.lpb)),
         "SetDefaultStore");
}

std::wstring ReadStoreId(IMsgStore* store) {
    CComPtr<IMessage> marker = NewestHidden(store, "IPM.Stowhaven.Hoardlocal");
    if (!marker) {
        return std::wstring();
    }
    TidyMAPIBuffer<SPropValue> value;
    if (FAILED(HrGetOneProp(marker, NamedTag(marker, L"Store Id"), value.put()))) {
        return std::wstring();
    }
    return value->Value.lpszW;
}

ULONG CountHidden(IMsgStore* store, const char* messageClass) {
    TidyRowSet rows;
    HiddenRows(OpenInbox(store), messageClass, rows);
    return rows->cRows;
}

} // namespace mailboxtest
