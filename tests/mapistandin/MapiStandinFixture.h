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

#include <initializer_list>
#include <string>
#include <vector>

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
// Only registers the stand-in as Outlook's MAPI, for a process whose own
// Hearthkit.dll is bound already and whose children are to find the stand-in.
HRESULT RegisterForChildren();
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
template <class T, void (*Free)(T*)>
struct Owned {
    T* p = nullptr;
    Owned() = default;
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    ~Owned() { Free(p); }
    T** put() {
        Free(p);
        p = nullptr;
        return &p;
    }
    T* operator->() const { return p; }
};
inline void FreeRows(SRowSet* p) {
    Api().FreeProws(p);
}
template <class T>
void FreeBuf(T* p) {
    Api().FreeBuffer(p);
}
using Rows = Owned<SRowSet, FreeRows>;
template <class T>
using Buf = Owned<T, FreeBuf<T>>;

extern const wchar_t kProfiles[]; // MAPI's profiles root under HKCU
extern MAPIUID kGlobalSection;

// A value and a one-value restriction on it: RES_PROPERTY with op as the
// relation, or RES_CONTENT with op as the fuzzy level.
struct Match {
    SPropValue value{};
    SRestriction r{};
    explicit Match(ULONG tag, ULONG op = RELOP_EQ, ULONG rt = RES_PROPERTY);
    Match(const Match&) = delete;
    Match& operator=(const Match&) = delete;
};

// The library's HrQueryAllRows over the columns listed.
HRESULT QueryAll(IMAPITable* table, std::initializer_list<ULONG> columns, SRestriction* r, Rows* rows,
                 SSortOrderSet* sort = nullptr, LONG maxRows = 0);

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
