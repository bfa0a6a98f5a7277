// HearthkitConfig: the desktop settings message in the user's mailbox, its
// attachment, and the owner of a mailbox store.
#include "config/ConfigMapi.h"
#include "config/SettingsText.h"
#include "HkResult.h"

#include <algorithm>
#include <vector>

namespace {

const char kSettingsClass[] = "IPM.Note.Stowhaven.Settings";
const ULONG kBestAccessNoMail = MAPI_BEST_ACCESS | MDB_NO_MAIL;
const ULONG kDeleteHardDelete = 0x10;

// Columns of the store table, in this order.
enum StoreColumn { kStoreEntryId, kStoreName, kStoreDefault, kStoreKind, kStoreColumns };

const wchar_t* DisplayName(const SPropValue& value) {
    return PROP_TYPE(value.ulPropTag) == PT_UNICODE && value.Value.lpszW != nullptr ? value.Value.lpszW : L"";
}

bool IsDefaultStore(const SPropValue& value) {
    return PROP_TYPE(value.ulPropTag) == PT_BOOLEAN && value.Value.b != 0;
}

// Writes the session's extended error for hr, when it has one.
void LogExtendedError(CDesktopLog& log, IMAPISession* session, HRESULT hr) {
    TidyMAPIBuffer<MAPIERROR> error;
    if (SUCCEEDED(session->GetLastError(hr, MAPI_UNICODE, error.put())) && error &&
        error->lpszError != nullptr) {
        log.LogText(LOG_ERROR, "Extended error: %s\n", reinterpret_cast<const wchar_t*>(error->lpszError));
    }
}

// The settings text is a few kilobytes; an attachment above this is no
// settings file, and reading it would cost the host its memory.
const ULONG kMaxSettingsBytes = 16 * 1024 * 1024;
const HRESULT kTooBig = MAPI_E_TOO_BIG;

// Reads what the stream holds into bytes. The size Stat claims only sizes
// the first allocation: a provider may claim more or less than it holds.
// More than kMaxSettingsBytes: kTooBig.
HRESULT ReadSettingsStream(IStream* stream, std::vector<BYTE>& bytes) {
    const size_t kChunk = 64 * 1024;
    STATSTG stat{};
    if (SUCCEEDED(stream->Stat(&stat, STATFLAG_NONAME))) {
        bytes.reserve(static_cast<size_t>(std::min<ULONGLONG>(stat.cbSize.QuadPart, kMaxSettingsBytes)));
    }
    size_t filled = 0;
    for (;;) {
        bytes.resize(filled + kChunk);
        ULONG read = 0;
        HRESULT hr = stream->Read(bytes.data() + filled, static_cast<ULONG>(kChunk), &read);
        if (FAILED(hr)) {
            return hr;
        }
        filled += std::min<size_t>(read, kChunk);
        if (filled > kMaxSettingsBytes) {
            return kTooBig;
        }
        if (read == 0) {
            bytes.resize(filled);
            return S_OK;
        }
    }
}

} // namespace

HRESULT HearthkitConfig::OpenDesktopSettingsAttachment(IMAPISession* session, const BYTE* provider,
                                                       IMsgStore** store, IAttach** attachment,
                                                       bool* hiddenInNonDefaultStore) {
    HRESULT hr = S_OK;
    CDesktopLog log("HearthkitConfig::OpenDesktopSettingsAttachment", &hr);
    if (session == nullptr || provider == nullptr) {
        return hr = HkNullArgument(log, "session or provider", E_POINTER);
    }
    const bool primary = std::memcmp(provider, hk::config::kPrimaryMailboxProvider, 16) == 0;
    const bool delegate = std::memcmp(provider, hk::config::kDelegateMailboxProvider, 16) == 0;
    try {
        CComPtr<IMAPITable> table;
        hr = session->GetMsgStoresTable(0, &table);
        log.LogHR(LOG_DETAIL, "GetMsgStoresTable", hr);
        if (FAILED(hr)) {
            return hr;
        }
        SPropValue uid{};
        uid.ulPropTag = PR_MDB_PROVIDER;
        uid.Value.bin.cb = 16;
        uid.Value.bin.lpb = const_cast<BYTE*>(provider);
        SRestriction restriction = hk::mapi::PropertyRestriction(RELOP_EQ, uid);
        SizedSPropTagArray(kStoreColumns, columns) = {
            kStoreColumns, {PR_ENTRYID, PR_DISPLAY_NAME_W, PR_DEFAULT_STORE, hk::config::kPrMailboxKind}};
        TidyRowSet rows;
        hr = HrQueryAllRows(table, hk::mapi::TagArray(columns), &restriction, nullptr, 0, rows.put());
        if (FAILED(hr)) {
            return hr;
        }
        const ULONG count = rows ? rows->cRows : 0;
        log.LogInt(LOG_DETAIL, "Mailboxes: %d\n", static_cast<int>(count));
        if (count == 0) {
            return hr = E_FAIL;
        }
        if (hiddenInNonDefaultStore != nullptr) {
            *hiddenInNonDefaultStore = false;
        }
        for (ULONG i = 0; i < count; ++i) {
            const SRow& row = rows->aRow[i];
            if (row.cValues != kStoreColumns) {
                hr = E_FAIL;
                continue;
            }
            const wchar_t* name = DisplayName(row.lpProps[kStoreName]);
            const SPropValue& eid = row.lpProps[kStoreEntryId];
            const bool hasEntryId = PROP_TYPE(eid.ulPropTag) == PT_BINARY;
            if (primary && !IsDefaultStore(row.lpProps[kStoreDefault])) {
                // Another user's primary mailbox opened in this profile: never
                // the source of this user's settings, but the caller learns
                // when it holds them.
                if (hiddenInNonDefaultStore != nullptr && !*hiddenInNonDefaultStore && hasEntryId) {
                    CComPtr<IMsgStore> other;
                    if (SUCCEEDED(session->OpenMsgStore(0, eid.Value.bin.cb,
                                                        reinterpret_cast<LPENTRYID>(eid.Value.bin.lpb),
                                                        nullptr, kBestAccessNoMail, &other))) {
                        *hiddenInNonDefaultStore = DoesHiddenMsgExistInStore(other);
                    }
                    if (*hiddenInNonDefaultStore) {
                        log.LogText(LOG_DETAIL,
                                    "Name: %s [hidden message found in non-default Exchange store]\n", name);
                    }
                }
                log.LogText(LOG_DETAIL, "Name: %s [ignoring non-default Exchange store]\n", name);
                continue;
            }
            const SPropValue& kind = row.lpProps[kStoreKind];
            if (delegate && PROP_TYPE(kind.ulPropTag) == PT_LONG &&
                kind.Value.l == hk::config::kArchiveMailboxKind) {
                log.LogText(LOG_DETAIL, "Name: %s [ignoring Archive Mailbox store]\n", name);
                continue;
            }
            log.LogText(LOG_DETAIL, "Name: %s\n", name);
            if (!hasEntryId) {
                hr = E_FAIL;
                continue;
            }
            CComPtr<IMsgStore> opened;
            hr = session->OpenMsgStore(0, eid.Value.bin.cb, reinterpret_cast<LPENTRYID>(eid.Value.bin.lpb),
                                       nullptr, kBestAccessNoMail, &opened);
            log.LogHR(LOG_DETAIL, "OpenMsgStore", hr);
            if (hr == MAPI_E_EXTENDED_ERROR) {
                LogExtendedError(log, session, hr);
            }
            if (FAILED(hr)) {
                continue;
            }
            CComPtr<IAttach> found;
            hr = OpenDesktopSettingsAttachmentInStore(opened, &found);
            if (SUCCEEDED(hr)) {
                if (attachment != nullptr) {
                    *attachment = found.Detach();
                }
                if (store != nullptr) {
                    *store = opened.Detach();
                }
                return hr = S_OK;
            }
        }
    } catch (...) {
        hr = HkCaughtToHr(log, "HearthkitConfig::OpenDesktopSettingsAttachment");
    }
    if (attachment != nullptr) {
        *attachment = nullptr;
    }
    if (store != nullptr) {
        *store = nullptr;
    }
    return hr = E_FAIL;
}

HRESULT HearthkitConfig::OpenDesktopSettingsAttachmentInStore(IMsgStore* store, IAttach** attachment) {
    HRESULT hr = S_OK;
    CDesktopLog log("HearthkitConfig::OpenDesktopSettingsAttachmentInStore", &hr);
    if (store == nullptr || attachment == nullptr) {
        return hr = HkNullArgument(log, "store or attachment", E_POINTER);
    }
    try {
        CheckedHr check;
        CComPtr<IMAPIFolder> inbox = hk::config::OpenInbox(store, nullptr);
        SizedSPropTagArray(1, columns) = {1, {PR_ENTRYID}};
        TidyRowSet rows;
        hk::config::QueryHiddenMessages(inbox, kSettingsClass, hk::mapi::TagArray(columns), PR_CREATION_TIME,
                                        rows);
        const ULONG count = rows ? rows->cRows : 0;
        if (count == 0) {
            return hr = E_FAIL;
        }
        if (count > 1) {
            log.LogInt(LOG_INFO, "Found %d additional Desktop Settings message(s)\n",
                       static_cast<int>(count - 1));
        }
        // Only the newest copy counts; the others would confuse the next
        // publication's readers.
        for (ULONG i = 1; i < count; ++i) {
            LPSPropValue eid = PpropFindProp(rows->aRow[i].lpProps, rows->aRow[i].cValues, PR_ENTRYID);
            if (eid == nullptr) {
                continue;
            }
            // MAPI_W_PARTIAL_COMPLETION means the message is still there:
            // only S_OK counts as deleted.
            ENTRYLIST list = {1, &eid->Value.bin};
            if (inbox->DeleteMessages(&list, 0, nullptr, kDeleteHardDelete) == S_OK ||
                inbox->DeleteMessages(&list, 0, nullptr, 0) == S_OK) {
                log.LogInt(LOG_INFO, "Deleted additional Desktop Settings message: %d\n",
                           static_cast<int>(i));
            }
        }
        LPSPropValue eid = PpropFindProp(rows->aRow[0].lpProps, rows->aRow[0].cValues, PR_ENTRYID);
        if (eid == nullptr) {
            return hr = E_FAIL;
        }
        ULONG type = 0;
        CComPtr<IMessage> message;
        check =
            inbox->OpenEntry(eid->Value.bin.cb, reinterpret_cast<LPENTRYID>(eid->Value.bin.lpb),
                             &IID_IMessage, MAPI_BEST_ACCESS, &type, reinterpret_cast<LPUNKNOWN*>(&message));
        CComPtr<IMAPITable> attachments;
        check = message->GetAttachmentTable(0, &attachments);
        SizedSPropTagArray(1, numberColumn) = {1, {PR_ATTACH_NUM}};
        check = attachments->SetColumns(hk::mapi::TagArray(numberColumn), 0);
        TidyRowSet first;
        check = attachments->QueryRows(1, 0, first.put());
        LPSPropValue number = first && first->cRows > 0 ? PpropFindProp(first->aRow[0].lpProps,
                                                                        first->aRow[0].cValues, PR_ATTACH_NUM)
                                                        : nullptr;
        if (number == nullptr) {
            return hr = E_FAIL;
        }
        check = message->OpenAttach(number->Value.l, nullptr, MAPI_BEST_ACCESS, attachment);
    } catch (...) {
        hr = HkCaughtToHr(log, "HearthkitConfig::OpenDesktopSettingsAttachmentInStore");
    }
    return hr;
}

bool HearthkitConfig::DoesHiddenMsgExistInStore(IMsgStore* store) {
    CDesktopLog log("HearthkitConfig::DoesHiddenMsgExistInStore");
    if (store == nullptr) {
        HkNullArgument(log, "store");
        return false;
    }
    try {
        CComPtr<IMAPIFolder> inbox = hk::config::OpenInbox(store, nullptr);
        SizedSPropTagArray(1, columns) = {1, {PR_ENTRYID}};
        TidyRowSet rows;
        hk::config::QueryHiddenMessages(inbox, kSettingsClass, hk::mapi::TagArray(columns), 0, rows);
        return rows && rows->cRows > 0;
    } catch (...) {
        HkCaughtToHr(log, nullptr);
        return false;
    }
}

HRESULT HearthkitConfig::GetMailUserProperty(IMAPISession* session, IMsgStore* store, ULONG tag,
                                             LPSPropValue* value) {
    HRESULT hr = S_OK;
    CDesktopLog log("HearthkitConfig::GetMailUserProperty", &hr);
    if (session == nullptr || store == nullptr || value == nullptr) {
        return hr = HkNullArgument(log, "session, store or value");
    }
    try {
        CheckedHr check;
        TidyMAPIBuffer<SPropValue> owner;
        check = HrGetOneProp(store, PR_USER_ENTRYID, owner.put());
        if (PROP_TYPE(owner->ulPropTag) != PT_BINARY) {
            return hr = MAPI_E_NOT_FOUND;
        }
        ULONG type = 0;
        CComPtr<IMailUser> user;
        check = session->OpenEntry(owner->Value.bin.cb, reinterpret_cast<LPENTRYID>(owner->Value.bin.lpb),
                                   &IID_IMailUser, 0, &type, reinterpret_cast<LPUNKNOWN*>(&user));
        check = HrGetOneProp(user, tag, value);
    } catch (...) {
        hr = HkCaughtToHr(log, "HearthkitConfig::GetMailUserProperty");
    }
    return hr;
}

HRESULT HearthkitConfig::GetAttachmentLastModifiedTime(IAttach* attachment, double* time) {
    if (attachment == nullptr || time == nullptr) {
        CDesktopLog log("HearthkitConfig::GetAttachmentLastModifiedTime");
        return HkNullArgument(log, "attachment or time", E_POINTER);
    }
    TidyMAPIBuffer<SPropValue> modified;
    HRESULT hr = HrGetOneProp(attachment, PR_LAST_MODIFICATION_TIME, modified.put());
    if (FAILED(hr) || PROP_TYPE(modified->ulPropTag) != PT_SYSTIME) {
        return FAILED(hr) ? hr : MAPI_E_NOT_FOUND;
    }
    SYSTEMTIME system;
    double date = 0;
    if (::FileTimeToSystemTime(&modified->Value.ft, &system)) {
        system.wMilliseconds = 0;
        if (::SystemTimeToVariantTime(&system, &date)) {
            *time = date;
        }
    }
    return hr;
}

HRESULT HearthkitConfig::PopulateSettingsCache(IAttach* attachment, HkSettingsMap* settings) {
    HRESULT hr = S_OK;
    CDesktopLog log("HearthkitConfig::PopulateSettingsCache", &hr);
    if (attachment == nullptr || settings == nullptr) {
        return hr = HkNullArgument(log, "attachment or settings", E_POINTER);
    }
    try {
        CheckedHr check;
        CComPtr<IStream> stream;
        check = attachment->OpenProperty(PR_ATTACH_DATA_BIN, &IID_IStream, STGM_READ, 0,
                                         reinterpret_cast<LPUNKNOWN*>(&stream));
        std::vector<BYTE> bytes;
        hr = ReadSettingsStream(stream, bytes);
        if (hr == kTooBig) {
            log.LogInt(LOG_ERROR, "Desktop settings attachment larger than %d bytes: not read\n",
                       static_cast<int>(kMaxSettingsBytes));
            return hr;
        }
        check = hr;
        hk::config::ParseSettingsBytes(bytes.data(), bytes.size(), *settings);
    } catch (...) {
        hr = HkCaughtToHr(log, "HearthkitConfig::PopulateSettingsCache", E_FAIL);
    }
    return hr;
}
