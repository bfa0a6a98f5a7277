// HearthkitUtil: stores of a kind in the session, archived items and the
// product's filter message.
#include "HearthkitUtil.h"

#include "CDesktopLog.h"
#include "HkResult.h"
#include "TidyRowSet.h"
#include "config/ConfigMapi.h"

#include <cstring>

namespace {

const BYTE kPublicFoldersProvider[16] = {0x78, 0xB2, 0xFA, 0x70, 0xAF, 0xF7, 0x11, 0xCD,
                                         0x9B, 0xC8, 0x00, 0xAA, 0x00, 0x2F, 0xC4, 0x5A};
const BYTE kPersonalFoldersProvider[16] = {0x4E, 0x49, 0x54, 0x41, 0xF9, 0xBF, 0xB8, 0x01,
                                           0x00, 0xAA, 0x00, 0x37, 0xD9, 0x6E, 0x00, 0x00};

const BYTE* ProviderOf(MessageStoreType type) {
    switch (type) {
    case MessageStoreTypePublicFolders:
        return kPublicFoldersProvider;
    case MessageStoreTypeDelegateMailbox:
        return hk::config::kDelegateMailboxProvider;
    case MessageStoreTypePersonalFolders:
        return kPersonalFoldersProvider;
    default:
        return hk::config::kPrimaryMailboxProvider;
    }
}

// Classes of the product's own transient items, never archived ones.
bool IsTransientClass(const char* messageClass) {
    static const char kPending[] = "Stowhaven.PendingArchive";
    static const char* const kShortcutRequests[] = {"IPM.Note.Stowhaven.Shortcut.DeleteMe",
                                                    "IPM.Note.Stowhaven.Shortcut.RestoreMe"};
    if (std::strstr(messageClass, kPending) != nullptr) {
        return true;
    }
    for (const char* prefix : kShortcutRequests) {
        if (_strnicmp(messageClass, prefix, std::strlen(prefix)) == 0) {
            return true;
        }
    }
    return false;
}

} // namespace

HRESULT HearthkitUtil::OpenStoreOfType(MessageStoreType type, IMAPISession* session, IMsgStore** store) {
    HRESULT hr = S_OK;
    CDesktopLog log("HearthkitUtil::OpenStoreOfType", &hr);
    if (session == nullptr || store == nullptr) {
        return hr = HkNullArgument(log, "session or store");
    }
    try {
        CheckedHr check;
        CComPtr<IMAPITable> table;
        check = session->GetMsgStoresTable(0, &table);
        SPropValue provider{};
        provider.ulPropTag = PR_MDB_PROVIDER;
        provider.Value.bin.cb = 16;
        provider.Value.bin.lpb = const_cast<BYTE*>(ProviderOf(type));
        SPropValue extra{};
        SRestriction parts[2] = {};
        parts[0] = hk::mapi::PropertyRestriction(RELOP_EQ, provider);
        ULONG partCount = 1;
        if (type == MessageStoreTypePrimaryMailbox) {
            extra.ulPropTag = PR_DEFAULT_STORE;
            extra.Value.b = TRUE;
            parts[partCount++] = hk::mapi::PropertyRestriction(RELOP_EQ, extra);
        } else if (type == MessageStoreTypeDelegateMailbox) {
            extra.ulPropTag = hk::config::kPrMailboxKind;
            extra.Value.l = hk::config::kArchiveMailboxKind;
            parts[partCount++] = hk::mapi::PropertyRestriction(RELOP_NE, extra);
        }
        SRestriction both{};
        both.rt = RES_AND;
        both.res.resAnd.cRes = partCount;
        both.res.resAnd.lpRes = parts;
        SizedSPropTagArray(1, columns) = {1, {PR_ENTRYID}};
        TidyRowSet rows;
        check = HrQueryAllRows(table, hk::mapi::TagArray(columns), partCount == 1 ? parts : &both, nullptr, 0,
                               rows.put());
        LPSPropValue found = rows && rows->cRows > 0
                                 ? PpropFindProp(rows->aRow[0].lpProps, rows->aRow[0].cValues, PR_ENTRYID)
                                 : nullptr;
        if (found == nullptr) {
            return hr = E_FAIL;
        }
        const SBinary& eid = found->Value.bin;
        check = session->OpenMsgStore(0, eid.cb, reinterpret_cast<LPENTRYID>(eid.lpb), nullptr,
                                      MAPI_BEST_ACCESS | MDB_NO_MAIL, store);
    } catch (...) {
        hr = HkCaughtToHr(log, "HearthkitUtil::OpenStoreOfType");
    }
    return hr;
}

bool HearthkitUtil::IsArchivedItem(IMessage* message) {
    CDesktopLog log("HearthkitUtil::IsArchivedItem");
    if (message == nullptr) {
        HkNullArgument(log, "message");
        return false;
    }
    try {
        ULONG archiveId = 0;
        try {
            archiveId = hk::config::ProductNamedTag(message, L"Archive ID", PT_UNSPECIFIED);
        } catch (const _com_error&) {
            return false;
        }
        SizedSPropTagArray(2, tags) = {2, {archiveId, PR_MESSAGE_CLASS_A}};
        ULONG count = 0;
        TidyMAPIBuffer<SPropValue> values;
        if (FAILED(message->GetProps(hk::mapi::TagArray(tags), 0, &count, values.put())) || !values ||
            count != 2) {
            return false;
        }
        const SPropValue& id = values.get()[0];
        const SPropValue& messageClass = values.get()[1];
        return PROP_TYPE(id.ulPropTag) != PT_ERROR && PROP_TYPE(messageClass.ulPropTag) == PT_STRING8 &&
               messageClass.Value.lpszA != nullptr && !IsTransientClass(messageClass.Value.lpszA);
    } catch (...) {
        HkCaughtToHr(log, nullptr);
        return false;
    }
}

HRESULT HearthkitUtil::GetFilterMessage(IMsgStore* store, IMAPIFolder* folder, IMessage** message) {
    HRESULT hr = S_OK;
    CDesktopLog log("HearthkitUtil::GetFilterMessage", &hr);
    if (message == nullptr) {
        return hr = HkNullArgument(log, "message");
    }
    *message = nullptr;
    if (store == nullptr || folder == nullptr) {
        return hr = HkNullArgument(log, "store or folder");
    }
    try {
        CheckedHr check;
        CComPtr<IMAPITable> table;
        check = folder->GetContentsTable(MAPI_ASSOCIATED, &table);
        SPropValue prefix{};
        prefix.ulPropTag = PR_MESSAGE_CLASS_A;
        prefix.Value.lpszA = const_cast<char*>("IPM.Stowhaven.Filter");
        SRestriction restriction = hk::mapi::ContentRestriction(FL_PREFIX, prefix);
        SizedSPropTagArray(2, columns) = {2, {PR_MESSAGE_CLASS_A, PR_ENTRYID}};
        TidyRowSet rows;
        check = HrQueryAllRows(table, hk::mapi::TagArray(columns), &restriction, nullptr, 0, rows.put());
        if (!rows || rows->cRows == 0) {
            return hr = MAPI_E_NOT_FOUND;
        }
        LPSPropValue eid = PpropFindProp(rows->aRow[0].lpProps, rows->aRow[0].cValues, PR_ENTRYID);
        if (eid == nullptr) {
            return hr = MAPI_E_NOT_FOUND;
        }
        ULONG type = 0;
        check = store->OpenEntry(eid->Value.bin.cb, reinterpret_cast<LPENTRYID>(eid->Value.bin.lpb), nullptr,
                                 MAPI_BEST_ACCESS, &type, reinterpret_cast<LPUNKNOWN*>(message));
    } catch (...) {
        hr = HkCaughtToHr(log, "HearthkitUtil::GetFilterMessage");
    }
    return hr;
}
