// Message stores served by the stand-in's providers: IMsgStore,
// IMAPIFolder, IMessage, IAttach and attachment streams over StoreData.
// A message is edited on a copy that SaveChanges puts into the store and
// writes to its file; an attachment likewise into its message.
#include "Profile.h"
#include "StoreData.h"

namespace standin {
namespace {

// {892EBC6D-24DC-4D90-BA48-C6CBEC14A86A}: MSPST32's override-request interface.
const IID IID_PstOverrideRequest = {
    0x892EBC6D, 0x24DC, 0x4D90, {0xBA, 0x48, 0xC6, 0xCB, 0xEC, 0x14, 0xA8, 0x6A}};

FILETIME Now() {
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    return ft;
}

Prop Eid(ULONG tag, const std::vector<BYTE>& eid) {
    return MakeBinary(tag, eid.data(), static_cast<ULONG>(eid.size()));
}

// What a store object knows beyond its content.
struct StoreInfo {
    std::shared_ptr<StoreData> data;
    std::vector<BYTE> storeEntryId;
    StoreKind kind = StoreKindNone;
    PropBag section; // the provider's profile section when opened
};

// IMAPIProp over a property bag; derived classes say what is read and
// where writes go.
template <class I>
class PropObject : public I, public ObjectBase {
public:
    STANDIN_REFCOUNT

    STDMETHODIMP GetLastError(HRESULT hr, ULONG flags, LPMAPIERROR* out) override {
        return GetLastMapiError(hr, flags, out);
    }
    STDMETHODIMP SaveChanges(ULONG flags) override {
        if (HRESULT hr = Hook((m_name + "::SaveChanges").c_str()))
            return hr;
        std::lock_guard<std::mutex> lock(m_info->data->lock);
        return Save(flags);
    }
    STDMETHODIMP GetProps(LPSPropTagArray tags, ULONG flags, ULONG* count, LPSPropValue* out) override {
        if (HRESULT hr = Hook((m_name + "::GetProps").c_str()))
            return hr;
        std::lock_guard<std::mutex> lock(m_info->data->lock);
        return View().GetProps(tags, flags, count, out);
    }
    STDMETHODIMP GetPropList(ULONG flags, LPSPropTagArray* out) override {
        std::lock_guard<std::mutex> lock(m_info->data->lock);
        return View().GetPropList(flags, out);
    }
    STDMETHODIMP OpenProperty(ULONG tag, LPCIID iid, ULONG options, ULONG flags, LPUNKNOWN* out) override {
        if (HRESULT hr = Hook((m_name + "::OpenProperty").c_str(), flags))
            return hr;
        if (!iid || !out)
            return MAPI_E_INVALID_PARAMETER;
        return Open(tag, *iid, options, flags, out);
    }
    STDMETHODIMP SetProps(ULONG count, LPSPropValue values, LPSPropProblemArray* problems) override {
        if (HRESULT hr = Hook((m_name + "::SetProps").c_str()))
            return hr;
        if (count && !values)
            return MAPI_E_INVALID_PARAMETER;
        if (problems)
            *problems = nullptr;
        std::lock_guard<std::mutex> lock(m_info->data->lock);
        for (ULONG i = 0; i < count; ++i)
            if (PROP_TYPE(values[i].ulPropTag) != PT_ERROR && !ReadOnly(values[i].ulPropTag))
                Bag().Set(values[i]);
        return Written();
    }
    STDMETHODIMP DeleteProps(LPSPropTagArray tags, LPSPropProblemArray* problems) override {
        if (!tags)
            return MAPI_E_INVALID_PARAMETER;
        if (problems)
            *problems = nullptr;
        std::lock_guard<std::mutex> lock(m_info->data->lock);
        for (ULONG i = 0; i < tags->cValues; ++i)
            Bag().Delete(tags->aulPropTag[i]);
        return Written();
    }
    STDMETHODIMP CopyTo(ULONG, LPCIID, LPSPropTagArray exclude, ULONG, LPMAPIPROGRESS, LPCIID iid,
                        LPVOID dest, ULONG flags, LPSPropProblemArray* problems) override {
        if (HRESULT hr = Hook((m_name + "::CopyTo").c_str()))
            return hr;
        return CopyProperties(this, nullptr, exclude, iid, dest, flags, problems);
    }
    STDMETHODIMP CopyProps(LPSPropTagArray include, ULONG, LPMAPIPROGRESS, LPCIID iid, LPVOID dest,
                           ULONG flags, LPSPropProblemArray* problems) override {
        if (HRESULT hr = Hook((m_name + "::CopyProps").c_str()))
            return hr;
        if (!include)
            return MAPI_E_INVALID_PARAMETER;
        return CopyProperties(this, include, nullptr, iid, dest, flags, problems);
    }
    STDMETHODIMP GetNamesFromIDs(LPSPropTagArray* tags, LPGUID guid, ULONG flags, ULONG* count,
                                 LPMAPINAMEID** out) override {
        if (HRESULT hr = Hook((m_name + "::GetNamesFromIDs").c_str()))
            return hr;
        std::lock_guard<std::mutex> lock(m_info->data->lock);
        return m_info->data->IdsToNames(tags, guid, flags, count, out);
    }
    STDMETHODIMP GetIDsFromNames(ULONG count, LPMAPINAMEID* names, ULONG flags,
                                 LPSPropTagArray* out) override {
        if (HRESULT hr = Hook((m_name + "::GetIDsFromNames").c_str()))
            return hr;
        std::lock_guard<std::mutex> lock(m_info->data->lock);
        return m_info->data->NamesToIds(count, names, flags, out);
    }

protected:
    PropObject(std::shared_ptr<StoreInfo> info, const char* name) : m_info(std::move(info)), m_name(name) {}

    // Everything GetProps answers (under the data lock).
    virtual PropBag View() = 0;
    // Where SetProps writes (under the data lock).
    virtual PropBag& Bag() = 0;
    // After SetProps or DeleteProps: objects without a transaction save.
    virtual HRESULT Written() { return S_OK; }
    virtual HRESULT Save(ULONG) { return S_OK; }
    virtual bool ReadOnly(ULONG tag) const {
        switch (PROP_ID(tag)) {
        case PROP_ID(PR_ENTRYID):
        case PROP_ID(PR_RECORD_KEY):
        case PROP_ID(PR_OBJECT_TYPE):
        case PROP_ID(PR_PARENT_ENTRYID):
            return true;
        default:
            return false;
        }
    }
    virtual HRESULT Open(ULONG, REFIID, ULONG, ULONG, LPUNKNOWN*) { return MAPI_E_NO_SUPPORT; }

    std::shared_ptr<StoreInfo> m_info;
    std::string m_name;
};

class Message;

// An attachment's binary data as a stream; Commit (or the last Release
// after a write) puts it into the attachment.
class AttachStream : public IStream, public ObjectBase {
public:
    AttachStream(IAttach* owner, std::vector<BYTE> data, bool writable)
        : m_owner(owner), m_data(std::move(data)), m_writable(writable) {
        m_owner->AddRef();
    }
    ~AttachStream() override {
        if (m_dirty)
            Commit(0);
        m_owner->Release();
    }
    STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
        return Answer<IStream>(this, riid, out, {&IID_IStream, &IID_ISequentialStream});
    }
    STANDIN_REFCOUNT

    STDMETHODIMP Read(void* buffer, ULONG size, ULONG* read) override {
        if (!buffer)
            return STG_E_INVALIDPOINTER;
        ULONG n = static_cast<ULONG>(std::min<size_t>(size, m_data.size() - std::min(m_pos, m_data.size())));
        if (n)
            memcpy(buffer, m_data.data() + m_pos, n);
        m_pos += n;
        if (read)
            *read = n;
        return S_OK;
    }
    STDMETHODIMP Write(const void* buffer, ULONG size, ULONG* written) override {
        if (!m_writable)
            return STG_E_ACCESSDENIED;
        if (!buffer)
            return STG_E_INVALIDPOINTER;
        if (m_pos + size > m_data.size())
            m_data.resize(m_pos + size);
        memcpy(m_data.data() + m_pos, buffer, size);
        m_pos += size;
        m_dirty = true;
        if (written)
            *written = size;
        return S_OK;
    }
    STDMETHODIMP Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPos) override {
        LONGLONG base = origin == STREAM_SEEK_SET   ? 0
                        : origin == STREAM_SEEK_CUR ? static_cast<LONGLONG>(m_pos)
                                                    : static_cast<LONGLONG>(m_data.size());
        if (origin > STREAM_SEEK_END || base + move.QuadPart < 0)
            return STG_E_INVALIDFUNCTION;
        m_pos = static_cast<size_t>(base + move.QuadPart);
        if (newPos)
            newPos->QuadPart = m_pos;
        return S_OK;
    }
    STDMETHODIMP SetSize(ULARGE_INTEGER size) override {
        if (!m_writable)
            return STG_E_ACCESSDENIED;
        m_data.resize(static_cast<size_t>(size.QuadPart));
        m_dirty = true;
        return S_OK;
    }
    STDMETHODIMP CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override {
        return E_NOTIMPL;
    }
    STDMETHODIMP Commit(DWORD) override {
        SPropValue v{};
        v.ulPropTag = PR_ATTACH_DATA_BIN;
        v.Value.bin.cb = static_cast<ULONG>(m_data.size());
        v.Value.bin.lpb = m_data.data();
        m_dirty = false;
        return m_owner->SetProps(1, &v, nullptr);
    }
    STDMETHODIMP Revert() override { return E_NOTIMPL; }
    STDMETHODIMP LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }
    STDMETHODIMP UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
        return STG_E_INVALIDFUNCTION;
    }
    STDMETHODIMP Stat(STATSTG* stat, DWORD) override {
        if (!stat)
            return STG_E_INVALIDPOINTER;
        ZeroMemory(stat, sizeof(*stat));
        stat->type = STGTY_STREAM;
        ULONGLONG claimed = ClaimedStreamSize();
        stat->cbSize.QuadPart = claimed != 0 ? claimed : m_data.size();
        return S_OK;
    }
    STDMETHODIMP Clone(IStream**) override { return E_NOTIMPL; }

private:
    IAttach* m_owner;
    std::vector<BYTE> m_data;
    size_t m_pos = 0;
    bool m_writable;
    bool m_dirty = false;
};

class Attach : public PropObject<IAttach> {
public:
    Attach(std::shared_ptr<StoreInfo> info, Message* message, AttachmentData data);
    ~Attach() override;
    STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
        return Answer<IAttach>(this, riid, out, {&IID_IMAPIProp, &IID_IAttachment});
    }

protected:
    PropBag View() override {
        PropBag view = m_data.props;
        view.Set(MakeLong(PR_ATTACH_NUM, static_cast<LONG>(m_data.num)));
        view.Set(MakeLong(PR_OBJECT_TYPE, MAPI_ATTACH));
        return view;
    }
    PropBag& Bag() override { return m_data.props; }
    HRESULT Save(ULONG) override;
    HRESULT Open(ULONG tag, REFIID iid, ULONG, ULONG flags, LPUNKNOWN* out) override {
        if (PROP_ID(tag) != PROP_ID(PR_ATTACH_DATA_BIN) || iid != IID_IStream)
            return MAPI_E_NO_SUPPORT;
        std::vector<BYTE> bytes;
        {
            std::lock_guard<std::mutex> lock(m_info->data->lock);
            const SPropValue* v = m_data.props.Find(PR_ATTACH_DATA_BIN);
            if (v && PROP_TYPE(v->ulPropTag) == PT_BINARY && !(flags & MAPI_CREATE))
                bytes.assign(v->Value.bin.lpb, v->Value.bin.lpb + v->Value.bin.cb);
            else if (!(flags & MAPI_CREATE))
                return MAPI_E_NOT_FOUND;
        }
        *out = static_cast<IStream*>(new AttachStream(this, std::move(bytes), (flags & MAPI_MODIFY) != 0));
        return S_OK;
    }

private:
    Message* m_message;
    AttachmentData m_data;
};

class Message : public PropObject<IMessage> {
public:
    Message(std::shared_ptr<StoreInfo> info, MessageData data, bool isNew)
        : PropObject(std::move(info), "IMessage"), m_data(std::move(data)), m_new(isNew) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
        return Answer<IMessage>(this, riid, out, {&IID_IMAPIProp, &IID_IMessage});
    }

    STDMETHODIMP GetAttachmentTable(ULONG, LPMAPITABLE* out) override {
        if (HRESULT hr = Hook("IMessage::GetAttachmentTable"))
            return hr;
        if (!out)
            return MAPI_E_INVALID_PARAMETER;
        std::vector<PropBag> rows;
        {
            std::lock_guard<std::mutex> lock(m_info->data->lock);
            for (const AttachmentData& a : m_data.attachments) {
                PropBag row = a.props;
                row.Delete(PR_ATTACH_DATA_BIN); // tables carry no large values
                row.Set(MakeLong(PR_ATTACH_NUM, static_cast<LONG>(a.num)));
                row.Set(MakeLong(PR_INSTANCE_KEY, static_cast<LONG>(a.num)));
                rows.push_back(row);
            }
        }
        *out = CreateTable(std::move(rows), {PR_ATTACH_NUM});
        return S_OK;
    }
    STDMETHODIMP OpenAttach(ULONG num, LPCIID, ULONG, LPATTACH* out) override {
        if (HRESULT hr = Hook("IMessage::OpenAttach"))
            return hr;
        if (!out)
            return MAPI_E_INVALID_PARAMETER;
        std::lock_guard<std::mutex> lock(m_info->data->lock);
        for (const AttachmentData& a : m_data.attachments) {
            if (a.num == num) {
                *out = new Attach(m_info, this, a);
                return S_OK;
            }
        }
        return MAPI_E_NOT_FOUND;
    }
    STDMETHODIMP CreateAttach(LPCIID, ULONG, ULONG* num, LPATTACH* out) override {
        if (HRESULT hr = Hook("IMessage::CreateAttach"))
            return hr;
        if (!num || !out)
            return MAPI_E_INVALID_PARAMETER;
        std::lock_guard<std::mutex> lock(m_info->data->lock);
        AttachmentData a;
        a.num = m_data.nextAttach++;
        a.props.Set(MakeTime(PR_CREATION_TIME, Now()));
        *num = a.num;
        *out = new Attach(m_info, this, a);
        return S_OK;
    }
    STDMETHODIMP DeleteAttach(ULONG num, ULONG, LPMAPIPROGRESS, ULONG) override {
        std::lock_guard<std::mutex> lock(m_info->data->lock);
        for (auto it = m_data.attachments.begin(); it != m_data.attachments.end(); ++it) {
            if (it->num == num) {
                m_data.attachments.erase(it);
                return S_OK;
            }
        }
        return MAPI_E_NOT_FOUND;
    }
    STDMETHODIMP GetRecipientTable(ULONG, LPMAPITABLE* out) override {
        if (!out)
            return MAPI_E_INVALID_PARAMETER;
        *out = CreateTable({}, {PR_DISPLAY_NAME_W});
        return S_OK;
    }
    STDMETHODIMP ModifyRecipients(ULONG, LPADRLIST) override { return MAPI_E_NO_SUPPORT; }
    STDMETHODIMP SubmitMessage(ULONG) override { return MAPI_E_NO_SUPPORT; }
    STDMETHODIMP SetReadFlag(ULONG) override { return S_OK; }
    // A modification time the caller sets wins over the time of the save.
    STDMETHODIMP SetProps(ULONG count, LPSPropValue values, LPSPropProblemArray* problems) override {
        for (ULONG i = 0; values && i < count; ++i)
            m_modificationSet = m_modificationSet || values[i].ulPropTag == PR_LAST_MODIFICATION_TIME;
        return PropObject::SetProps(count, values, problems);
    }

    // An attachment saved into this message's copy (under the data lock).
    void PutAttachment(const AttachmentData& a) {
        for (AttachmentData& have : m_data.attachments) {
            if (have.num == a.num) {
                have = a;
                return;
            }
        }
        m_data.attachments.push_back(a);
    }

    static PropBag ViewOf(const StoreInfo& info, const MessageData& m) {
        PropBag view = m.props;
        view.Set(Eid(PR_ENTRYID, info.data->EntryId(kEntryMessage, m.id)));
        view.Set(Eid(PR_PARENT_ENTRYID, info.data->EntryId(kEntryFolder, m.folder)));
        view.Set(Eid(PR_STORE_ENTRYID, info.storeEntryId));
        view.Set(MakeBinary(PR_RECORD_KEY, &m.id, sizeof(m.id)));
        view.Set(MakeBinary(PR_INSTANCE_KEY, &m.id, sizeof(m.id)));
        view.Set(MakeLong(PR_OBJECT_TYPE, MAPI_MESSAGE));
        view.Set(MakeLong(PR_MESSAGE_FLAGS, m.associated ? MSGFLAG_ASSOCIATED | MSGFLAG_READ : MSGFLAG_READ));
        view.Set(MakeBool(PR_HASATTACH, !m.attachments.empty()));
        return view;
    }

protected:
    PropBag View() override { return ViewOf(*m_info, m_data); }
    PropBag& Bag() override { return m_data.props; }
    bool ReadOnly(ULONG tag) const override {
        return PropObject::ReadOnly(tag) || PROP_ID(tag) == PROP_ID(PR_MESSAGE_FLAGS);
    }
    HRESULT Save(ULONG) override {
        if (!m_info->data->folders.count(m_data.folder))
            return MAPI_E_NOT_FOUND;
        if (!m_new && !m_info->data->messages.count(m_data.id))
            return MAPI_E_OBJECT_DELETED;
        if (!m_data.props.Find(PR_CREATION_TIME))
            m_data.props.Set(MakeTime(PR_CREATION_TIME, Now()));
        if (!m_modificationSet)
            m_data.props.Set(MakeTime(PR_LAST_MODIFICATION_TIME, Now()));
        m_modificationSet = false;
        m_info->data->messages[m_data.id] = m_data;
        m_new = false;
        return m_info->data->Save();
    }

private:
    MessageData m_data;
    bool m_new;
    bool m_modificationSet = false;
};

Attach::Attach(std::shared_ptr<StoreInfo> info, Message* message, AttachmentData data)
    : PropObject(std::move(info), "IAttach"), m_message(message), m_data(std::move(data)) {
    m_message->AddRef();
}
Attach::~Attach() {
    m_message->Release();
}
HRESULT Attach::Save(ULONG) {
    m_data.props.Set(MakeTime(PR_LAST_MODIFICATION_TIME, Now()));
    m_message->PutAttachment(m_data);
    return S_OK;
}

HRESULT OpenById(const std::shared_ptr<StoreInfo>& info, BYTE type, ULONG id, ULONG* objType, LPUNKNOWN* out);

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
                    rows.push_back(Message::ViewOf(*m_info, m.second));
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
        BYTE type = 0;
        ULONG id = 0;
        {
            std::lock_guard<std::mutex> lock(m_info->data->lock);
            if (!m_info->data->ParseEntryId(cb, eid, &type, &id))
                return MAPI_E_INVALID_ENTRYID;
        }
        return OpenById(m_info, type, id, objType, out);
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
        *out = new Message(m_info, m, true);
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

HRESULT OpenById(const std::shared_ptr<StoreInfo>& info, BYTE type, ULONG id, ULONG* objType,
                 LPUNKNOWN* out) {
    std::unique_lock<std::mutex> lock(info->data->lock);
    if (type == kEntryFolder && info->data->folders.count(id)) {
        lock.unlock();
        *out = static_cast<IMAPIFolder*>(new Folder(info, id));
        if (objType)
            *objType = MAPI_FOLDER;
        return S_OK;
    }
    auto it = info->data->messages.find(id);
    if (type == kEntryMessage && it != info->data->messages.end()) {
        MessageData copy = it->second;
        lock.unlock();
        *out = static_cast<IMessage*>(new Message(info, copy, false));
        if (objType)
            *objType = MAPI_MESSAGE;
        return S_OK;
    }
    return MAPI_E_NOT_FOUND;
}

// MSPST32's override-request interface: the first method registers a
// trusted handler DLL (its path as a BSTR) with client data.
struct IPstOverrideRequest : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE RegisterTrustedPSTOverrideHandler(BSTR dllPath, void* clientData) = 0;
};

// The store's override-request interface, a tear-off of the store that
// records the registration in the store's content.
class OverrideRequest : public IPstOverrideRequest, public ObjectBase {
public:
    explicit OverrideRequest(std::shared_ptr<StoreInfo> info) : m_info(std::move(info)) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
        return Answer<IPstOverrideRequest>(this, riid, out, {&IID_PstOverrideRequest});
    }
    STANDIN_REFCOUNT

    STDMETHODIMP RegisterTrustedPSTOverrideHandler(BSTR dllPath, void* clientData) override {
        if (HRESULT hr = Hook("IPSTOverrideReq::RegisterTrustedPSTOverrideHandler"))
            return hr;
        if (!dllPath)
            return MAPI_E_INVALID_PARAMETER;
        std::lock_guard<std::mutex> lock(m_info->data->lock);
        m_info->data->overrideHandler = dllPath;
        m_info->data->overrideClientData = clientData;
        m_info->data->overrideRegistered = true;
        return S_OK;
    }

private:
    std::shared_ptr<StoreInfo> m_info;
};

class MsgStore : public PropObject<IMsgStore> {
public:
    explicit MsgStore(std::shared_ptr<StoreInfo> info) : PropObject(std::move(info), "IMsgStore") {}
    // Personal-folder stores also offer MSPST32's override request.
    STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
        bool pst = m_info->kind == StoreKindPstUnicode || m_info->kind == StoreKindPstAnsi;
        if (out && pst && riid == IID_PstOverrideRequest) {
            *out = static_cast<IPstOverrideRequest*>(new OverrideRequest(m_info));
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
        BYTE type = 0;
        ULONG id = 0;
        {
            std::lock_guard<std::mutex> lock(m_info->data->lock);
            if (!m_info->data->ParseEntryId(cb, eid, &type, &id))
                return MAPI_E_INVALID_ENTRYID;
        }
        return OpenById(m_info, type, id, objType, out);
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
