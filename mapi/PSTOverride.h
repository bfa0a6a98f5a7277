// The PST provider's growth-policy override interfaces, as far as the
// exemption uses them. Declared at namespace scope: g++ mishandles COM
// interface classes in an anonymous namespace.
#pragma once

#include <windows.h>
#include <objbase.h>

// Offered by an open PST store: registers a trusted handler DLL, which the
// provider later loads by its path and calls by its exported name with the
// client data.
struct IPSTOverrideRequest : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE RegisterTrustedPSTOverrideHandler(BSTR handlerPath,
                                                                        void* clientData) = 0;
};

// Handed to the handler's callback: its third own method grants the
// exemption for the store the callback was asked about.
struct IPSTOverride : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Reserved1() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved2() = 0;
    virtual HRESULT STDMETHODCALLTYPE ExemptFromDisableGrow() = 0;
};

// {892EBC6D-24DC-4D90-BA48-C6CBEC14A86A}
extern const IID IID_IPSTOverrideRequest;
// {FBB68D34-F561-44FB-A8CA-AE36696342CA}
extern const IID IID_IPSTOverride;
