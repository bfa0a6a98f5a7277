// HearthkitConfig: the shared MAPI session, the default store and the
// Hoardlocal marker message that names the store key.
#include "config/ConfigMapi.h"
#include "HearthkitUtil.h"
#include "HkResult.h"

#include <cstring>

CComPtr<IMAPISession> HearthkitConfig::m_pSession;

namespace hk {
namespace config {

const BYTE kPrimaryMailboxProvider[16] = {0x54, 0x94, 0xA1, 0xC0, 0x29, 0x7F, 0x10, 0x1B,
                                          0xA5, 0x87, 0x08, 0x00, 0x2B, 0x2A, 0x25, 0x17};
const BYTE kDelegateMailboxProvider[16] = {0x9E, 0xB4, 0x77, 0x00, 0x74, 0xE4, 0x11, 0xCE,
                                           0x8C, 0x5E, 0x00, 0xAA, 0x00, 0x42, 0x54, 0xE2};

namespace {

const char kHoardlocalClass[] = "IPM.Stowhaven.Hoardlocal";
const wchar_t kStoreIdName[] = L"Store Id";
const ULONG kBestAccessNoMail = MAPI_BEST_ACCESS | MDB_NO_MAIL;

} // namespace

CHkCriticalSection& ConfigLock() {
    static CHkCriticalSection lock;
    return lock;
}

CComPtr<IMAPISession> SharedSession() {
    CHkCritSecLock lock(ConfigLock());
    return HearthkitConfig::m_pSession;
}

CComPtr<IMAPIFolder> OpenInbox(IMsgStore* store, const char* messageClass) {
    CheckedHr check;
    ULONG cb = 0;
    TidyMAPIBuffer<ENTRYID> eid;
    check = store->GetReceiveFolder(reinterpret_cast<LPTSTR>(const_cast<char*>(messageClass)), 0, &cb,
                                    eid.put(), nullptr);
    ULONG type = 0;
    CComPtr<IMAPIFolder> inbox;
    check = store->OpenEntry(cb, eid.get(), &IID_IMAPIFolder, MAPI_BEST_ACCESS, &type,
                             reinterpret_cast<LPUNKNOWN*>(&inbox));
    return inbox;
}

void QueryHiddenMessages(IMAPIFolder* inbox, const char* messageClass, LPSPropTagArray columns, ULONG sortTag,
                         TidyRowSet& rows) {
    CheckedHr check;
    CComPtr<IMAPITable> table;
    check = inbox->GetContentsTable(MAPI_ASSOCIATED, &table);
    SPropValue classValue{};
    classValue.ulPropTag = PR_MESSAGE_CLASS_A;
    classValue.Value.lpszA = const_cast<char*>(messageClass);
    SRestriction restriction = hk::mapi::PropertyRestriction(RELOP_EQ, classValue);
    SSortOrderSet sort = {1, 0, 0, {{sortTag, TABLE_SORT_DESCEND}}};
    check = HrQueryAllRows(table, columns, &restriction, sortTag != 0 ? &sort : nullptr, 0, rows.put());
}

ULONG ProductNamedTag(IMAPIProp* object, const wchar_t* name, ULONG type) {
    MAPINAMEID nameId{};
    nameId.lpguid = const_cast<GUID*>(&hk::mapi::kProductPropertySet);
    nameId.ulKind = MNID_STRING;
    nameId.Kind.lpwstrName = const_cast<wchar_t*>(name);
    LPMAPINAMEID names[] = {&nameId};
    TidyMAPIBuffer<SPropTagArray> tags;
    CheckedHr check;
    check = object->GetIDsFromNames(1, names, MAPI_CREATE, tags.put());
    if (!tags || tags->cValues != 1 || PROP_TYPE(tags->aulPropTag[0]) == PT_ERROR) {
        _com_issue_error(MAPI_E_NOT_FOUND);
    }
    return CHANGE_PROP_TYPE(tags->aulPropTag[0], type);
}

HRESULT FindHoardlocalMessage(IMsgStore* store, IMessage** message, bool* found) {
    CDesktopLog log("HearthkitConfig::FindHoardlocalMessage");
    try {
        *found = false;
        CComPtr<IMAPIFolder> inbox = OpenInbox(store, "IPM.Note");
        SizedSPropTagArray(2, columns) = {2, {PR_MESSAGE_CLASS_W, PR_ENTRYID}};
        TidyRowSet rows;
        QueryHiddenMessages(inbox, kHoardlocalClass, hk::mapi::TagArray(columns), PR_LAST_MODIFICATION_TIME,
                            rows);
        if (!rows || rows->cRows == 0) {
            return S_OK;
        }
        *found = true;
        const SRow& newest = rows->aRow[0];
        LPSPropValue eid = PpropFindProp(newest.lpProps, newest.cValues, PR_ENTRYID);
        if (eid == nullptr) {
            return MAPI_E_NOT_FOUND;
        }
        ULONG type = 0;
        CComPtr<IMessage> opened;
        CheckedHr check;
        check =
            store->OpenEntry(eid->Value.bin.cb, reinterpret_cast<LPENTRYID>(eid->Value.bin.lpb),
                             &IID_IMessage, MAPI_BEST_ACCESS, &type, reinterpret_cast<LPUNKNOWN*>(&opened));
        *message = opened.Detach();
        return S_OK;
    } catch (...) {
        return HkCaughtToHr(log, "HearthkitConfig::FindHoardlocalMessage");
    }
}

// The store key name of the session's default store: "Store Id" of
// its marker message, else its record key in upper-case hexadecimal, which
// is then written into a marker message that lacks it. An empty "Store Id"
// counts as missing: an empty name would put per-mailbox values into the
// client root key. Raises _com_error.
void DeriveStoreKeyName(IMAPISession* session, CStringW& name) {
    CheckedHr check;
    CComPtr<IMsgStore> store;
    check = HearthkitConfig::OpenDefaultStore(session, &store);
    CComPtr<IMessage> marker;
    bool found = false;
    check = FindHoardlocalMessage(store, &marker, &found);
    ULONG storeIdTag = 0;
    if (found) {
        storeIdTag = ProductNamedTag(marker, kStoreIdName, PT_UNICODE);
        SizedSPropTagArray(1, tags) = {1, {storeIdTag}};
        ULONG count = 0;
        TidyMAPIBuffer<SPropValue> values;
        HRESULT hr = marker->GetProps(hk::mapi::TagArray(tags), MAPI_UNICODE, &count, values.put());
        if (SUCCEEDED(hr) && values && count == 1 && values->ulPropTag == storeIdTag &&
            values->Value.lpszW != nullptr && values->Value.lpszW[0] != L'\0') {
            name = values->Value.lpszW;
            return;
        }
    }
    TidyMAPIBuffer<SPropValue> recordKey;
    check = HrGetOneProp(store, PR_RECORD_KEY, recordKey.put());
    if (PROP_TYPE(recordKey->ulPropTag) != PT_BINARY) {
        _com_issue_error(E_FAIL);
    }
    const SBinary& bin = recordKey->Value.bin;
    std::wstring hex(2 * static_cast<size_t>(bin.cb), L'0');
    check = HearthkitUtil::HexStrToWchar(bin, hex, static_cast<int>(hex.size() + 1));
    if (found) {
        SPropValue storeId{};
        storeId.ulPropTag = storeIdTag;
        storeId.Value.lpszW = &hex[0];
        check = marker->SetProps(1, &storeId, nullptr);
        check = marker->SaveChanges(KEEP_OPEN_READWRITE);
    }
    name = hex.c_str();
}

} // namespace config
} // namespace hk

HRESULT HearthkitConfig::LogonToMAPI() {
    HRESULT hr = S_OK;
    CDesktopLog log("HearthkitConfig::LogonToMAPI", &hr);
    CHkCritSecLock lock(hk::config::ConfigLock());
    if (m_pSession) {
        return hr;
    }
    CComPtr<IMAPISession> session;
    hr = MAPILogonEx(0, nullptr, nullptr, MAPI_EXTENDED | MAPI_ALLOW_OTHERS, &session);
    if (SUCCEEDED(hr)) {
        m_pSession = session;
    } else if (hr == MAPI_E_NOT_INITIALIZED) {
        log.LogText(
            LOG_ERROR,
            "Unable to perform a MAPI Logon - verify that Exchange System Manager is not installed\n");
        log.LogText(LOG_ERROR, "See the client's troubleshooting guide for more information\n");
    }
    return hr;
}

HRESULT HearthkitConfig::LogOffMAPI() {
    CHkCritSecLock lock(hk::config::ConfigLock());
    m_pSession.Release();
    return S_OK;
}

IMAPISession* HearthkitConfig::MAPISession() {
    CHkCritSecLock lock(hk::config::ConfigLock());
    return m_pSession;
}

HRESULT HearthkitConfig::OpenDefaultStore(IMAPISession* session, IMsgStore** store) {
    HRESULT hr = S_OK;
    CDesktopLog log("HearthkitConfig::OpenDefaultStore", &hr);
    if (session == nullptr || store == nullptr) {
        return hr = HkNullArgument(log, "session or store");
    }
    try {
        CheckedHr check;
        CComPtr<IMAPITable> table;
        check = session->GetMsgStoresTable(0, &table);
        SizedSPropTagArray(2, columns) = {2, {PR_ENTRYID, PR_DEFAULT_STORE}};
        SPropValue isDefault{};
        isDefault.ulPropTag = PR_DEFAULT_STORE;
        isDefault.Value.b = TRUE;
        SRestriction restriction = hk::mapi::PropertyRestriction(RELOP_EQ, isDefault);
        TidyRowSet rows;
        check = HrQueryAllRows(table, hk::mapi::TagArray(columns), &restriction, nullptr, 0, rows.put());
        if (!rows || rows->cRows != 1) {
            return hr = E_FAIL;
        }
        LPSPropValue eid = PpropFindProp(rows->aRow[0].lpProps, rows->aRow[0].cValues, PR_ENTRYID);
        if (eid == nullptr) {
            return hr = E_FAIL;
        }
        CComPtr<IMsgStore> opened;
        check = session->OpenMsgStore(0, eid->Value.bin.cb, reinterpret_cast<LPENTRYID>(eid->Value.bin.lpb),
                                      nullptr, hk::config::kBestAccessNoMail, &opened);
        *store = opened.Detach();
    } catch (...) {
        hr = HkCaughtToHr(log, "HearthkitConfig::OpenDefaultStore");
    }
    return hr;
}
