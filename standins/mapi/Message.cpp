// Messages of a store: edited on a copy that SaveChanges puts into the
// store and writes to its file.
#include "StoreObjects.h"

namespace standin {
namespace {

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
                *out = NewAttach(m_info, this, a);
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
        *out = NewAttach(m_info, this, a);
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

} // namespace

IMessage* NewMessage(std::shared_ptr<StoreInfo> info, MessageData data, bool isNew) {
    return new Message(std::move(info), std::move(data), isNew);
}

PropBag MessageView(const StoreInfo& info, const MessageData& message) {
    return Message::ViewOf(info, message);
}

void PutAttachment(IMessage* message, const AttachmentData& attachment) {
    static_cast<Message*>(message)->PutAttachment(attachment);
}

} // namespace standin
