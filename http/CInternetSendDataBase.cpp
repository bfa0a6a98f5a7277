// The request engine: opening requests, the authentication probe and the
// response readers.
#include "CInternetSendDataBase.h"

#include "CDesktopLog.h"
#include "HkResult.h"
#include "HearthkitUtil.h"

#include <cstdlib>
#include <cstring>

namespace {

const DWORD kRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                            INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_UI;

// The readers' scratch buffers live on the C heap, as the store does.
struct MallocBuffer {
    explicit MallocBuffer(size_t size) : p(static_cast<char*>(std::malloc(size))) {}
    ~MallocBuffer() { std::free(p); }
    MallocBuffer(const MallocBuffer&) = delete;
    MallocBuffer& operator=(const MallocBuffer&) = delete;
    char* p;
};

} // namespace

ResponseDetails::ResponseDetails() : pBody(nullptr), pHeaders(nullptr), dwStatusTextSize(500) {
    Reset();
}

ResponseDetails::~ResponseDetails() {
    Reset();
}

void ResponseDetails::Reset() {
    std::free(pBody);
    std::free(pHeaders);
    pBody = nullptr;
    pHeaders = nullptr;
    dwBodyLength = 0;
    dwHeadersLength = 0;
    dwStatusCode = 0;
    szStatusText[0] = '\0';
}

CInternetSendDataBase::CInternetSendDataBase(HINTERNET hConnect, INTERNET_SCHEME nScheme,
                                             const CStringA& strUrlBase, bool bCredentialsEstablished)
    : m_hConnect(hConnect), m_nScheme(nScheme), m_strUrlBase(strUrlBase),
      m_bCredentialsEstablished(bCredentialsEstablished) {}

CInternetSendDataBase::~CInternetSendDataBase() = default;

HRESULT CInternetSendDataBase::LastError() {
    return HkHResultFromWin32(static_cast<long>(::GetLastError()));
}

HINTERNET CInternetSendDataBase::OpenRequest(const char* szUrl, const char* szVerb, RequestType type) {
    CDesktopLog log("CInternetSendDataBase::OpenRequest");
    DWORD flags = kRequestFlags;
    if (m_nScheme == INTERNET_SCHEME_HTTPS) {
        flags |= INTERNET_FLAG_SECURE;
    }
    CStringA object = m_strUrlBase + (szUrl ? szUrl : "");
    HINTERNET hRequest = ::HttpOpenRequestA(m_hConnect, szVerb, object, nullptr, nullptr, nullptr, flags,
                                            reinterpret_cast<DWORD_PTR>(this));
    if (hRequest == nullptr) {
        DWORD error = ::GetLastError();
        log.LogTextInt(LOG_DETAIL, "Error returned from HttpOpenRequest %s'%d'\n", "",
                       static_cast<int>(error));
        ::SetLastError(error);
        return nullptr;
    }
    if (type == LargeRequest && !m_bCredentialsEstablished) {
        if (EstablishLoginCredentialsForLargeRequest(hRequest)) {
            m_bCredentialsEstablished = true;
        } else {
            log.LogText(LOG_ERROR, "EstablishLoginCredentialsForLargeRequest failed\n");
        }
    }
    return hRequest;
}

bool CInternetSendDataBase::EstablishLoginCredentialsForLargeRequest(HINTERNET hRequest) {
    HRESULT r = S_OK;
    CDesktopLog log("CInternetSendDataBase::EstablishLoginCredentialsForLargeRequest", &r);
    bool bRetry = false;
    do {
        log.LogText(LOG_TRACE, "++++++++++++ Starting Authentication Probe Request +++++++++++++++++++\n");
        ResponseDetails response;
        CStringA boundary = GenerateMultipartBoundary();
        CStringA contentType = GenerateContentTypeHeader(boundary);
        CStringA trailer = GenerateBodyTrailer(boundary);
        if (::HttpSendRequestA(hRequest, contentType, static_cast<DWORD>(contentType.GetLength()),
                               const_cast<char*>(trailer.GetString()),
                               static_cast<DWORD>(trailer.GetLength()))) {
            r = ReadResponse(hRequest, response, bRetry);
        } else {
            // A failed send ends the probe: after a retry request the flag
            // would otherwise stay set and the probe would never end.
            r = LastError();
        }
    } while (SUCCEEDED(r) && bRetry);
    return SUCCEEDED(r) && !bRetry;
}

HRESULT CInternetSendDataBase::ReadResponse(HINTERNET hRequest, ResponseDetails& response, bool& bRetry) {
    HRESULT hr = S_OK;
    CDesktopLog log("CInternetSendDataBase::ReadResponse", &hr);
    bRetry = false;
    hr = ReadStatusCode(hRequest, &response.dwStatusCode, response.szStatusText, response.dwStatusTextSize);
    if (FAILED(hr)) {
        return hr;
    }
    hr = ReadResponseHeaders(hRequest, &response.pHeaders, &response.dwHeadersLength);
    if (FAILED(hr)) {
        return hr;
    }
    hr = ReadResponseBody(hRequest, &response.pBody, &response.dwBodyLength);
    if (FAILED(hr)) {
        return hr;
    }
    log.LogInt(LOG_TRACE, "StatusCode = %d\n", static_cast<int>(response.dwStatusCode));
    if (response.dwStatusCode == HTTP_STATUS_DENIED) {
        DWORD result = DisplayLoginDialog(hRequest, HTTP_STATUS_DENIED, response.szStatusText);
        if (result == ERROR_INTERNET_FORCE_RETRY) {
            bRetry = true;
            response.Reset();
        } else if (result == 0) {
            hr = E_ACCESSDENIED;
        } else {
            hr = HkHResultFromWin32(static_cast<long>(result));
        }
    }
    return hr;
}

HRESULT CInternetSendDataBase::ReadStatusCode(HINTERNET hRequest, DWORD* pdwStatusCode, char* szStatusText,
                                              DWORD dwStatusTextSize) {
    HRESULT hr = S_OK;
    CDesktopLog log("CInternetSendDataBase::ReadStatusCode", &hr);
    DWORD code = 0;
    DWORD size = sizeof(code);
    if (!::HttpQueryInfoW(hRequest, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &code, &size, nullptr)) {
        log.LogText(LOG_ERROR, "Failed to read the status code from the response\n");
        return hr = LastError();
    }
    *pdwStatusCode = code;
    if (szStatusText == nullptr || dwStatusTextSize == 0) {
        return hr = E_INVALIDARG;
    }
    DWORD length = dwStatusTextSize - 1;
    if (!::HttpQueryInfoA(hRequest, HTTP_QUERY_STATUS_TEXT, szStatusText, &length, nullptr)) {
        log.LogText(LOG_ERROR, "Failed to read the status text from the response\n");
        szStatusText[0] = '\0';
        return hr = LastError();
    }
    szStatusText[length < dwStatusTextSize ? length : dwStatusTextSize - 1] = '\0';
    log.LogTextInt(LOG_DETAIL, "HttpQueryInfo text is '%s' status code is '%d'\n", szStatusText,
                   static_cast<int>(code));
    return hr;
}

HRESULT CInternetSendDataBase::ReadResponseHeaders(HINTERNET hRequest, char** ppStore,
                                                   DWORD* pdwStoreLength) {
    CDesktopLog log("CInternetSendDataBase::ReadResponseHeaders");
    DWORD length = 10;
    for (;;) {
        MallocBuffer buffer(static_cast<size_t>(length) + 1);
        if (buffer.p == nullptr) {
            return E_OUTOFMEMORY;
        }
        if (::HttpQueryInfoA(hRequest, HTTP_QUERY_RAW_HEADERS_CRLF, buffer.p, &length, nullptr)) {
            buffer.p[length] = '\0';
            log.LogText(LOG_TRACE, "Received %s\n", buffer.p);
            AddDataToStore(buffer.p, length, ppStore, pdwStoreLength);
            return S_OK;
        }
        DWORD error = ::GetLastError();
        if (error != ERROR_INSUFFICIENT_BUFFER) {
            log.LogTextInt(LOG_TRACE, "HttpQueryInfo failed, error = %s%d\n", "", static_cast<int>(error));
            return HkHResultFromWin32(static_cast<long>(error));
        }
        // length now holds the size WinINet asked for.
    }
}

HRESULT CInternetSendDataBase::ReadResponseBody(HINTERNET hRequest, char** ppStore, DWORD* pdwStoreLength) {
    CDesktopLog log("CInternetSendDataBase::ReadResponseBody");
    for (;;) {
        DWORD available = 0;
        if (!::InternetQueryDataAvailable(hRequest, &available, 0, 0)) {
            return S_OK; // the body read so far stands
        }
        MallocBuffer buffer(static_cast<size_t>(available) + 1);
        if (buffer.p == nullptr) {
            return E_OUTOFMEMORY;
        }
        DWORD read = 0;
        if (!::InternetReadFile(hRequest, buffer.p, available, &read)) {
            DWORD error = ::GetLastError();
            log.LogTextInt(LOG_TRACE, "InternetReadFile failed, error = %s%d\n", "", static_cast<int>(error));
            return HkHResultFromWin32(static_cast<long>(error));
        }
        if (read == 0) {
            return S_OK;
        }
        buffer.p[read] = '\0';
        log.LogText(LOG_DETAIL, "Body is %s\n", buffer.p);
        AddDataToStore(buffer.p, read, ppStore, pdwStoreLength);
    }
}

HRESULT CInternetSendDataBase::CheckResponseTypeIsXML(HINTERNET hRequest) {
    HRESULT hr = S_OK;
    CDesktopLog log("CInternetSendDataBase::CheckResponseTypeIsXML", &hr);
    wchar_t type[250] = {};
    DWORD size = 499;
    if (!::HttpQueryInfoW(hRequest, HTTP_QUERY_CONTENT_TYPE, type, &size, nullptr)) {
        log.LogText(LOG_ERROR, "Failed to read the content type from the response\n");
        return hr = LastError();
    }
    if (::_wcsnicmp(type, L"text/xml", 8) == 0) {
        return hr;
    }
    log.LogText(LOG_ERROR, "Bad Server response (Content-type: %s)\n", type);
    return hr = E_FAIL;
}

bool CInternetSendDataBase::AddDataToStore(const char* pData, DWORD dwSize, char** ppStore,
                                           DWORD* pdwStoreLength) {
    DWORD old = *pdwStoreLength;
    // The content keeps one NUL behind it; an empty store has no buffer.
    DWORD length = old == 0 ? dwSize + 1 : old + dwSize;
    char* store = static_cast<char*>(std::malloc(length));
    if (store == nullptr) {
        return true; // the chunk is dropped; the store stays as it was
    }
    DWORD kept = old == 0 ? 0 : old - 1;
    if (kept != 0) {
        std::memcpy(store, *ppStore, kept);
    }
    std::memcpy(store + kept, pData, dwSize);
    store[length - 1] = '\0';
    std::free(*ppStore);
    *ppStore = store;
    *pdwStoreLength = length;
    return true;
}

DWORD CInternetSendDataBase::DisplayLoginDialog(HINTERNET hRequest, DWORD, char*) {
    return ::InternetErrorDlg(HearthkitUtil::GetHCLoginWindowHandle(), hRequest, ERROR_SUCCESS,
                              FLAGS_ERROR_UI_FILTER_FOR_ERRORS | FLAGS_ERROR_UI_FLAGS_GENERATE_DATA |
                                  FLAGS_ERROR_UI_FLAGS_CHANGE_OPTIONS,
                              nullptr);
}

BOOL CInternetSendDataBase::EndRequest(HINTERNET hRequest) {
    return ::HttpEndRequestW(hRequest, nullptr, 0, 0);
}
