// The index control interface of the Hoardlocal desktop-search protocol
// handler, a component of the product outside this library, reached by COM
// activation of its class. Methods in vtable order after IUnknown's; each
// takes the full path of one database file or nothing (the whole cache).
#pragma once

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

// windows.h maps DeleteFile to DeleteFileA/W; here it is the method's name.
#ifdef DeleteFile
#undef DeleteFile
#endif

// {5896A718-788B-47C0-965A-7B124E091AB6}
inline constexpr CLSID CLSID_HoardlocalProtocolHandler = {
    0x5896A718, 0x788B, 0x47C0, {0x96, 0x5A, 0x7B, 0x12, 0x4E, 0x09, 0x1A, 0xB6}};
// {973CC288-FC64-4E34-8838-B05B8BB050EF}
inline constexpr IID IID_IHLIndexControl = {
    0x973CC288, 0xFC64, 0x4E34, {0x88, 0x38, 0xB0, 0x5B, 0x8B, 0xB0, 0x50, 0xEF}};

// Declared at namespace scope: g++ has crashed on COM interfaces declared in
// an anonymous namespace.
struct IHLIndexControl : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE DeleteFile(BSTR path) = 0;
    virtual HRESULT STDMETHODCALLTYPE AddFile(BSTR path) = 0;
    virtual HRESULT STDMETHODCALLTYPE ReIndexFile(BSTR path) = 0;
    virtual HRESULT STDMETHODCALLTYPE DeleteAll() = 0;
    virtual HRESULT STDMETHODCALLTYPE AddAll() = 0;
    virtual HRESULT STDMETHODCALLTYPE ReIndexAll() = 0;
};
