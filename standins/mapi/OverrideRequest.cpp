// MSPST32's override request, offered by personal folder stores.
#include "StoreObjects.h"

namespace standin {
namespace {

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

} // namespace

const IID IID_PstOverrideRequest = {
    0x892EBC6D, 0x24DC, 0x4D90, {0xBA, 0x48, 0xC6, 0xCB, 0xEC, 0x14, 0xA8, 0x6A}};

IUnknown* NewOverrideRequest(std::shared_ptr<StoreInfo> info) {
    return static_cast<IPstOverrideRequest*>(new OverrideRequest(std::move(info)));
}

} // namespace standin
