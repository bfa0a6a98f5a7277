// The MAPI functions the stand-in exports (the .def file gives them their
// MAPI names). The library calls nine of them; the others are present so
// that a loader resolving the whole set finds them, and answer
// MAPI_E_NO_SUPPORT where a real answer would need more than a few lines.
#include "Standin.h"

using namespace standin;

extern "C" {

SCODE WINAPI Sa_MAPIAllocateBuffer(ULONG size, LPVOID* out) {
    if (HRESULT hr = Hook("MAPIAllocateBuffer"))
        return hr;
    return AllocateBuffer(size, out);
}

SCODE WINAPI Sa_MAPIAllocateMore(ULONG size, LPVOID parent, LPVOID* out) {
    if (HRESULT hr = Hook("MAPIAllocateMore"))
        return hr;
    return AllocateMore(size, parent, out);
}

ULONG WINAPI Sa_MAPIFreeBuffer(LPVOID buffer) {
    Hook("MAPIFreeBuffer");
    return FreeBuffer(buffer);
}

HRESULT WINAPI Sa_HrGetOneProp(LPMAPIPROP object, ULONG tag, LPSPropValue* out) {
    if (HRESULT hr = Hook("HrGetOneProp"))
        return hr;
    if (!object || !out)
        return MAPI_E_INVALID_PARAMETER;
    SizedSPropTagArray(1, tags) = {1, {tag}};
    ULONG count = 0;
    SPropValue* values = nullptr;
    HRESULT hr = object->GetProps(reinterpret_cast<LPSPropTagArray>(&tags), 0, &count, &values);
    if (FAILED(hr))
        return hr;
    if (!values || count != 1) {
        FreeBuffer(values);
        return MAPI_E_NOT_FOUND;
    }
    if (PROP_TYPE(values->ulPropTag) == PT_ERROR) {
        hr = values->Value.err;
        FreeBuffer(values);
        return hr;
    }
    *out = values;
    return S_OK;
}

void WINAPI Sa_FreeProws(LPSRowSet rows) {
    Hook("FreeProws");
    if (!rows)
        return;
    for (ULONG i = 0; i < rows->cRows; ++i)
        FreeBuffer(rows->aRow[i].lpProps);
    FreeBuffer(rows);
}

LPSPropValue WINAPI Sa_PpropFindProp(LPSPropValue props, ULONG count, ULONG tag) {
    Hook("PpropFindProp");
    if (!props)
        return nullptr;
    for (ULONG i = 0; i < count; ++i) {
        if (props[i].ulPropTag == tag ||
            (PROP_TYPE(tag) == PT_UNSPECIFIED && PROP_ID(props[i].ulPropTag) == PROP_ID(tag)))
            return &props[i];
    }
    return nullptr;
}

SCODE WINAPI Sa_ScDupPropset(int count, LPSPropValue source, LPALLOCATEBUFFER, LPSPropValue* out) {
    Hook("ScDupPropset");
    if (count < 0 || (count && !source) || !out)
        return MAPI_E_INVALID_PARAMETER;
    SPropValue* copy = nullptr;
    SCODE sc = AllocateBuffer(sizeof(SPropValue) * (count ? count : 1), reinterpret_cast<void**>(&copy));
    for (int i = 0; SUCCEEDED(sc) && i < count; ++i)
        sc = CopyPropValue(&copy[i], &source[i], copy);
    if (FAILED(sc)) {
        FreeBuffer(copy);
        return sc;
    }
    *out = copy;
    return S_OK;
}

SCODE WINAPI Sa_ScCountProps(int count, LPSPropValue props, ULONG* bytes) {
    Hook("ScCountProps");
    if (count < 0 || (count && !props))
        return MAPI_E_INVALID_PARAMETER;
    ULONG total = 0;
    for (int i = 0; i < count; ++i)
        total += sizeof(SPropValue) + ((PropDataSize(&props[i]) + 7) & ~7u);
    if (bytes)
        *bytes = total;
    return S_OK;
}

SCODE WINAPI Sa_ScCopyProps() {
    Hook("ScCopyProps");
    return MAPI_E_NO_SUPPORT;
}
SCODE WINAPI Sa_OpenIMsgOnIStg() {
    Hook("OpenIMsgOnIStg");
    return MAPI_E_NO_SUPPORT;
}

LPMALLOC WINAPI Sa_MAPIGetDefaultMalloc() {
    Hook("MAPIGetDefaultMalloc");
    LPMALLOC malloc = nullptr;
    if (FAILED(CoGetMalloc(1, &malloc)))
        return nullptr;
    malloc->Release(); // the task allocator lives as long as the process
    return malloc;
}

void WINAPI Sa_CloseIMsgSession(LPVOID) {
    Hook("CloseIMsgSession");
}
SCODE WINAPI Sa_OpenIMsgSession(LPMALLOC, ULONG, LPVOID* out) {
    Hook("OpenIMsgSession");
    if (out)
        *out = nullptr;
    return MAPI_E_NO_SUPPORT;
}

HRESULT WINAPI Sa_HrQueryAllRows(LPMAPITABLE table, LPSPropTagArray columns, LPSRestriction restriction,
                                 LPSSortOrderSet sort, LONG maxRows, LPSRowSet* out) {
    if (HRESULT hr = Hook("HrQueryAllRows"))
        return hr;
    if (!table || !out || maxRows < 0)
        return MAPI_E_INVALID_PARAMETER;
    *out = nullptr;
    HRESULT hr = S_OK;
    if (columns && FAILED(hr = table->SetColumns(columns, TBL_BATCH)))
        return hr;
    if (restriction && FAILED(hr = table->Restrict(restriction, TBL_BATCH)))
        return hr;
    if (sort && FAILED(hr = table->SortTable(sort, TBL_BATCH)))
        return hr;
    ULONG count = 0;
    if (FAILED(hr = table->GetRowCount(0, &count)))
        return hr;
    if (maxRows && count > static_cast<ULONG>(maxRows))
        return MAPI_E_TABLE_TOO_BIG;
    if (FAILED(hr = table->SeekRow(BOOKMARK_BEGINNING, 0, nullptr)))
        return hr;
    return table->QueryRows(static_cast<LONG>(count), 0, out);
}

HRESULT WINAPI Sa_HrSetOneProp(LPMAPIPROP object, LPSPropValue value) {
    if (HRESULT hr = Hook("HrSetOneProp"))
        return hr;
    if (!object || !value)
        return MAPI_E_INVALID_PARAMETER;
    LPSPropProblemArray problems = nullptr;
    HRESULT hr = object->SetProps(1, value, &problems);
    if (SUCCEEDED(hr) && problems) {
        hr = problems->aProblem[0].scode;
        FreeBuffer(problems);
    }
    return hr;
}

void WINAPI Sa_FreePadrlist(LPADRLIST list) {
    Hook("FreePadrlist");
    if (!list)
        return;
    for (ULONG i = 0; i < list->cEntries; ++i)
        FreeBuffer(list->aEntries[i].rgPropVals);
    FreeBuffer(list);
}

LONG WINAPI Sa_LPropCompareProp(LPSPropValue a, LPSPropValue b) {
    Hook("LPropCompareProp");
    if (!a || !b)
        return 0;
    return ComparePropValues(a, b);
}

#define STANDIN_NO_SUPPORT(name)                                                                             \
    HRESULT WINAPI Sa_##name() {                                                                             \
        Hook(#name);                                                                                         \
        return MAPI_E_NO_SUPPORT;                                                                            \
    }
STANDIN_NO_SUPPORT(WrapStoreEntryID)
STANDIN_NO_SUPPORT(CreateIProp)
STANDIN_NO_SUPPORT(CreateTable)
STANDIN_NO_SUPPORT(BuildDisplayTable)
STANDIN_NO_SUPPORT(HrValidateIPMSubtree)
STANDIN_NO_SUPPORT(OpenTnefStreamEx)
STANDIN_NO_SUPPORT(OpenStreamOnFile)
STANDIN_NO_SUPPORT(MAPIOpenFormMgr)
STANDIN_NO_SUPPORT(RTFSync)
STANDIN_NO_SUPPORT(WrapCompressedRTFStream)
STANDIN_NO_SUPPORT(MAPIOpenLocalFormContainer)

HRESULT WINAPI Sa_HrValidateParameters() {
    Hook("HrValidateParameters");
    return S_OK;
}
HRESULT WINAPI Sa_HrDispatchNotifications(ULONG) {
    Hook("HrDispatchNotifications");
    return S_OK;
}

ULONG WINAPI Sa_UlRelease(LPVOID object) {
    Hook("UlRelease");
    return object ? static_cast<IUnknown*>(object)->Release() : 0;
}

void WINAPI Sa_HexFromBin(LPBYTE bytes, int count, LPSTR out) {
    Hook("HexFromBin");
    static const char digits[] = "0123456789ABCDEF";
    if (!out)
        return;
    for (int i = 0; bytes && i < count; ++i) {
        *out++ = digits[bytes[i] >> 4];
        *out++ = digits[bytes[i] & 15];
    }
    *out = 0;
}

HRESULT WINAPI Sa_MAPIInitialize(LPVOID) {
    if (HRESULT hr = Hook("MAPIInitialize"))
        return hr;
    return S_OK;
}
void WINAPI Sa_MAPIUninitialize() {
    Hook("MAPIUninitialize");
}

} // extern "C"
