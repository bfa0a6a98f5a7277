// The request engine: opening requests, the authentication probe and the
// response readers.
#include "CInternetSendDataBase.h"

#include "CDesktopLog.h"
#include "HkResult.h"
#include "HearthkitUtil.h"
#include "http/ReplyStore.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

const DWORD kRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                            INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_UI;

// Reads ask for up to this much beyond what InternetQueryDataAvailable
// reports, as far as the store has room.
const DWORD kReadBlock = 1024 * 1024;

// A store that could not take more bytes: the line that says why.
HRESULT StoreFailed(CDesktopLog& log, ULONGLONG extra, HRESULT hr) {
    if (hr == E_OUTOFMEMORY) {
        log.LogInt64(LOG_ERROR, "Out of memory for %I64d more bytes of the reply\n",
                     static_cast<__int64>(extra));
    } else if (FAILED(hr)) {
        log.LogInt64(LOG_ERROR, "Reply refused: %I64d more bytes would pass the 4 GiB a reply record holds\n",
                     static_cast<__int64>(extra));
    }
    return hr;
}

// The reply's Content-Length. WinINet's 64-bit number query is not
// everywhere, so the text is read.
bool AnnouncedLength(HINTERNET hRequest, ULONGLONG* pLength) {
    wchar_t text[32] = {};
    DWORD size = sizeof(text) - sizeof(wchar_t);
    if (!::HttpQueryInfoW(hRequest, HTTP_QUERY_CONTENT_LENGTH, text, &size, nullptr) || text[0] < L'0' ||
        text[0] > L'9') {
        return false;
    }
    *pLength = ::_wcstoui64(text, nullptr, 10);
    return true;
}

// A failed header query: WinINet's error, taken before the line is written
// (opening the log file changes the thread's last error).
HRESULT QueryFailed(CDesktopLog& log, const char* line) {
    DWORD error = ::GetLastError();
    log.LogText(LOG_ERROR, line);
    return HkHResultFromWin32(error);
}

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
    return HkHResultFromWin32(::GetLastError());
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
            hr = HkHResultFromWin32(result);
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
        return hr = QueryFailed(log, "Failed to read the status code from the response\n");
    }
    *pdwStatusCode = code;
    if (szStatusText == nullptr || dwStatusTextSize == 0) {
        return hr = E_INVALIDARG;
    }
    DWORD length = dwStatusTextSize - 1;
    if (!::HttpQueryInfoA(hRequest, HTTP_QUERY_STATUS_TEXT, szStatusText, &length, nullptr)) {
        hr = QueryFailed(log, "Failed to read the status text from the response\n");
        szStatusText[0] = '\0';
        return hr;
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
        // A buffer that cannot be had raises std::bad_alloc: the operation
        // answers E_OUTOFMEMORY.
        std::vector<char> buffer(static_cast<size_t>(length) + 1);
        if (::HttpQueryInfoA(hRequest, HTTP_QUERY_RAW_HEADERS_CRLF, buffer.data(), &length, nullptr)) {
            buffer[length] = '\0';
            log.LogText(LOG_TRACE, "Received %s\n", buffer.data());
            return StoreFailed(log, length, AddDataToStore(buffer.data(), length, ppStore, pdwStoreLength));
        }
        DWORD error = ::GetLastError();
        if (error != ERROR_INSUFFICIENT_BUFFER) {
            log.LogTextInt(LOG_TRACE, "HttpQueryInfo failed, error = %s%d\n", "", static_cast<int>(error));
            return HkHResultFromWin32(error);
        }
        // length now holds the size WinINet asked for.
    }
}

HRESULT CInternetSendDataBase::ReadResponseBody(HINTERNET hRequest, char** ppStore, DWORD* pdwStoreLength) {
    CDesktopLog log("CInternetSendDataBase::ReadResponseBody");
    HRESULT hr = S_OK;
    // A reply that announces its length gets its room at once.
    ULONGLONG announced = 0;
    if (AnnouncedLength(hRequest, &announced)) {
        hr = StoreFailed(log, announced, hk::reply::Reserve(announced, ppStore, pdwStoreLength));
    }
    bool more = SUCCEEDED(hr);
    while (more) {
        DWORD available = 0;
        if (!::InternetQueryDataAvailable(hRequest, &available, 0, 0) || available == 0) {
            break; // the end, or a failure after which the body read so far stands
        }
        hr = StoreFailed(log, available, hk::reply::Reserve(available, ppStore, pdwStoreLength));
        if (FAILED(hr)) {
            break;
        }
        DWORD ask = std::max(available, std::min(hk::reply::Room(*ppStore, *pdwStoreLength), kReadBlock));
        char* chunk = *ppStore + hk::reply::ContentOf(*pdwStoreLength);
        DWORD read = 0;
        if (!::InternetReadFile(hRequest, chunk, ask, &read)) {
            DWORD error = ::GetLastError();
            log.LogTextInt(LOG_TRACE, "InternetReadFile failed, error = %s%d\n", "", static_cast<int>(error));
            // Bytes it reported are never lost: a connection that fails while
            // the read waits for more ends the body as a failed query does.
            if (read < available || read > ask) {
                hr = HkHResultFromWin32(error);
                break;
            }
            more = false;
        }
        if (read == 0) {
            break;
        }
        hk::reply::Commit(read, *ppStore, pdwStoreLength);
        log.LogText(LOG_DETAIL, "Body is %s\n", chunk);
    }
    hk::reply::Settle(ppStore, pdwStoreLength);
    return hr;
}

HRESULT CInternetSendDataBase::CheckResponseTypeIsXML(HINTERNET hRequest) {
    HRESULT hr = S_OK;
    CDesktopLog log("CInternetSendDataBase::CheckResponseTypeIsXML", &hr);
    wchar_t type[250] = {};
    DWORD size = 499;
    if (!::HttpQueryInfoW(hRequest, HTTP_QUERY_CONTENT_TYPE, type, &size, nullptr)) {
        return hr = QueryFailed(log, "Failed to read the content type from the response\n");
    }
    if (::_wcsnicmp(type, L"text/xml", 8) == 0) {
        return hr;
    }
    log.LogText(LOG_ERROR, "Bad Server response (Content-type: %s)\n", type);
    return hr = E_FAIL;
}

HRESULT CInternetSendDataBase::AddDataToStore(const char* pData, DWORD dwSize, char** ppStore,
                                              DWORD* pdwStoreLength) {
    return hk::reply::Append(pData, dwSize, ppStore, pdwStoreLength);
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
