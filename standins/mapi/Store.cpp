// The message stores served by the stand-in's providers, over StoreData.
#include "StoreObjects.h"

namespace standin {
namespace {

class MsgStore : public PropObject<IMsgStore> {
public:
    explicit MsgStore(std::shared_ptr<StoreInfo> info) : PropObject(std::move(info), "IMsgStore") {}
    // Personal-folder stores also offer MSPST32's override request.
    STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
        bool pst = m_info->kind == StoreKindPstUnicode || m_info->kind == StoreKindPstAnsi;
        if (out && pst && riid == IID_PstOverrideRequest) {
            *out = NewOverrideRequest(m_info);
            return S_OK;
        }
        return Answer<IMsgStore>(this, riid, out, {&IID_IMAPIProp, &IID_IMsgStore});
    }

    STDMETHODIMP Advise(ULONG, LPENTRYID, ULONG, LPMAPIADVISESINK, ULONG*) override {
        return MAPI_E_NO_SUPPORT;
    }
    STDMETHODIMP Unadvise(ULONG) override { return MAPI_E_NO_SUPPORT; }
    STDMETHODIMP CompareEntryIDs(ULONG cb1, LPENTRYID e1, ULONG cb2, LPENTRYID e2, ULONG,
                                 ULONG* result) override {
        return CompareEntryIds(cb1, e1, cb2, e2, result);
    }
    STDMETHODIMP OpenEntry(ULONG cb, LPENTRYID eid, LPCIID, ULONG flags, ULONG* objType,
                           LPUNKNOWN* out) override {
        if (HRESULT hr = Hook("IMsgStore::OpenEntry", flags))
            return hr;
        if (!out)
            return MAPI_E_INVALID_PARAMETER;
        if (!eid || !cb)
            return OpenById(m_info, kEntryFolder, kRootFolder, objType, out);
        return OpenByEntryId(m_info, cb, eid, objType, out);
    }
    STDMETHODIMP SetReceiveFolder(LPTSTR, ULONG, ULONG, LPENTRYID) override { return MAPI_E_NO_SUPPORT; }
    // Every message class is received in the Inbox.
    STDMETHODIMP GetReceiveFolder(LPTSTR, ULONG flags, ULONG* cb, LPENTRYID* eid,
                                  LPTSTR* explicitClass) override {
        if (HRESULT hr = Hook("IMsgStore::GetReceiveFolder"))
            return hr;
        if (!cb || !eid)
            return MAPI_E_INVALID_PARAMETER;
        std::vector<BYTE> inbox;
        {
            std::lock_guard<std::mutex> lock(m_info->data->lock);
            inbox = m_info->data->EntryId(kEntryFolder, kInbox);
        }
        HRESULT hr = AllocateBuffer(static_cast<ULONG>(inbox.size()), reinterpret_cast<void**>(eid));
        if (FAILED(hr))
            return hr;
        memcpy(*eid, inbox.data(), inbox.size());
        *cb = static_cast<ULONG>(inbox.size());
        if (explicitClass) {
            *explicitClass = nullptr;
            ULONG size = (flags & MAPI_UNICODE) ? sizeof(wchar_t) : 1;
            if (SUCCEEDED(AllocateBuffer(size, reinterpret_cast<void**>(explicitClass))))
                memset(*explicitClass, 0, size); // the default class: ""
        }
        return S_OK;
    }
    STDMETHODIMP GetReceiveFolderTable(ULONG, LPMAPITABLE*) override { return MAPI_E_NO_SUPPORT; }
    STDMETHODIMP StoreLogoff(ULONG*) override { return S_OK; }
    STDMETHODIMP AbortSubmit(ULONG, LPENTRYID, ULONG) override { return MAPI_E_NO_SUPPORT; }
    STDMETHODIMP GetOutgoingQueue(ULONG, LPMAPITABLE*) override { return MAPI_E_NO_SUPPORT; }
    STDMETHODIMP SetLockState(LPMESSAGE, ULONG) override { return MAPI_E_NO_SUPPORT; }
    STDMETHODIMP FinishedMsg(ULONG, ULONG, LPENTRYID) override { return MAPI_E_NO_SUPPORT; }
    STDMETHODIMP NotifyNewMail(LPNOTIFICATION) override { return MAPI_E_NO_SUPPORT; }

protected:
    PropBag View() override {
        PropBag view = m_info->data->props;
        for (ULONG tag : {PR_DISPLAY_NAME_W, PR_MDB_PROVIDER, PR_MAILBOX_KIND, PR_USER_ENTRYID}) {
            if (const SPropValue* v = m_info->section.Find(tag))
                if (!view.Find(tag))
                    view.Set(*v);
        }
        view.Set(Eid(PR_ENTRYID, m_info->storeEntryId));
        view.Set(Eid(PR_STORE_ENTRYID, m_info->storeEntryId));
        view.Set(Eid(PR_IPM_SUBTREE_ENTRYID, m_info->data->EntryId(kEntryFolder, kIpmSubtree)));
        view.Set(Eid(PR_IPM_WASTEBASKET_ENTRYID, m_info->data->EntryId(kEntryFolder, kDeletedItems)));
        view.Set(MakeLong(PR_OBJECT_TYPE, MAPI_STORE));
        view.Set(MakeUnicode(PR_STANDIN_STORE_PATH, m_info->data->path.c_str()));
        LONG mask = STORE_ENTRYID_UNIQUE | STORE_ATTACH_OK | STORE_MODIFY_OK | STORE_CREATE_OK;
        if (m_info->kind != StoreKindPstAnsi)
            mask |= STORE_UNICODE_OK;
        view.Set(MakeLong(PR_STORE_SUPPORT_MASK, mask));
        return view;
    }
    PropBag& Bag() override { return m_info->data->props; }
    HRESULT Written() override { return m_info->data->Save(); }
    bool ReadOnly(ULONG tag) const override {
        return PropObject::ReadOnly(tag) || PROP_ID(tag) == PROP_ID(PR_STORE_SUPPORT_MASK);
    }
};

std::wstring StorePath(const MAPIUID& provider, const PropBag& section, StoreKind kind) {
    if (const SPropValue* path = section.Find(PR_PST_PATH_W))
        return PropString(path);
    if (kind == StoreKindPstUnicode || kind == StoreKindPstAnsi || kind == StoreKindShmsp)
        return std::wstring(); // not configured yet
    // Mailbox stores keep their content beside the user's temporary files.
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::wstring dir = std::wstring(temp) + L"MapiStandin";
    CreateDirectoryW(dir.c_str(), nullptr);
    return dir + L"\\" + UidHex(provider) + L".store";
}

StoreKind KindOf(const PropBag& section) {
    const SPropValue* v = section.Find(PR_STANDIN_STORE_KIND);
    return v && PROP_TYPE(v->ulPropTag) == PT_LONG ? static_cast<StoreKind>(v->Value.l) : StoreKindNone;
}

} // namespace

HRESULT OpenById(const std::shared_ptr<StoreInfo>& info, BYTE type, ULONG id, ULONG* objType,
                 LPUNKNOWN* out) {
    std::unique_lock<std::mutex> lock(info->data->lock);
    if (type == kEntryFolder && info->data->folders.count(id)) {
        lock.unlock();
        *out = NewFolder(info, id);
        if (objType)
            *objType = MAPI_FOLDER;
        return S_OK;
    }
    auto it = info->data->messages.find(id);
    if (type == kEntryMessage && it != info->data->messages.end()) {
        MessageData copy = it->second;
        lock.unlock();
        *out = NewMessage(info, copy, false);
        if (objType)
            *objType = MAPI_MESSAGE;
        return S_OK;
    }
    return MAPI_E_NOT_FOUND;
}

HRESULT OpenByEntryId(const std::shared_ptr<StoreInfo>& info, ULONG cb, LPENTRYID eid, ULONG* objType,
                      LPUNKNOWN* out) {
    BYTE type = 0;
    ULONG id = 0;
    {
        std::lock_guard<std::mutex> lock(info->data->lock);
        if (!info->data->ParseEntryId(cb, eid, &type, &id))
            return MAPI_E_INVALID_ENTRYID;
    }
    return OpenById(info, type, id, objType, out);
}

HRESULT OpenStore(const std::wstring&, const MAPIUID& provider, const PropBag& section, ULONG,
                  IMsgStore** out) {
    if (!out)
        return MAPI_E_INVALID_PARAMETER;
    StoreKind kind = KindOf(section);
    if (kind == StoreKindNone)
        return MAPI_E_NOT_FOUND;
    auto info = std::make_shared<StoreInfo>();
    info->kind = kind;
    info->section = section;
    info->storeEntryId = MakeStoreEntryId(provider);
    HRESULT hr = StoreData::Open(StorePath(provider, section, kind), &info->data);
    if (FAILED(hr)) {
        SetLastMapiError(hr, L"The store file could not be opened.");
        return hr;
    }
    *out = new MsgStore(info);
    return S_OK;
}

HRESULT PrepareStore(const PropBag& section) {
    StoreKind kind = KindOf(section);
    if (kind != StoreKindPstUnicode && kind != StoreKindPstAnsi && kind != StoreKindShmsp)
        return S_OK;
    std::wstring path = PropString(section.Find(PR_PST_PATH_W));
    if (path.empty())
        return S_OK;
    std::shared_ptr<StoreData> data;
    return StoreData::Open(path, &data); // makes a missing file
}

} // namespace standin
