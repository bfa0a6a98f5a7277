// Attachments of a message: edited on a copy that SaveChanges puts into the
// message.
#include "StoreObjects.h"

namespace standin {
namespace {

class Attach : public PropObject<IAttach> {
public:
    Attach(std::shared_ptr<StoreInfo> info, IMessage* message, AttachmentData data);
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
        *out = NewAttachStream(this, std::move(bytes), (flags & MAPI_MODIFY) != 0);
        return S_OK;
    }

private:
    IMessage* m_message;
    AttachmentData m_data;
};

Attach::Attach(std::shared_ptr<StoreInfo> info, IMessage* message, AttachmentData data)
    : PropObject(std::move(info), "IAttach"), m_message(message), m_data(std::move(data)) {
    m_message->AddRef();
}
Attach::~Attach() {
    m_message->Release();
}
HRESULT Attach::Save(ULONG) {
    m_data.props.Set(MakeTime(PR_LAST_MODIFICATION_TIME, Now()));
    PutAttachment(m_message, m_data);
    return S_OK;
}

} // namespace

IAttach* NewAttach(std::shared_ptr<StoreInfo> info, IMessage* message, AttachmentData data) {
    return new Attach(std::move(info), message, std::move(data));
}

} // namespace standin
