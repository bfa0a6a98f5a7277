#include "MapiStandin.h"

#include "ClientKeys.h"
#include "HkHandle.h"
#include "Scenario.h"

#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace hk {
namespace test {

const wchar_t kMapiProfilesKey[] =
    L"Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows Messaging Subsystem\\Profiles";
const BYTE kPrimaryProvider[16] = {0x54, 0x94, 0xA1, 0xC0, 0x29, 0x7F, 0x10, 0x1B,
                                   0xA5, 0x87, 0x08, 0x00, 0x2B, 0x2A, 0x25, 0x17};
const BYTE kDelegateProvider[16] = {0x9E, 0xB4, 0x77, 0x00, 0x74, 0xE4, 0x11, 0xCE,
                                    0x8C, 0x5E, 0x00, 0xAA, 0x00, 0x42, 0x54, 0xE2};

const wchar_t kOutlookKey[] = L"Software\\Clients\\Mail\\Microsoft Outlook";

namespace {
// The product's property set, in which "Archive ID" and "Store Id" live.
const GUID kProductSet = {0xD0F41A15, 0x9E91, 0xD111, {0x84, 0xE6, 0x00, 0x00, 0xF8, 0x77, 0xD4, 0x28}};
const ULONG kMailboxKind = PROP_TAG(PT_LONG, 0x6806);
const ULONG kArchiveKind = 32;

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

// Entry ids of the Inbox's associated messages of the class, newest (by
// modification) first.
void HiddenRows(IMAPIFolder* inbox, const char* messageClass, TidyRowSet& rows) {
    CComPtr<IMAPITable> table;
    Must(inbox->GetContentsTable(MAPI_ASSOCIATED, &table), "GetContentsTable");
    Match match(PR_MESSAGE_CLASS_A);
    match.value.Value.lpszA = const_cast<char*>(messageClass);
    SSortOrderSet sort = {1, 0, 0, {{PR_LAST_MODIFICATION_TIME, TABLE_SORT_DESCEND}}};
    Must(QueryAll(table, {PR_ENTRYID}, &match.r, &rows, &sort), "HrQueryAllRows(hidden)");
}

} // namespace

void Must(HRESULT hr, const char* what) {
    if (FAILED(hr)) {
        char text[160];
        std::snprintf(text, sizeof(text), "%s failed: 0x%08lx", what, static_cast<unsigned long>(hr));
        throw std::runtime_error(text);
    }
}

MapiStandinRegistration::MapiStandinRegistration()
    : m_outlook(HKEY_LOCAL_MACHINE, kOutlookKey), m_profiles(HKEY_CURRENT_USER, kMapiProfilesKey) {
    EXPECT_EQ(S_OK, MapiStandinRegister(nullptr));
}

void MapiTest::SetUp() {
    ASSERT_TRUE(MAPILoader::Instance().IsLoaded()) << "Hearthkit.dll did not bind the MAPI stand-in";
    MapiStandinReset();
    m_objects = MapiStandinLiveObjects();
    m_buffers = MapiStandinLiveBuffers();
    m_badFrees = MapiStandinBadFrees();
}

void MapiTest::TearDown() {
    if (IsSkipped()) {
        return;
    }
    ReleaseAll();
    EXPECT_EQ(m_objects, MapiStandinLiveObjects()) << "stand-in objects leaked";
    EXPECT_EQ(m_buffers, MapiStandinLiveBuffers()) << "MAPI buffers leaked";
    EXPECT_EQ(m_badFrees, MapiStandinBadFrees()) << "MAPIFreeBuffer of a freed or foreign pointer";
    MapiStandinReset();
}

HRESULT CreateMailboxProfile(bool delegate, bool archive) {
    MapiStandinMailbox mailbox = {L"jdoe", L"John Doe", "exch01.example", delegate, archive, TRUE};
    return MapiStandinCreateMailboxProfile(L"ConfigTest", &mailbox);
}

CComPtr<IMAPISession> DefaultSession() {
    CComPtr<IMAPISession> session;
    Must(MAPILogonEx(0, nullptr, nullptr, MAPI_EXTENDED | MAPI_ALLOW_OTHERS, &session), "MAPILogonEx");
    return session;
}

CComPtr<IMsgStore> OpenMailboxStore(const BYTE* provider, bool archive) {
    CComPtr<IMAPISession> session = DefaultSession();
    CComPtr<IMAPITable> table;
    Must(session->GetMsgStoresTable(0, &table), "GetMsgStoresTable");
    enum { kEntryId, kProvider, kKind };
    TidyRowSet rows;
    Must(QueryAll(table, {PR_ENTRYID, PR_MDB_PROVIDER, kMailboxKind}, nullptr, &rows),
         "HrQueryAllRows(stores)");
    for (ULONG i = 0; i < rows->cRows; ++i) {
        const SPropValue* props = rows->aRow[i].lpProps;
        bool isArchive = props[kKind].ulPropTag == kMailboxKind && props[kKind].Value.l == kArchiveKind;
        if (props[kProvider].ulPropTag != PR_MDB_PROVIDER || props[kProvider].Value.bin.cb != 16 ||
            std::memcmp(props[kProvider].Value.bin.lpb, provider, 16) != 0 || isArchive != archive) {
            continue;
        }
        CComPtr<IMsgStore> store;
        const SBinary& eid = props[kEntryId].Value.bin;
        Must(session->OpenMsgStore(0, eid.cb, reinterpret_cast<LPENTRYID>(eid.lpb), nullptr, MAPI_BEST_ACCESS,
                                   &store),
             "OpenMsgStore");
        return store;
    }
    Must(MAPI_E_NOT_FOUND, "no such store");
    return nullptr;
}

CComPtr<IMAPIFolder> OpenInbox(IMsgStore* store) {
    ULONG cb = 0, type = 0;
    TidyMAPIBuffer<ENTRYID> eid;
    Must(store->GetReceiveFolder(nullptr, 0, &cb, eid.put(), nullptr), "GetReceiveFolder");
    CComPtr<IMAPIFolder> folder;
    Must(store->OpenEntry(cb, eid.get(), &IID_IMAPIFolder, MAPI_BEST_ACCESS, &type,
                          reinterpret_cast<LPUNKNOWN*>(&folder)),
         "OpenEntry(folder)");
    return folder;
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
    props[0].ulPropTag = PR_MESSAGE_CLASS_A;
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
    props[0].ulPropTag = PR_MESSAGE_CLASS_A;
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

void MakeDefault(IMsgStore* store) {
    TidyMAPIBuffer<SPropValue> eid;
    Must(HrGetOneProp(store, PR_ENTRYID, eid.put()), "HrGetOneProp(PR_ENTRYID)");
    Must(DefaultSession()->SetDefaultStore(MAPI_DEFAULT_STORE, eid->Value.bin.cb,
                                           reinterpret_cast<LPENTRYID>(eid->Value.bin.lpb)),
         "SetDefaultStore");
}

std::wstring ReadStoreId(IMsgStore* store) {
    CComPtr<IMAPIFolder> inbox = OpenInbox(store);
    TidyRowSet rows;
    HiddenRows(inbox, "IPM.Stowhaven.Hoardlocal", rows);
    CComPtr<IMessage> marker;
    TidyMAPIBuffer<SPropValue> value;
    ULONG type = 0;
    if (rows->cRows == 0) {
        return std::wstring();
    }
    const SBinary& eid = rows->aRow[0].lpProps[0].Value.bin;
    Must(inbox->OpenEntry(eid.cb, reinterpret_cast<LPENTRYID>(eid.lpb), &IID_IMessage, MAPI_BEST_ACCESS,
                          &type, reinterpret_cast<LPUNKNOWN*>(&marker)),
         "OpenEntry(marker)");
    return FAILED(HrGetOneProp(marker, NamedTag(marker, L"Store Id"), value.put())) ? std::wstring()
                                                                                    : value->Value.lpszW;
}

ULONG CountHidden(IMsgStore* store, const char* messageClass) {
    TidyRowSet rows;
    HiddenRows(OpenInbox(store), messageClass, rows);
    return rows->cRows;
}

Match::Match(ULONG tag, ULONG op, ULONG rt) {
    value.ulPropTag = tag;
    r.rt = rt;
    if (rt == RES_CONTENT) {
        r.res.resContent = {op, tag, &value};
    } else {
        r.res.resProperty = {op, tag, &value};
    }
}

HRESULT QueryAll(IMAPITable* table, std::initializer_list<ULONG> columns, SRestriction* r, TidyRowSet* rows,
                 SSortOrderSet* sort, LONG maxRows) {
    std::vector<ULONG> tags{static_cast<ULONG>(columns.size())};
    tags.insert(tags.end(), columns.begin(), columns.end());
    return HrQueryAllRows(table, reinterpret_cast<LPSPropTagArray>(tags.data()), r, sort, maxRows,
                          rows->put());
}

} // namespace test
} // namespace hk
