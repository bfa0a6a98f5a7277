// A growth-policy override handler for the tests: what a trusted handler
// DLL does when MSPST32 calls it back. It asks for the exemption when the
// client data is the tests' marker.
#include <windows.h>
#include <mapidefs.h>

namespace {
const IID kOverride = {0xFBB68D34, 0xF561, 0x44FB, {0xA8, 0xCA, 0xAE, 0x36, 0x69, 0x63, 0x42, 0xCA}};
} // namespace

// MSPST32's override interface. Outside the anonymous namespace: with no
// implementation in this file, GCC would otherwise treat calls through it
// as unreachable.
struct IOverride : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE First() = 0;
    virtual HRESULT STDMETHODCALLTYPE Second() = 0;
    virtual HRESULT STDMETHODCALLTYPE GrantExemption() = 0;
};

extern "C" __declspec(dllexport) HRESULT WINAPI
    HrTrustedPSTOverrideHandlerCallback(IMsgStore* store, IUnknown* source, void* clientData) {
    if (!store || !source || !clientData || *static_cast<const DWORD*>(clientData) != 0x5A5A5A5A)
        return E_INVALIDARG;
    IOverride* grant = nullptr;
    HRESULT hr = source->QueryInterface(kOverride, reinterpret_cast<void**>(&grant));
    if (FAILED(hr))
        return hr;
    hr = grant->GrantExemption();
    grant->Release();
    return hr;
}
