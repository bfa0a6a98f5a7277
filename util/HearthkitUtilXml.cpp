// MSXML DOM documents: the version choice, the XPath selection language, and
// loading a caller's byte buffer without copying it.
#include "HearthkitUtil.h"

#include "CDesktopLog.h"
#include "HkResult.h"

#include <msxml2.h>

namespace {

// Not all of these have a definition in the toolchain's uuid library.
const CLSID kClsidDomDocument30 = {
    0xF5078F32, 0xC551, 0x11D3, {0x89, 0xB9, 0x00, 0x00, 0xF8, 0x1F, 0xE2, 0x21}};
const CLSID kClsidDomDocument = {
    0x2933BF90, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
const IID kIidXmlDomDocument = {0x2933BF81, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
const IID kIidXmlDomDocument2 = {
    0x2933BF95, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
// In-process, handler, local and remote servers alike.
const DWORD kDomContext =
    CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;

HRESULT CreateDocument(REFCLSID clsid, CComPtr<IXMLDOMDocument>& doc) {
    return ::CoCreateInstance(clsid, nullptr, kDomContext, kIidXmlDomDocument,
                              reinterpret_cast<void**>(&doc));
}

// The length without the terminator the buffer may carry: trailing zero
// bytes are dropped. Text in UTF-16 little-endian (byte-order mark FF FE)
// ends in a zero byte when its last character is ASCII, so there zeros are
// dropped in whole characters only, keeping that last character whole.
unsigned long TrimmedLength(const char* buffer, unsigned long length) {
    const bool utf16le = length >= 2 && static_cast<unsigned char>(buffer[0]) == 0xFF &&
                         static_cast<unsigned char>(buffer[1]) == 0xFE;
    if (utf16le) {
        length &= ~1ul;
        while (length >= 2 && buffer[length - 1] == 0 && buffer[length - 2] == 0) {
            length -= 2;
        }
        return length;
    }
    while (length > 0 && buffer[length - 1] == 0) {
        --length;
    }
    return length;
}

} // namespace

HRESULT HearthkitUtil::GetXMLDOMDocumentObj(CComPtr<IXMLDOMDocument>& doc, bool setXPath, bool* pbVersion3) {
    HRESULT hr = S_OK;
    CDesktopLog log("HearthkitUtil::GetXMLDOMDocumentObj", &hr);
    try {
        hr = CreateDocument(kClsidDomDocument30, doc);
        if (FAILED(hr)) {
            log.LogText(LOG_DETAIL, "------ Loading earlier edition of DOM\n");
            hr = CreateDocument(kClsidDomDocument, doc);
            log.LogText(LOG_DETAIL, "------ LOADED earlier edition of DOM\n");
            if (FAILED(hr)) {
                return hr = REGDB_E_CLASSNOTREG;
            }
            log.LogText(LOG_DETAIL, "SUCCESSFULLY loaded\n");
            if (pbVersion3 != nullptr) {
                *pbVersion3 = false;
            }
            return hr;
        }
        log.LogText(LOG_DETAIL, "------ Loaded DOMDocument3\n");
        if (pbVersion3 != nullptr) {
            *pbVersion3 = true;
        }
        if (!setXPath) {
            return hr;
        }
        CComPtr<IXMLDOMDocument2> doc2;
        hr = doc->QueryInterface(kIidXmlDomDocument2, reinterpret_cast<void**>(&doc2));
        if (FAILED(hr)) {
            return hr;
        }
        log.LogText(LOG_DETAIL, "+++ Successfully Loaded interface DOMDocument2\n");
        CComBSTR name(L"SelectionLanguage");
        VARIANT value;
        ::VariantInit(&value);
        value.vt = VT_BSTR;
        value.bstrVal = ::SysAllocString(L"XPath");
        if (value.bstrVal == nullptr) {
            return hr = E_OUTOFMEMORY;
        }
        hr = doc2->setProperty(name, value);
        ::VariantClear(&value);
        log.LogHR(LOG_DETAIL, "Called set property on DOMDocument2 interface", hr);
    } catch (...) {
        hr = HkCaughtToHr(log, "HearthkitUtil::GetXMLDOMDocumentObj");
    }
    return hr;
}

bool HearthkitUtil::LoadBufferIntoXMLDOM(IXMLDOMDocument* doc, const char* buffer, unsigned long length) {
    CDesktopLog log("HearthkitUtil::LoadBufferIntoXMLDOM");
    if (doc == nullptr || (buffer == nullptr && length != 0)) {
        HkNullArgument(log, "doc or buffer (of a non-zero length)");
        return false;
    }
    length = TrimmedLength(buffer, length);
    // A byte array over the caller's bytes: FADF_AUTO tells the parser the
    // array and its data are not its to free, and nothing is copied.
    SAFEARRAY bytes = {};
    bytes.cDims = 1;
    bytes.fFeatures = FADF_AUTO;
    bytes.cbElements = 1;
    bytes.pvData = const_cast<char*>(buffer);
    bytes.rgsabound[0].cElements = length;
    bytes.rgsabound[0].lLbound = 0;
    VARIANT source;
    ::VariantInit(&source);
    source.vt = VT_ARRAY | VT_UI1;
    source.parray = &bytes;

    VARIANT_BOOL loaded = VARIANT_FALSE;
    const HRESULT hr = doc->load(source, &loaded);
    if (SUCCEEDED(hr) && loaded == VARIANT_TRUE) {
        return true;
    }
    CComPtr<IXMLDOMParseError> error;
    CComBSTR reason, sourceText;
    if (SUCCEEDED(doc->get_parseError(&error)) && error) {
        error->get_reason(&reason);
        error->get_srcText(&sourceText);
    }
    log.LogText(LOG_ERROR, "Failed to load DOM reason '%s' srcText '%s'\n", reason.m_str ? reason.m_str : L"",
                sourceText.m_str ? sourceText.m_str : L"");
    return false;
}
