// A fake MAPI runtime: exports the 36 names Hearthkit binds (built once
// without the last one, hk_fakemapi_short.dll) and counts the calls of the
// nine the library forwards. Memory comes from the process heap.
#include "FakeMapi.h"

#include <mapix.h>
#include <mapiutil.h>

#include <algorithm>

#define FAKE_EXPORT extern "C" __declspec(dllexport)

namespace {

FakeMapiRecord g_record = {};

// Counts a call and keeps its arguments, pointers and numbers alike.
template <class... Args>
void Record(LONG& counter, Args... args) {
    ++counter;
    ULONG_PTR values[] = {(ULONG_PTR)(args)...};
    std::copy(values, values + sizeof...(args), g_record.lastArgs);
}

void* Allocate(ULONG size) {
    return ::HeapAlloc(::GetProcessHeap(), HEAP_ZERO_MEMORY, size ? size : 1);
}

} // namespace

FAKE_EXPORT FakeMapiRecord* WINAPI FakeMapiState() {
    return &g_record;
}

FAKE_EXPORT SCODE WINAPI MAPIAllocateBuffer(ULONG cbSize, LPVOID* lppBuffer) {
    Record(g_record.allocateBuffer, cbSize, lppBuffer);
    *lppBuffer = Allocate(cbSize);
    return S_OK;
}

// Memory linked to a parent is never freed: the tests make little of it.
FAKE_EXPORT SCODE WINAPI MAPIAllocateMore(ULONG cbSize, LPVOID lpObject, LPVOID* lppBuffer) {
    Record(g_record.allocateMore, cbSize, lpObject, lppBuffer);
    *lppBuffer = Allocate(cbSize);
    return S_OK;
}

FAKE_EXPORT ULONG WINAPI MAPIFreeBuffer(LPVOID lpBuffer) {
    Record(g_record.freeBuffer, lpBuffer);
    g_record.lastFreed = lpBuffer;
    ::HeapFree(::GetProcessHeap(), 0, lpBuffer);
    return 0;
}

FAKE_EXPORT HRESULT WINAPI HrGetOneProp(LPMAPIPROP lpMapiProp, ULONG ulPropTag, LPSPropValue* lppProp) {
    Record(g_record.getOneProp, lpMapiProp, ulPropTag, lppProp);
    *lppProp = static_cast<LPSPropValue>(Allocate(sizeof(SPropValue)));
    (*lppProp)->ulPropTag = ulPropTag;
    return kFakeResult;
}

// Answers an empty row set.
FAKE_EXPORT HRESULT WINAPI HrQueryAllRows(LPMAPITABLE lpTable, LPSPropTagArray lpPropTags,
                                          LPSRestriction lpRestriction, LPSSortOrderSet lpSortOrderSet,
                                          LONG crowsMax, LPSRowSet* lppRows) {
    Record(g_record.queryAllRows, lpTable, lpPropTags, lpRestriction, lpSortOrderSet, crowsMax, lppRows);
    *lppRows = static_cast<LPSRowSet>(Allocate(CbNewSRowSet(0)));
    return kFakeResult;
}

FAKE_EXPORT void WINAPI FreeProws(LPSRowSet lpRows) {
    Record(g_record.freeProws, lpRows);
    g_record.lastFreed = lpRows;
    ::HeapFree(::GetProcessHeap(), 0, lpRows);
}

FAKE_EXPORT LPSPropValue WINAPI PpropFindProp(LPSPropValue lpPropArray, ULONG cValues, ULONG ulPropTag) {
    Record(g_record.findProp, lpPropArray, cValues, ulPropTag);
    for (ULONG i = 0; i < cValues; ++i) {
        if (lpPropArray[i].ulPropTag == ulPropTag) {
            return &lpPropArray[i];
        }
    }
    return nullptr;
}

FAKE_EXPORT HRESULT WINAPI MAPILogonEx(ULONG_PTR ulUIParam, LPTSTR lpszProfileName, LPTSTR lpszPassword,
                                       ULONG ulFlags, LPMAPISESSION* lppSession) {
    Record(g_record.logonEx, ulUIParam, lpszProfileName, lpszPassword, ulFlags, lppSession);
    *lppSession = reinterpret_cast<LPMAPISESSION>(kFakeObject);
    return kFakeResult;
}

FAKE_EXPORT HRESULT WINAPI MAPIAdminProfiles(ULONG ulFlags, LPPROFADMIN* lppProfAdmin) {
    Record(g_record.adminProfiles, ulFlags, lppProfAdmin);
    *lppProfAdmin = reinterpret_cast<LPPROFADMIN>(kFakeObject);
    return kFakeResult;
}

// The names Hearthkit binds but never calls: present, never reached. Their
// MAPI declarations differ, so the module definition that
// tests/mapiloader/CMakeLists.txt writes exports each under its MAPI name
// from this one function.
extern "C" void fake_uncalled() {
    ::RaiseException(0xE0000001, 0, 0, nullptr);
}
