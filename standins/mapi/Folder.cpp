// Folders of a store.
#include "StoreObjects.h"

namespace standin {
namespace {

class Folder : public PropObject<IMAPIFolder> {
public:
    Folder(std::shared_ptr<StoreInfo> info, ULONG id)
        : PropObject(std::move(info), "IMAPIFolder"), m_id(id) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
        return Answer<IMAPIFolder>(this, riid, out, {&IID_IMAPIProp, &IID_IMAPIContainer, &IID_IMAPIFolder});
    }

    STDMETHODIMP GetContentsTable(ULONG flags, LPMAPITABLE* out) override {
        if (HRESULT hr = Hook("IMAPIFolder::GetContentsTable"))
            return hr;
        if (!out)
            return MAPI_E_INVALID_PARAMETER;
        bool associated = (flags & MAPI_ASSOCIATED) != 0;
        std::vector<PropBag> rows;
        {
            std::lock_guard<std::mutex> lock(m_info->data->lock);
            for (const auto& m : m_info->data->messages)
                if (m.second.folder == m_id && m.second.associated == associated)
                    rows.push_back(MessageView(*m_info, m.second));
        }
        *out = CreateTable(std::move(rows), {PR_ENTRYID, PR_MESSAGE_CLASS_W, PR_SUBJECT_W});
        return S_OK;
    }
    STDMETHODIMP GetHierarchyTable(ULONG, LPMAPITABLE* out) override {
        if (!out)
            return MAPI_E_INVALID_PARAMETER;
        std::vector<PropBag> rows;
        {
            std::lock_guard<std::mutex> lock(m_info->data->lock);
            for (const auto& f : m_info->data->folders)
                if (f.second.parent == m_id && f.first != m_id)
                    rows.push_back(ViewOf(f.second));
        }
        *out = CreateTable(std::move(rows), {PR_ENTRYID, PR_DISPLAY_NAME_W});
        return S_OK;
    }
    STDMETHODIMP OpenEntry(ULONG cb, LPENTRYID eid, LPCIID, ULONG flags, ULONG* objType,
                           LPUNKNOWN* out) override {
        if (HRESULT hr = Hook("IMAPIFolder::OpenEntry", flags))
            return hr;
        if (!out)
            return MAPI_E_INVALID_PARAMETER;
        return OpenByEntryId(m_info, cb, eid, objType, out);
    }
    STDMETHODIMP SetSearchCriteria(LPSRestriction, LPENTRYLIST, ULONG) override { return MAPI_E_NO_SUPPORT; }
    STDMETHODIMP GetSearchCriteria(ULONG, LPSRestriction*, LPENTRYLIST*, ULONG*) override {
        return MAPI_E_NO_SUPPORT;
    }
    STDMETHODIMP CreateMessage(LPCIID, ULONG flags, LPMESSAGE* out) override {
        if (HRESULT hr = Hook("IMAPIFolder::CreateMessage"))
            return hr;
        if (!out)
            return MAPI_E_INVALID_PARAMETER;
        std::lock_guard<std::mutex> lock(m_info->data->lock);
        MessageData m;
        m.id = m_info->data->NewId();
        m.folder = m_id;
        m.associated = (flags & MAPI_ASSOCIATED) != 0;
        m.props.Set(MakeTime(PR_CREATION_TIME, Now()));
        *out = NewMessage(m_info, m, true);
        return S_OK;
    }
    STDMETHODIMP CopyMessages(LPENTRYLIST, LPCIID, LPVOID, ULONG, LPMAPIPROGRESS, ULONG) override {
        return MAPI_E_NO_SUPPORT;
    }
    // Soft and hard deletion both remove the message here (a personal store
    // has no recoverable items).
    STDMETHODIMP DeleteMessages(LPENTRYLIST list, ULONG, LPMAPIPROGRESS, ULONG) override {
        if (HRESULT hr = Hook("IMAPIFolder::DeleteMessages"))
            return hr;
        if (!list || (list->cValues && !list->lpbin))
            return MAPI_E_INVALID_PARAMETER;
        std::lock_guard<std::mutex> lock(m_info->data->lock);
        bool partial = false;
        for (ULONG i = 0; i < list->cValues; ++i) {
            BYTE type = 0;
            ULONG id = 0;
            auto it = m_info->data->messages.end();
            if (m_info->data->ParseEntryId(list->lpbin[i].cb, reinterpret_cast<LPENTRYID>(list->lpbin[i].lpb),
                                           &type, &id) &&
                type == kEntryMessage)
                it = m_info->data->messages.find(id);
            if (it == m_info->data->messages.end() || it->second.folder != m_id) {
                partial = true;
                continue;
            }
            m_info->data->messages.erase(it);
        }
        HRESULT hr = m_info->data->Save();
        return FAILED(hr) ? hr : (partial ? MAPI_W_PARTIAL_COMPLETION : S_OK);
    }
    STDMETHODIMP CreateFolder(ULONG, LPTSTR name, LPTSTR, LPCIID, ULONG flags, LPMAPIFOLDER* out) override {
        if (!name || !out)
            return MAPI_E_INVALID_PARAMETER;
        std::lock_guard<std::mutex> lock(m_info->data->lock);
        FolderData f;
        f.id = m_info->data->NewId();
        f.parent = m_id;
        f.props.Set(MakeUnicode(PR_DISPLAY_NAME_W, ArgText(name, flags).c_str()));
        m_info->data->folders[f.id] = f;
        HRESULT hr = m_info->data->Save();
        if (FAILED(hr))
            return hr;
        *out = new Folder(m_info, f.id);
        return S_OK;
    }
    STDMETHODIMP CopyFolder(ULONG, LPENTRYID, LPCIID, LPVOID, LPTSTR, ULONG, LPMAPIPROGRESS, ULONG) override {
        return MAPI_E_NO_SUPPORT;
    }
    STDMETHODIMP DeleteFolder(ULONG cb, LPENTRYID eid, ULONG, LPMAPIPROGRESS, ULONG flags) override {
        if (HRESULT hr = Hook("IMAPIFolder::DeleteFolder"))
            return hr;
        std::lock_guard<std::mutex> lock(m_info->data->lock);
        return m_info->data->RemoveFolder(m_id, cb, eid, flags);
    }
    STDMETHODIMP SetReadFlags(LPENTRYLIST, ULONG, LPMAPIPROGRESS, ULONG) override { return S_OK; }
    STDMETHODIMP GetMessageStatus(ULONG, LPENTRYID, ULONG, ULONG*) override { return MAPI_E_NO_SUPPORT; }
    STDMETHODIMP SetMessageStatus(ULONG, LPENTRYID, ULONG, ULONG, ULONG*) override {
        return MAPI_E_NO_SUPPORT;
    }
    STDMETHODIMP SaveContentsSort(LPSSortOrderSet, ULONG) override { return MAPI_E_NO_SUPPORT; }
    STDMETHODIMP EmptyFolder(ULONG, LPMAPIPROGRESS, ULONG) override { return MAPI_E_NO_SUPPORT; }

protected:
    PropBag ViewOf(const FolderData& f) const {
        PropBag view = f.props;
        view.Set(Eid(PR_ENTRYID, m_info->data->EntryId(kEntryFolder, f.id)));
        view.Set(Eid(PR_PARENT_ENTRYID, m_info->data->EntryId(kEntryFolder, f.parent)));
        view.Set(Eid(PR_STORE_ENTRYID, m_info->storeEntryId));
        view.Set(MakeBinary(PR_RECORD_KEY, &f.id, sizeof(f.id)));
        view.Set(MakeLong(PR_OBJECT_TYPE, MAPI_FOLDER));
        view.Set(MakeLong(PR_FOLDER_TYPE, f.id == kRootFolder ? FOLDER_ROOT : FOLDER_GENERIC));
        return view;
    }
    PropBag View() override {
        auto it = m_info->data->folders.find(m_id);
        return it == m_info->data->folders.end() ? PropBag() : ViewOf(it->second);
    }
    PropBag& Bag() override { return m_info->data->folders[m_id].props; }
    HRESULT Written() override { return m_info->data->Save(); }

private:
    ULONG m_id;
};

} // namespace

IMAPIFolder* NewFolder(std::shared_ptr<StoreInfo> info, ULONG id) {
    return new Folder(std::move(info), id);
}

} // namespace standin
