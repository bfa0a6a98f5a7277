// HearthkitUtil: URL parameters, the connectivity and authentication probes,
// the WinINet open type and the user-agent text.
#include "HearthkitUtil.h"

#include "CDesktopLog.h"
#include "HkResult.h"
#include "UrlComponents.h"
#include "HearthkitConfig.h"
#include "http/InternetHandle.h"

#include <cwchar>
#include <string>
#include <vector>

namespace {

const DWORD kProbeFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                          INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_NO_COOKIES;
const DWORD kLoginDialogFlags = FLAGS_ERROR_UI_FILTER_FOR_ERRORS | FLAGS_ERROR_UI_FLAGS_GENERATE_DATA |
                                FLAGS_ERROR_UI_FLAGS_CHANGE_OPTIONS;
const wchar_t kTestImage[] = L"/clienttest.gif";
const int kTestImageLength = 43;

template <typename String>
void AddParameter(String& url, const String& param, const typename String::XCHAR* question,
                  const typename String::XCHAR* amp, const typename String::XCHAR* marker) {
    if (param.IsEmpty()) {
        return;
    }
    url += url.Find(question) >= 0 ? amp : marker;
    url += param;
}

// Module of this library, for its own file name.
HMODULE ThisModule() {
    HMODULE module = nullptr;
    ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                             GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         reinterpret_cast<LPCWSTR>(&ThisModule), &module);
    return module;
}

// The library's path, short form when there is one; computed once for the
// process (a function-local static is initialised by one thread while the
// others wait).
const wchar_t* ThisModulePath() {
    static const std::wstring path = [] {
        wchar_t full[MAX_PATH + 1] = {};
        ::GetModuleFileNameW(ThisModule(), full, MAX_PATH);
        wchar_t shortPath[MAX_PATH + 1] = {};
        DWORD n = ::GetShortPathNameW(full, shortPath, MAX_PATH);
        return std::wstring(n > 0 && n < MAX_PATH ? shortPath : full);
    }();
    return path.c_str();
}

// The user agent text, for InitOnceExecuteOnce: only a success is kept.
BOOL CALLBACK FormatUserAgent(PINIT_ONCE, PVOID text, PVOID*) {
    int major = 0, minor = 0, build = 0, revision = 0;
    if (FAILED(HearthkitUtil::GetClientDLLVersion(&major, &minor, &build, &revision, nullptr))) {
        return FALSE;
    }
    static_cast<CStringW*>(text)->Format(L"StowhavenOutlookExt-V%d.%d.%d.%d", major, minor, build, revision);
    return TRUE;
}

DWORD QueryStatus(HINTERNET hUrl) {
    DWORD status = 0;
    DWORD size = sizeof(status);
    if (!::HttpQueryInfoW(hUrl, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr)) {
        status = 0;
    }
    return status;
}

// The test image must be image/gif of exactly 43 bytes; without a length
// header the body is read to find out.
bool IsTestImage(CDesktopLog& log, HINTERNET hUrl, const wchar_t* url, DWORD status) {
    wchar_t type[100] = {};
    DWORD size = sizeof(type);
    if (!::HttpQueryInfoW(hUrl, HTTP_QUERY_CONTENT_TYPE, type, &size, nullptr)) {
        type[0] = L'\0';
    }
    if (::_wcsicmp(type, L"image/gif") != 0) {
        CStringW line;
        line.Format(
            L"Connection to %s failed - content type \"%s\" was expected but \"%s\" was returned (status "
            L"code was %d)\n",
            url, L"image/gif", type, static_cast<int>(status));
        log.LogText(LOG_DETAIL, line.GetString());
        return false;
    }
    DWORD length = 0;
    size = sizeof(length);
    if (!::HttpQueryInfoW(hUrl, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &length, &size,
                          nullptr)) {
        length = 0;
    }
    if (length == 0) {
        log.LogText(LOG_DETAIL, "Having to read the file contents to determine its length\n");
        char buffer[kTestImageLength + 1];
        while (length < static_cast<DWORD>(kTestImageLength + 1)) {
            DWORD read = 0;
            if (!::InternetReadFile(hUrl, buffer, sizeof(buffer), &read) || read == 0) {
                break;
            }
            log.LogInt(LOG_DETAIL, "Read %d bytes of client test file\n", static_cast<int>(read));
            length += read;
        }
    }
    if (length != static_cast<DWORD>(kTestImageLength)) {
        CStringW line;
        line.Format(
            L"Connection to %s failed - content length %d was expected but %d was returned (status code was "
            L"%d)\n",
            url, kTestImageLength, static_cast<int>(length), static_cast<int>(status));
        log.LogText(LOG_DETAIL, line.GetString());
        return false;
    }
    log.LogInt(LOG_DETAIL, "Connected - Returned status code(%d)\n", static_cast<int>(status));
    return true;
}

// Opens a probe session with the product's user agent and open type, or
// null; no time-outs are set on it.
HINTERNET OpenProbeSession(CDesktopLog& log, const wchar_t* url) {
    CStringW userAgent = HearthkitUtil::GetSHUserAgent();
    HINTERNET session = ::InternetOpenW(userAgent, HearthkitUtil::GetInternetOpenType(), nullptr, nullptr, 0);
    if (session != nullptr) {
        log.LogText(LOG_DETAIL, "Attempting connection to (%s)...\n", url);
    }
    return session;
}

} // namespace

void HearthkitUtil::AddParameterToURL(CStringW& url, const CStringW& param) {
    CDesktopLog log("HearthkitUtil::AddParameterToURL");
    AddParameter(url, param, L"?", L"&", L"?x=shoutlookext&");
}

void HearthkitUtil::AddParameterToURLA(CStringA& url, const CStringA& param) {
    CDesktopLog log("HearthkitUtil::AddParameterToURLA");
    AddParameter(url, param, "?", "&", "?x=shoutlookext&");
}

CStringW HearthkitUtil::GetRPCSHHostURLParam(const CStringW& hostUrl, const CStringW& appUrl) {
    CDesktopLog log("HearthkitUtil::GetRPCSHHostURLParam");
    UrlComponents<wchar_t> host(hostUrl.GetString());
    UrlComponents<wchar_t> app(appUrl.GetString());
    CStringW param;
    param.Format(L"shhost=%s%s%s", app.nScheme == INTERNET_SCHEME_HTTPS ? L"https://" : L"http://",
                 host.strHostName.GetString(), app.strUrlPath.GetString());
    return param;
}

bool HearthkitUtil::HasInternetConnection(const wchar_t* url, DWORD* pdwConnectionFlags,
                                          const wchar_t* headers, bool bShowLoginDialog) {
    CDesktopLog log("HearthkitUtil::HasInternetConnection");
    if (url == nullptr) {
        HkNullArgument(log, "url");
        return false;
    }
    bool result = false;
    DWORD flags = 0;
    try {
        if (::InternetGetConnectedState(&flags, 0) == TRUE) {
            hk::unique_hinternet session(OpenProbeSession(log, url));
            bool bRetry = session.get() != nullptr;
            while (bRetry) {
                bRetry = false;
                hk::unique_hinternet hUrl(
                    ::InternetOpenUrlW(session.get(), url, headers, static_cast<DWORD>(-1), kProbeFlags, 0));
                if (!hUrl) {
                    log.LogText(LOG_DETAIL, "Failed to open connection to (%s)\n", url);
                    result = false;
                    break;
                }
                DWORD status = QueryStatus(hUrl.get());
                if (status == HTTP_STATUS_NOT_FOUND || status == HTTP_STATUS_FORBIDDEN) {
                    log.LogTextInt(LOG_DETAIL, "No connection to (%s) - Status code %d returned\n", url,
                                   static_cast<int>(status));
                    result = false;
                } else if (status == HTTP_STATUS_DENIED && bShowLoginDialog) {
                    DWORD answer = ::InternetErrorDlg(HearthkitUtil::GetHCLoginWindowHandle(), hUrl.get(),
                                                      ERROR_SUCCESS, kLoginDialogFlags, nullptr);
                    bRetry = answer == ERROR_INTERNET_FORCE_RETRY;
                    result = false;
                } else if (status == HTTP_STATUS_DENIED) {
                    log.LogInt(LOG_DETAIL, "Connected - Returned status code(%d)\n",
                               static_cast<int>(status));
                    result = true;
                } else if (std::wcsstr(url, kTestImage) != nullptr) {
                    result = IsTestImage(log, hUrl.get(), url, status);
                } else {
                    result = false;
                }
            }
        }
    } catch (...) {
        result = false;
    }
    if (pdwConnectionFlags != nullptr) {
        *pdwConnectionFlags = flags;
    }
    log.LogInt(LOG_DETAIL, "Internet connection state = %d (flags = %d)\n", result ? 1 : 0,
               static_cast<int>(flags));
    return result;
}

bool HearthkitUtil::IsUsingBasicAuthentication(const wchar_t* url) {
    CDesktopLog log("HearthkitUtil::IsUsingBasicAuthentication");
    DWORD flags = 0;
    if (url == nullptr) {
        HkNullArgument(log, "url");
        return false;
    }
    if (::InternetGetConnectedState(&flags, 0) != TRUE) {
        return false;
    }
    try {
        hk::unique_hinternet session(OpenProbeSession(log, url));
        if (!session) {
            return false;
        }
        // INTERNET_FLAG_NO_AUTH leaves the 401 challenge to us.
        hk::unique_hinternet hUrl(::InternetOpenUrlW(session.get(), url, L"", static_cast<DWORD>(-1),
                                                     kProbeFlags | INTERNET_FLAG_NO_AUTH, 0));
        if (!hUrl) {
            log.LogText(LOG_DETAIL, "Failed to open connection to (%s)\n", url);
            return false;
        }
        DWORD status = QueryStatus(hUrl.get());
        if (status == HTTP_STATUS_NOT_FOUND || status == HTTP_STATUS_FORBIDDEN) {
            log.LogTextInt(LOG_DETAIL, "No connection to (%s) - Status code %d returned\n", url,
                           static_cast<int>(status));
            return false;
        }
        if (status != HTTP_STATUS_DENIED) {
            return false;
        }
        DWORD length = 10;
        std::vector<char> buffer(length + 1, '\0');
        DWORD index = 0;
        while (!::HttpQueryInfoA(hUrl.get(), HTTP_QUERY_WWW_AUTHENTICATE, buffer.data(), &length, &index)) {
            if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
                log.LogText(LOG_DETAIL, "HttpQueryInfo failed\n");
                length = 0;
                break;
            }
            buffer.assign(length + 1, '\0');
            index = 0;
        }
        buffer[length < buffer.size() ? length : buffer.size() - 1] = '\0';
        log.LogText(LOG_DETAIL, "WWW_AUTHENTICATE -  %s\n", buffer.data());
        if (::_strnicmp(buffer.data(), "basic", 5) == 0) {
            log.LogText(LOG_DETAIL, "Using Basic authentication\n");
            return true;
        }
        log.LogText(LOG_DETAIL, "Using IWA authentication\n");
        return false;
    } catch (...) {
        return false;
    }
}

DWORD HearthkitUtil::GetInternetOpenType() {
    // The registry, then the desktop settings, then 0; the value decides
    // whatever status the lookup reports.
    DWORD direct = 0;
    HearthkitConfig::GetConfigValue(L"INTERNETOPENTYPEDIRECT", &direct, 0);
    return direct != 0 ? INTERNET_OPEN_TYPE_DIRECT : INTERNET_OPEN_TYPE_PRECONFIG;
}

HRESULT HearthkitUtil::GetClientDLLVersion(int* pnMajor, int* pnMinor, int* pnBuild, int* pnRevision,
                                           long* plFlags) {
    HRESULT hr = S_OK;
    CDesktopLog log("HearthkitUtil::GetClientDLLVersion", &hr);
    try {
        const wchar_t* path = ThisModulePath();
        DWORD handle = 0;
        DWORD size = ::GetFileVersionInfoSizeW(path, &handle);
        if (size == 0) {
            return hr;
        }
        std::vector<BYTE> block(size);
        if (!::GetFileVersionInfoW(path, 0, size, block.data())) {
            return hr = E_FAIL;
        }
        VS_FIXEDFILEINFO* info = nullptr;
        UINT length = 0;
        if (!::VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&info), &length) || length == 0 ||
            info == nullptr) {
            return hr = E_FAIL;
        }
        if (pnMajor != nullptr) {
            *pnMajor = HIWORD(info->dwFileVersionMS);
        }
        if (pnMinor != nullptr) {
            *pnMinor = LOWORD(info->dwFileVersionMS);
        }
        if (pnBuild != nullptr) {
            *pnBuild = HIWORD(info->dwFileVersionLS);
        }
        if (pnRevision != nullptr) {
            *pnRevision = LOWORD(info->dwFileVersionLS);
        }
        if (plFlags != nullptr) {
            *plFlags = static_cast<long>(info->dwFileFlags & 0x3F);
        }
    } catch (...) {
        hr = HkCaughtToHr(log, nullptr);
    }
    return hr;
}

CStringW HearthkitUtil::GetSHUserAgent() {
    CDesktopLog log("HearthkitUtil::GetSHUserAgent");
    // Computed once for the process: one thread formats the text while the
    // others wait. A failed computation leaves the text empty and is tried
    // again on the next call.
    static INIT_ONCE once = INIT_ONCE_STATIC_INIT;
    static CStringW userAgent;
    if (!::InitOnceExecuteOnce(&once, FormatUserAgent, &userAgent, nullptr)) {
        return CStringW();
    }
    return userAgent;
}
