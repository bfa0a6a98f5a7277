// Registers the MAPI stand-in as Outlook's MAPI and only then loads
// Hearthkit.dll, whose loader finds it by the registry lookup: the MAPI
// names tests call are the library's forwarding functions; only the
// control surface is the stand-in's own.
#pragma once

#include <windows.h>
#include <mapix.h>
#include <mapiutil.h>
#include <mapitags.h>
#include <mapicode.h>

#include <string>

#include <gtest/gtest.h>

#include "MapiStandinControl.h"

namespace mapitest {

struct StandinApi {
    HMODULE module = nullptr;                                 // the stand-in
    HMODULE library = nullptr;                                // Hearthkit.dll
    const char*(WINAPI* LoaderFunctionName)(ULONG) = nullptr; // MAPILoader::FunctionName
    SCODE(WINAPI* AllocateBuffer)(ULONG, LPVOID*) = nullptr;
    SCODE(WINAPI* AllocateMore)(ULONG, LPVOID, LPVOID*) = nullptr;
    ULONG(WINAPI* FreeBuffer)(LPVOID) = nullptr;
    HRESULT(WINAPI* HrGetOneProp)(LPMAPIPROP, ULONG, LPSPropValue*) = nullptr;
    void(WINAPI* FreeProws)(LPSRowSet) = nullptr;
    LPSPropValue(WINAPI* PpropFindProp)(LPSPropValue, ULONG, ULONG) = nullptr;
    HRESULT(WINAPI* HrQueryAllRows)
    (LPMAPITABLE, LPSPropTagArray, LPSRestriction, LPSSortOrderSet, LONG, LPSRowSet*) = nullptr;
    HRESULT(WINAPI* LogonEx)(ULONG_PTR, LPSTR, LPSTR, ULONG, LPMAPISESSION*) = nullptr;
    HRESULT(WINAPI* AdminProfiles)(ULONG, LPPROFADMIN*) = nullptr;
    decltype(&MapiStandinFailCall) FailCall = nullptr;
    decltype(&MapiStandinCallCount) CallCount = nullptr;
    decltype(&MapiStandinLiveObjects) LiveObjects = nullptr;
    decltype(&MapiStandinLiveBuffers) LiveBuffers = nullptr;
    decltype(&MapiStandinReset) Reset = nullptr;
    decltype(&MapiStandinRegister) Register = nullptr;
    decltype(&MapiStandinCreateMailboxProfile) CreateMailboxProfile = nullptr;
    decltype(&MapiStandinGetPstOverrideRegistration) GetPstOverrideRegistration = nullptr;
    decltype(&MapiStandinPlayPstOverride) PlayPstOverride = nullptr;
};

// Loaded once per process from the test program's folder; the registry
// value is put back as it was when the process ends.
const StandinApi& Api();
std::wstring StandinPath();

// Owns one interface reference.
template <class T>
struct Ptr {
    T* p = nullptr;
    Ptr() = default;
    Ptr(const Ptr&) = delete;
    Ptr& operator=(const Ptr&) = delete;
    ~Ptr() {
        if (p)
            p->Release();
    }
    T** put() {
        if (p)
            p->Release();
        p = nullptr;
        return &p;
    }
    T* operator->() const { return p; }
};

// Owns a row set (FreeProws) or a MAPI buffer (MAPIFreeBuffer).
struct Rows {
    SRowSet* p = nullptr;
    Rows() = default;
    Rows(const Rows&) = delete;
    Rows& operator=(const Rows&) = delete;
    ~Rows() { Api().FreeProws(p); }
    SRowSet** put() {
        Api().FreeProws(p);
        p = nullptr;
        return &p;
    }
    SRowSet* operator->() const { return p; }
};
template <class T>
struct Buf {
    T* p = nullptr;
    Buf() = default;
    Buf(const Buf&) = delete;
    Buf& operator=(const Buf&) = delete;
    ~Buf() { Api().FreeBuffer(p); }
    T** put() {
        Api().FreeBuffer(p);
        p = nullptr;
        return &p;
    }
    T* operator->() const { return p; }
};

// A test that starts without faults and ends with every object and buffer
// of the stand-in freed again; Release() lets a derived test drop what it
// holds before the count.
class LeakCheckedTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    virtual void Release() {}

    LONG m_objects = 0;
    LONG m_buffers = 0;
};

} // namespace mapitest
