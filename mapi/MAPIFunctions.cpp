// The MAPI functions the library calls, under MAPI's own names: each passes
// its arguments unchanged to the bound MAPI function, or answers a fixed
// fallback without touching its arguments when MAPI is not bound.
#include "mapi/MAPIFunctions.h"

#include "MAPILoader.h"

namespace hk {
namespace mapi {

const char* const functionNames[functionCount] = {
    "MAPIAllocateBuffer",
    "MAPIAllocateMore",
    "MAPIFreeBuffer",
    "HrGetOneProp",
    "FreeProws",
    "PpropFindProp",
    "ScDupPropset",
    "ScCountProps",
    "ScCopyProps",
    "OpenIMsgOnIStg",
    "MAPIGetDefaultMalloc",
    "CloseIMsgSession",
    "OpenIMsgSession",
    "HrQueryAllRows",
    "HrSetOneProp",
    "FreePadrlist",
    "LPropCompareProp",
    "WrapStoreEntryID",
    "CreateIProp",
    "CreateTable",
    "HrValidateParameters",
    "BuildDisplayTable",
    "HrValidateIPMSubtree",
    "HrDispatchNotifications",
    "UlRelease",
    "HexFromBin",
    "MAPIInitialize",
    "MAPIUninitialize",
    "OpenTnefStreamEx",
    "OpenStreamOnFile",
    "MAPIOpenFormMgr",
    "RTFSync",
    "WrapCompressedRTFStream",
    "MAPILogonEx",
    "MAPIAdminProfiles",
    "MAPIOpenLocalFormContainer",
};

Proc slots[functionCount] = {};

namespace {

// The bound function at index as the type of the function of that name in
// mingw's MAPI headers, or null.
template <typename Fn>
Fn* Bound(Function index) noexcept {
    return reinterpret_cast<Fn*>(slots[index]);
}

} // namespace
} // namespace mapi
} // namespace hk

using hk::mapi::Bound;

static_assert(MAPILoader::FunctionCount == hk::mapi::functionCount, "one slot per bound function");

HEARTHKIT_C_API SCODE WINAPI MAPIAllocateBuffer(ULONG cbSize, LPVOID* lppBuffer) {
    auto fn = Bound<MAPIALLOCATEBUFFER>(hk::mapi::fnMAPIAllocateBuffer);
    return fn ? fn(cbSize, lppBuffer) : E_NOINTERFACE;
}

HEARTHKIT_C_API SCODE WINAPI MAPIAllocateMore(ULONG cbSize, LPVOID lpObject, LPVOID* lppBuffer) {
    auto fn = Bound<MAPIALLOCATEMORE>(hk::mapi::fnMAPIAllocateMore);
    return fn ? fn(cbSize, lpObject, lppBuffer) : E_NOINTERFACE;
}

HEARTHKIT_C_API ULONG WINAPI MAPIFreeBuffer(LPVOID lpBuffer) {
    auto fn = Bound<MAPIFREEBUFFER>(hk::mapi::fnMAPIFreeBuffer);
    return fn && lpBuffer ? fn(lpBuffer) : 0;
}

HEARTHKIT_C_API HRESULT WINAPI HrGetOneProp(LPMAPIPROP lpMapiProp, ULONG ulPropTag, LPSPropValue* lppProp) {
    auto fn = Bound<decltype(HrGetOneProp)>(hk::mapi::fnHrGetOneProp);
    return fn ? fn(lpMapiProp, ulPropTag, lppProp) : E_NOINTERFACE;
}

HEARTHKIT_C_API void WINAPI FreeProws(LPSRowSet lpRows) {
    if (auto fn = Bound<decltype(FreeProws)>(hk::mapi::fnFreeProws)) {
        fn(lpRows);
    }
}

HEARTHKIT_C_API LPSPropValue WINAPI PpropFindProp(LPSPropValue lpPropArray, ULONG cValues, ULONG ulPropTag) {
    auto fn = Bound<decltype(PpropFindProp)>(hk::mapi::fnPpropFindProp);
    return fn ? fn(lpPropArray, cValues, ulPropTag) : nullptr;
}

HEARTHKIT_C_API HRESULT WINAPI HrQueryAllRows(LPMAPITABLE lpTable, LPSPropTagArray lpPropTags,
                                              LPSRestriction lpRestriction, LPSSortOrderSet lpSortOrderSet,
                                              LONG crowsMax, LPSRowSet* lppRows) {
    auto fn = Bound<decltype(HrQueryAllRows)>(hk::mapi::fnHrQueryAllRows);
    return fn ? fn(lpTable, lpPropTags, lpRestriction, lpSortOrderSet, crowsMax, lppRows) : E_NOINTERFACE;
}

HEARTHKIT_C_API HRESULT WINAPI MAPILogonEx(ULONG_PTR ulUIParam, LPTSTR lpszProfileName, LPTSTR lpszPassword,
                                           ULONG ulFlags, LPMAPISESSION* lppSession) {
    auto fn = Bound<MAPILOGONEX>(hk::mapi::fnMAPILogonEx);
    return fn ? fn(ulUIParam, lpszProfileName, lpszPassword, ulFlags, lppSession) : E_NOINTERFACE;
}

HEARTHKIT_C_API HRESULT WINAPI MAPIAdminProfiles(ULONG ulFlags, LPPROFADMIN* lppProfAdmin) {
    auto fn = Bound<MAPIADMINPROFILES>(hk::mapi::fnMAPIAdminProfiles);
    return fn ? fn(ulFlags, lppProfAdmin) : E_NOINTERFACE;
}
