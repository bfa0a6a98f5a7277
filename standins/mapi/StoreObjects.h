// What the stand-in's store objects share: the store a store object belongs
// to, the IMAPIProp base of every store object, and how each object is made
// (one file per object: Store.cpp, Folder.cpp, Message.cpp, Attach.cpp,
// AttachStream.cpp, OverrideRequest.cpp).
#pragma once

#include "Profile.h"
#include "StoreData.h"

#include <memory>
#include <string>
#include <vector>

namespace standin {

inline FILETIME Now() {
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    return ft;
}

inline Prop Eid(ULONG tag, const std::vector<BYTE>& eid) {
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

// {892EBC6D-24DC-4D90-BA48-C6CBEC14A86A}: MSPST32's override-request interface.
extern const IID IID_PstOverrideRequest;

// The store objects, each with a reference for the caller.
IMAPIFolder* NewFolder(std::shared_ptr<StoreInfo> info, ULONG id);
IMessage* NewMessage(std::shared_ptr<StoreInfo> info, MessageData data, bool isNew);
IAttach* NewAttach(std::shared_ptr<StoreInfo> info, IMessage* message, AttachmentData data);
// An attachment's data as a stream that writes back into owner.
IStream* NewAttachStream(IAttach* owner, std::vector<BYTE> data, bool writable);
// The store's override-request tear-off, as that interface.
IUnknown* NewOverrideRequest(std::shared_ptr<StoreInfo> info);

// Properties of a message as GetProps and the contents table show them.
PropBag MessageView(const StoreInfo& info, const MessageData& message);
// An attachment saved into the message (a Message of this store) it was
// opened from (under the data lock).
void PutAttachment(IMessage* message, const AttachmentData& attachment);
// The folder or message of the store with id, or that an entry id names.
HRESULT OpenById(const std::shared_ptr<StoreInfo>& info, BYTE type, ULONG id, ULONG* objType, LPUNKNOWN* out);
HRESULT OpenByEntryId(const std::shared_ptr<StoreInfo>& info, ULONG cb, LPENTRYID eid, ULONG* objType,
                      LPUNKNOWN* out);

} // namespace standin
