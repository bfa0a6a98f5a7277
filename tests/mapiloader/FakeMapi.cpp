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
    ++g_record.liveBuffers;
    return ::HeapAlloc(::GetProcessHeap(), HEAP_ZERO_MEMORY, size ? size : 1);
}

void Release(void* buffer) {
    --g_record.liveBuffers;
    ::HeapFree(::GetProcessHeap(), 0, buffer);
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

// Memory linked to a parent is not tracked: the tests never free it.
FAKE_EXPORT SCODE WINAPI MAPIAllocateMore(ULONG cbSize, LPVOID lpObject, LPVOID* lppBuffer) {
    Record(g_record.allocateMore, cbSize, lpObject, lppBuffer);
    *lppBuffer = ::HeapAlloc(::GetProcessHeap(), HEAP_ZERO_MEMORY, cbSize ? cbSize : 1);
    return S_OK;
}

FAKE_EXPORT ULONG WINAPI MAPIFreeBuffer(LPVOID lpBuffer) {
    Record(g_record.freeBuffer, lpBuffer);
    g_record.lastFreed = lpBuffer;
    if (lpBuffer != nullptr) {
        Release(lpBuffer);
    }
    return 0;
}

FAKE_EXPORT HRESULT WINAPI HrGetOneProp(LPMAPIPROP lpMapiProp, ULONG ulPropTag, LPSPropValue* lppProp) {
    Record(g_record.getOneProp, lpMapiProp, ulPropTag, lppProp);
    auto prop = static_cast<LPSPropValue>(Allocate(sizeof(SPropValue)));
    prop->ulPropTag = ulPropTag;
    *lppProp = prop;
    return kFakeGetPropResult;
}

// Frees each row's properties and the set, as MAPI does; counted as one
// FreeProws, not as MAPIFreeBuffer calls.
FAKE_EXPORT void WINAPI FreeProws(LPSRowSet lpRows) {
    Record(g_record.freeProws, lpRows);
    g_record.lastFreed = lpRows;
    if (lpRows == nullptr) {
        return;
    }
    for (ULONG i = 0; i < lpRows->cRows; ++i) {
        Release(lpRows->aRow[i].lpProps);
    }
    Release(lpRows);
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

// Answers two rows of one property each.
FAKE_EXPORT HRESULT WINAPI HrQueryAllRows(LPMAPITABLE lpTable, LPSPropTagArray lpPropTags,
                                          LPSRestriction lpRestriction, LPSSortOrderSet lpSortOrderSet,
                                          LONG crowsMax, LPSRowSet* lppRows) {
    Record(g_record.queryAllRows, lpTable, lpPropTags, lpRestriction, lpSortOrderSet, crowsMax, lppRows);
    auto rows = static_cast<LPSRowSet>(Allocate(CbNewSRowSet(2)));
    rows->cRows = 2;
    for (ULONG i = 0; i < 2; ++i) {
        rows->aRow[i].cValues = 1;
        rows->aRow[i].lpProps = static_cast<LPSPropValue>(Allocate(sizeof(SPropValue)));
        rows->aRow[i].lpProps->ulPropTag = PR_DISPLAY_NAME_A;
    }
    *lppRows = rows;
    return kFakeQueryResult;
}

FAKE_EXPORT HRESULT WINAPI MAPILogonEx(ULONG_PTR ulUIParam, LPTSTR lpszProfileName, LPTSTR lpszPassword,
                                       ULONG ulFlags, LPMAPISESSION* lppSession) {
    Record(g_record.logonEx, ulUIParam, lpszProfileName, lpszPassword, ulFlags, lppSession);
    *lppSession = reinterpret_cast<LPMAPISESSION>(kFakeSession);
    return kFakeLogonResult;
}

FAKE_EXPORT HRESULT WINAPI MAPIAdminProfiles(ULONG ulFlags, LPPROFADMIN* lppProfAdmin) {
    Record(g_record.adminProfiles, ulFlags, lppProfAdmin);
    *lppProfAdmin = reinterpret_cast<LPPROFADMIN>(kFakeProfAdmin);
    return kFakeAdminResult;
}

// The names Hearthkit binds but never calls: present, never reached. Their
// MAPI declarations differ, so the module definition that
// tests/mapiloader/CMakeLists.txt writes exports each under its MAPI name
// from this one function.
extern "C" void fake_uncalled() {
    ::RaiseException(0xE0000001, 0, 0, nullptr);
}
