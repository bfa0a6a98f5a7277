// The public request operations of the engine. Each opens a request, sends,
// reads the reply into the caller's record and repeats the exchange while
// the reader (after a login dialog) or WinINet (a resend request of a
// streamed upload) asks for it.
#include "CInternetSendDataBase.h"

#include "CDesktopLog.h"
#include "HkResult.h"
#include "http/InternetHandle.h"

#include <climits>
#include <cstring>

namespace {

struct ExchangeKind {
    const char* start;
    const char* end;
};
const ExchangeKind kGet = {"++++++++++++ Starting GET Request +++++++++++++++++++\n",
                           "++++++++++++ Ended GET Request +++++++++++++++++++\n"};
const ExchangeKind kPost = {"++++++++++++ Starting POST Request +++++++++++++++++++\n",
                            "++++++++++++ Ended POST Request +++++++++++++++++++\n"};
const ExchangeKind kLargePost = {"++++++++++++ Starting LARGE POST Request +++++++++++++++++++\n",
                                 "++++++++++++ Ended LARGE POST Request +++++++++++++++++++\n"};

const char kOpenFailed[] = "HttpOpenRequest failed: %s, %d\n";

// The failure of opening a request: its line and the thread's last error.
HRESULT OpenFailed(CDesktopLog& log, const char* format, const char* szUrl) {
    DWORD error = ::GetLastError();
    log.LogTextInt(LOG_ERROR, format, szUrl, static_cast<int>(error));
    return HkHResultFromWin32(error);
}

// The failure of a send call: the operation's line and the error's HRESULT.
HRESULT SendFailed(CDesktopLog& log, const char* format) {
    DWORD error = ::GetLastError();
    log.LogInt(LOG_ERROR, format, static_cast<int>(error));
    return HkHResultFromWin32(error);
}

// Sends a request whose headers and body were built whole.
bool SendWhole(HINTERNET request, const CStringA& headers, const CStringA& body) {
    return ::HttpSendRequestA(request, headers, static_cast<DWORD>(headers.GetLength()),
                              const_cast<char*>(body.GetString()),
                              static_cast<DWORD>(body.GetLength())) != FALSE;
}

// Runs one exchange until it fails or no repetition is asked for. step sends
// and reads once; it sets abandon for a failure that ends the exchange
// before anything is sent (no end line then).
template <typename Step>
HRESULT Repeat(CDesktopLog& log, const ExchangeKind& kind, bool& bRetry, Step step) {
    HRESULT r = S_OK;
    bRetry = false;
    do {
        log.LogText(LOG_TRACE, kind.start);
        bool abandon = false;
        r = step(abandon);
        if (abandon) {
            return r;
        }
        log.LogText(LOG_TRACE, kind.end);
    } while (SUCCEEDED(r) && bRetry);
    return r;
}

// File parts must describe bytes that exist, and the body's length must fit
// the signed 32-bit length header.
bool FilesAreSendable(const std::vector<FileData>& files) {
    long long total = 0;
    for (const FileData& file : files) {
        if (file.nDataLength < 0 || (file.pData == nullptr && file.nDataLength > 0)) {
            return false;
        }
        total += file.nDataLength + 1024LL + file.strFieldName.GetLength() + file.strFileName.GetLength() +
                 file.strContentType.GetLength();
    }
    return total <= INT_MAX;
}

} // namespace

HRESULT CInternetSendDataBase::GetDataFromServer(const char* szUrl, ResponseDetails* pResponse) {
    HRESULT hr = S_OK;
    CDesktopLog log("CInternetSendDataBase::GetDataFromServer", &hr);
    if (szUrl == nullptr || pResponse == nullptr) {
        return hr = HkNullArgument(log, "szUrl or pResponse");
    }
    try {
        hk::unique_hinternet request(OpenRequest(szUrl, "GET", NormalRequest));
        if (!request) {
            return hr = OpenFailed(log, kOpenFailed, szUrl);
        }
        bool bRetry = false;
        hr = Repeat(log, kGet, bRetry, [&](bool&) {
            if (!::HttpSendRequestW(request.get(), nullptr, 0, nullptr, 0)) {
                return SendFailed(log, "HttpSendRequest failed: %d\n");
            }
            return ReadResponse(request.get(), *pResponse, bRetry);
        });
    } catch (...) {
        hr = HkCaughtToHr(log, "CInternetSendDataBase::GetDataFromServer");
    }
    return hr;
}

HRESULT CInternetSendDataBase::GetURLStatusText(const char* szUrl, DWORD* pdwStatusCode, char* szStatusText,
                                                int nStatusTextSize) {
    HRESULT hr = S_OK;
    CDesktopLog log("CInternetSendDataBase::GetURLStatusText", &hr);
    if (szUrl == nullptr || pdwStatusCode == nullptr || szStatusText == nullptr || nStatusTextSize <= 0) {
        return hr = HkNullArgument(log, "szUrl, pdwStatusCode or szStatusText (of a positive size)");
    }
    try {
        hk::unique_hinternet request(OpenRequest(szUrl, "GET", NormalRequest));
        if (!request) {
            return hr = OpenFailed(log, "HttpOpenRequest failed %s, error %d\n", szUrl);
        }
        ResponseDetails response;
        bool bRetry = false;
        hr = Repeat(log, kGet, bRetry, [&](bool&) {
            if (!::HttpSendRequestW(request.get(), nullptr, 0, nullptr, 0)) {
                return SendFailed(log, "HttpSendRequest failed: %d\n");
            }
            return ReadResponse(request.get(), response, bRetry);
        });
        if (SUCCEEDED(hr) && !bRetry) {
            hr = ReadStatusCode(request.get(), pdwStatusCode, szStatusText,
                                static_cast<DWORD>(nStatusTextSize));
        }
    } catch (...) {
        hr = HkCaughtToHr(log, "CInternetSendDataBase::GetURLStatusText");
    }
    return hr;
}

HRESULT CInternetSendDataBase::PostFormDataToServer(const char* szUrl, std::vector<FieldData>& fields,
                                                    ResponseDetails* pResponse) {
    HRESULT hr = S_OK;
    CDesktopLog log("CInternetSendDataBase::PostFormDataToServer", &hr);
    if (szUrl == nullptr || pResponse == nullptr) {
        return hr = HkNullArgument(log, "szUrl or pResponse");
    }
    try {
        // The caller supplies names and values already URL-encoded.
        CStringA body;
        for (size_t i = 0; i < fields.size(); ++i) {
            if (i != 0) {
                body += '&';
            }
            body += fields[i].strName;
            body += '=';
            body += fields[i].strValue;
        }
        CStringA headers;
        headers.Format("Content-type: application/x-www-form-urlencoded\r\nContent-length: %d\r\n\r\n",
                       body.GetLength());
        hk::unique_hinternet request(OpenRequest(szUrl, "POST", NormalRequest));
        if (!request) {
            return hr = OpenFailed(log, kOpenFailed, szUrl);
        }
        bool bRetry = false;
        hr = Repeat(log, kPost, bRetry, [&](bool&) {
            log.LogText(LOG_DETAIL, "URL is %s\n", szUrl);
            log.LogText(LOG_DETAIL, "Sending headers : '%s'\n", headers.GetString());
            log.LogText(LOG_DETAIL, "Data '%s'\n", body.GetString());
            if (!SendWhole(request.get(), headers, body)) {
                return SendFailed(log, "HttpSendRequestA failed: %d\n");
            }
            return ReadResponse(request.get(), *pResponse, bRetry);
        });
    } catch (...) {
        hr = HkCaughtToHr(log, "CInternetSendDataBase::PostFormDataToServer");
    }
    return hr;
}

HRESULT CInternetSendDataBase::PostXMLDataToServer(const char* szUrl, CComBSTR& bstrXML,
                                                   ResponseDetails* pResponse) {
    HRESULT hr = S_OK;
    CDesktopLog log("CInternetSendDataBase::PostXMLDataToServer", &hr);
    if (szUrl == nullptr || pResponse == nullptr) {
        return hr = HkNullArgument(log, "szUrl or pResponse");
    }
    try {
        static const wchar_t kHeaders[] = L"Content-Type: text/xml; charset=UTF-16";
        hk::unique_hinternet request(OpenRequest(szUrl, "POST", NormalRequest));
        if (!request) {
            return hr = OpenFailed(log, kOpenFailed, szUrl);
        }
        bool bRetry = false;
        hr = Repeat(log, kPost, bRetry, [&](bool&) {
            // The BSTR's bytes as they are: UTF-16LE, no terminator, no BOM.
            if (!::HttpSendRequestW(request.get(), kHeaders, static_cast<DWORD>(std::wcslen(kHeaders)),
                                    bstrXML.m_str, ::SysStringByteLen(bstrXML.m_str))) {
                return SendFailed(log, "HttpSendRequest failed: %d\n");
            }
            return ReadResponse(request.get(), *pResponse, bRetry);
        });
    } catch (...) {
        hr = HkCaughtToHr(log, "CInternetSendDataBase::PostXMLDataToServer");
    }
    return hr;
}

HRESULT CInternetSendDataBase::PostUTF8XMLDataToServer(const char* szUrl, CStringW strHeaders,
                                                       const char* szXML, ResponseDetails* pResponse) {
    HRESULT hr = S_OK;
    CDesktopLog log("CInternetSendDataBase::PostUTF8XMLDataToServer", &hr);
    if (szUrl == nullptr || pResponse == nullptr) {
        return hr = HkNullArgument(log, "szUrl or pResponse");
    }
    try {
        DWORD length = szXML != nullptr ? static_cast<DWORD>(std::strlen(szXML)) : 0;
        hk::unique_hinternet request(OpenRequest(szUrl, "POST", NormalRequest));
        if (!request) {
            return hr = OpenFailed(log, kOpenFailed, szUrl);
        }
        bool bRetry = false;
        hr = Repeat(log, kPost, bRetry, [&](bool&) {
            if (!::HttpSendRequestW(request.get(), strHeaders.IsEmpty() ? nullptr : strHeaders.GetString(),
                                    static_cast<DWORD>(strHeaders.GetLength()), const_cast<char*>(szXML),
                                    length)) {
                return SendFailed(log, "HttpSendRequest failed: %d\n");
            }
            // A 401 answered with credentials is sent again: only the reply that
            // ends the exchange must be XML.
            HRESULT r = ReadResponse(request.get(), *pResponse, bRetry);
            if (SUCCEEDED(r) && !bRetry) {
                r = CheckResponseTypeIsXML(request.get());
            }
            return r;
        });
    } catch (...) {
        hr = HkCaughtToHr(log, "CInternetSendDataBase::PostUTF8XMLDataToServer");
    }
    return hr;
}

HRESULT CInternetSendDataBase::PostDataToServer(const char* szUrl, std::vector<FileData>& files,
                                                std::vector<FieldData>& fields, ResponseDetails* pResponse) {
    HRESULT hr = S_OK;
    CDesktopLog log("CInternetSendDataBase::PostDataToServer", &hr);
    if (szUrl == nullptr || pResponse == nullptr) {
        return hr = HkNullArgument(log, "szUrl or pResponse");
    }
    try {
        // The collected body carries fields only, while the announced length
        // would count the files: a request with files would lie about its
        // length. Files go through PostLargeDataToServer.
        if (!files.empty()) {
            log.LogText(LOG_ERROR,
                        "PostDataToServer sends fields only; use PostLargeDataToServer for files\n");
            return hr = E_INVALIDARG;
        }
        hk::unique_hinternet request(OpenRequest(szUrl, "POST", NormalRequest));
        if (!request) {
            return hr = OpenFailed(log, kOpenFailed, szUrl);
        }
        bool bRetry = false;
        hr = Repeat(log, kPost, bRetry, [&](bool& abandon) {
            CStringA boundary = GenerateMultipartBoundary();
            CStringA headers, body;
            DWORD contentLength = 0;
            HRESULT r = AddHeadersToRequest(boundary, fields, files, request.get(), &contentLength, &headers);
            if (SUCCEEDED(r)) {
                r = AddFieldsAndFiles(fields, files, boundary, request.get(), &body);
            }
            if (FAILED(r)) {
                abandon = true;
                return r;
            }
            if (!SendWhole(request.get(), headers, body)) {
                return SendFailed(log, "HttpSendRequestA failed: %d\n");
            }
            return ReadResponse(request.get(), *pResponse, bRetry);
        });
    } catch (...) {
        hr = HkCaughtToHr(log, "CInternetSendDataBase::PostDataToServer");
    }
    return hr;
}

HRESULT CInternetSendDataBase::PostLargeDataToServer(const char* szUrl, std::vector<FileData>& files,
                                                     std::vector<FieldData>& fields,
                                                     ResponseDetails* pResponse) {
    HRESULT hr = S_OK;
    CDesktopLog log("CInternetSendDataBase::PostLargeDataToServer", &hr);
    if (szUrl == nullptr || pResponse == nullptr || !FilesAreSendable(files)) {
        return hr = HkNullArgument(log, "szUrl, pResponse or the data of a file");
    }
    try {
        hk::unique_hinternet request(OpenRequest(szUrl, "POST", LargeRequest));
        if (!request) {
            return hr = OpenFailed(log, kOpenFailed, szUrl);
        }
        bool bRetry = false;
        hr = Repeat(log, kLargePost, bRetry, [&](bool& abandon) {
            CStringA boundary = GenerateMultipartBoundary();
            DWORD contentLength = 0;
            HRESULT r = AddHeadersToRequest(boundary, fields, files, request.get(), &contentLength, nullptr);
            if (FAILED(r)) {
                abandon = true;
                return r;
            }
            INTERNET_BUFFERSW buffers = {};
            buffers.dwStructSize = sizeof(buffers);
            buffers.dwBufferTotal = contentLength;
            if (!::HttpSendRequestExW(request.get(), &buffers, nullptr, HSR_INITIATE, 0)) {
                return SendFailed(log, "HttpSendRequestEx failed: %d\n");
            }
            r = AddFieldsAndFiles(fields, files, boundary, request.get(), nullptr);
            if (FAILED(r)) {
                abandon = true;
                return r;
            }
            if (EndRequest(request.get())) {
                return ReadResponse(request.get(), *pResponse, bRetry);
            }
            DWORD error = ::GetLastError();
            // A resend request is honoured once in a row.
            if (error == ERROR_INTERNET_FORCE_RETRY && !bRetry) {
                log.LogText(LOG_TRACE,
                            "Will retry request after receiving ERROR_WINHTTP_RESEND_REQUEST response.\n");
                bRetry = true;
                return S_OK;
            }
            log.LogInt(LOG_ERROR, "HttpEndRequest failed: %d\n", static_cast<int>(error));
            return HkHResultFromWin32(error);
        });
    } catch (...) {
        hr = HkCaughtToHr(log, "CInternetSendDataBase::PostLargeDataToServer");
    }
    return hr;
}
