#include "HResultText.h"

#include "Hearthkit.h"

#include <mapicode.h>
#include <wininet.h>

#include <cstdio>

namespace hkdiag {
namespace {

constexpr HRESULT HttpHr(DWORD status) {
    return static_cast<HRESULT>(0x80190000u | (status & 0xFFFF));
}

struct NamedHResult {
    HRESULT hr;
    const char* name;
    const char* text; // hkdiag's own text, for when the system has none
};

#define HK_HR(x)                                                                                             \
    { x, #x, nullptr }
#define HK_WIN32(x)                                                                                          \
    { HkHResultFromWin32(x), "HRESULT_FROM_WIN32(" #x ")", nullptr }
// A Win32 or WinINet code with a text of hkdiag's own.
#define HK_INET(x, text)                                                                                     \
    { HkHResultFromWin32(x), "HRESULT_FROM_WIN32(" #x ")", text }
// An HTTP status as the HRESULT of facility HTTP (winerror.h's HTTP_E_STATUS_*).
#define HK_HTTP(x, status, text)                                                                             \
    { HttpHr(status), "HTTP_E_STATUS_" #x, text }

// The first entry of a value names it: MAPI reuses E_FAIL (MAPI_E_CALL_FAILED),
// E_OUTOFMEMORY, E_INVALIDARG, E_NOINTERFACE and E_ACCESSDENIED.
const NamedHResult kNames[] = {
    HK_HR(S_OK),
    HK_HR(S_FALSE),
    HK_HR(E_FAIL),
    HK_HR(E_INVALIDARG),
    HK_HR(E_UNEXPECTED),
    HK_HR(E_NOINTERFACE),
    HK_HR(E_OUTOFMEMORY),
    HK_HR(E_POINTER),
    HK_HR(E_NOTIMPL),
    HK_HR(E_ACCESSDENIED),
    HK_HR(E_ABORT),
    HK_HR(E_HANDLE),
    HK_HR(MAPI_E_NO_SUPPORT),
    HK_HR(MAPI_E_BAD_CHARWIDTH),
    HK_HR(MAPI_E_STRING_TOO_LONG),
    HK_HR(MAPI_E_UNKNOWN_FLAGS),
    HK_HR(MAPI_E_INVALID_ENTRYID),
    HK_HR(MAPI_E_INVALID_OBJECT),
    HK_HR(MAPI_E_OBJECT_CHANGED),
    HK_HR(MAPI_E_OBJECT_DELETED),
    HK_HR(MAPI_E_BUSY),
    HK_HR(MAPI_E_NOT_ENOUGH_DISK),
    HK_HR(MAPI_E_NOT_ENOUGH_RESOURCES),
    HK_HR(MAPI_E_NOT_FOUND),
    HK_HR(MAPI_E_VERSION),
    HK_HR(MAPI_E_LOGON_FAILED),
    HK_HR(MAPI_E_SESSION_LIMIT),
    HK_HR(MAPI_E_USER_CANCEL),
    HK_HR(MAPI_E_UNABLE_TO_ABORT),
    HK_HR(MAPI_E_NETWORK_ERROR),
    HK_HR(MAPI_E_DISK_ERROR),
    HK_HR(MAPI_E_TOO_COMPLEX),
    HK_HR(MAPI_E_BAD_COLUMN),
    HK_HR(MAPI_E_EXTENDED_ERROR),
    HK_HR(MAPI_E_COMPUTED),
    HK_HR(MAPI_E_CORRUPT_DATA),
    HK_HR(MAPI_E_UNCONFIGURED),
    HK_HR(MAPI_E_FAILONEPROVIDER),
    HK_HR(MAPI_E_UNKNOWN_CPID),
    HK_HR(MAPI_E_UNKNOWN_LCID),
    HK_HR(MAPI_E_PASSWORD_CHANGE_REQUIRED),
    HK_HR(MAPI_E_PASSWORD_EXPIRED),
    HK_HR(MAPI_E_END_OF_SESSION),
    HK_HR(MAPI_E_UNKNOWN_ENTRYID),
    HK_HR(MAPI_E_MISSING_REQUIRED_COLUMN),
    HK_HR(MAPI_E_CORRUPT_STORE),
    HK_HR(MAPI_E_NOT_IN_QUEUE),
    HK_HR(MAPI_E_NO_SUPPRESS),
    HK_HR(MAPI_E_COLLISION),
    HK_HR(MAPI_E_NOT_INITIALIZED),
    HK_HR(MAPI_E_NON_STANDARD),
    HK_HR(MAPI_E_NO_RECIPIENTS),
    HK_HR(MAPI_E_SUBMITTED),
    HK_HR(MAPI_E_HAS_FOLDERS),
    HK_HR(MAPI_E_HAS_MESSAGES),
    HK_HR(MAPI_E_FOLDER_CYCLE),
    HK_HR(MAPI_E_TABLE_EMPTY),
    HK_HR(MAPI_E_TABLE_TOO_BIG),
    HK_HR(MAPI_E_INVALID_BOOKMARK),
    HK_HR(MAPI_E_UNABLE_TO_COMPLETE),
    HK_HR(MAPI_E_TIMEOUT),
    HK_HR(MAPI_E_AMBIGUOUS_RECIP),
    HK_HR(MAPI_W_ERRORS_RETURNED),
    HK_HR(MAPI_W_POSITION_CHANGED),
    HK_HR(MAPI_W_PARTIAL_COMPLETION),
    HK_WIN32(ERROR_FILE_NOT_FOUND),
    HK_WIN32(ERROR_PATH_NOT_FOUND),
    HK_WIN32(ERROR_ACCESS_DENIED),
    HK_WIN32(ERROR_INVALID_DATA),
    HK_WIN32(ERROR_DISK_FULL),
    HK_WIN32(ERROR_ALREADY_EXISTS),
    HK_WIN32(ERROR_INSUFFICIENT_BUFFER),
    HK_WIN32(ERROR_TIMEOUT),
    HK_WIN32(ERROR_FILE_EXISTS),
    HK_INET(ERROR_FILE_TOO_LARGE, "The file is larger than the operation allows."),
    HK_WIN32(ERROR_CANCELLED),
    HK_INET(ERROR_INTERNET_OUT_OF_HANDLES, "No more WinINet handles could be generated."),
    HK_INET(ERROR_INTERNET_TIMEOUT, "The request timed out."),
    HK_INET(ERROR_INTERNET_EXTENDED_ERROR, "The server returned extended information."),
    HK_INET(ERROR_INTERNET_INTERNAL_ERROR, "An internal error occurred in WinINet."),
    HK_INET(ERROR_INTERNET_INVALID_URL, "The URL is invalid."),
    HK_INET(ERROR_INTERNET_UNRECOGNIZED_SCHEME,
            "The URL's scheme could not be recognized or is not supported."),
    HK_INET(ERROR_INTERNET_NAME_NOT_RESOLVED, "The server name could not be resolved."),
    HK_INET(ERROR_INTERNET_PROTOCOL_NOT_FOUND, "No protocol could handle the URL."),
    HK_INET(ERROR_INTERNET_INVALID_OPTION, "The option is invalid."),
    HK_INET(ERROR_INTERNET_BAD_OPTION_LENGTH, "The option's length is wrong for its type."),
    HK_INET(ERROR_INTERNET_OPTION_NOT_SETTABLE, "The option can be queried only, not set."),
    HK_INET(ERROR_INTERNET_SHUTDOWN, "WinINet is being shut down or unloaded."),
    HK_INET(ERROR_INTERNET_INCORRECT_USER_NAME, "The user name was not accepted."),
    HK_INET(ERROR_INTERNET_INCORRECT_PASSWORD, "The password was not accepted."),
    HK_INET(ERROR_INTERNET_LOGIN_FAILURE, "The login was refused."),
    HK_INET(ERROR_INTERNET_INVALID_OPERATION, "The operation is invalid."),
    HK_INET(ERROR_INTERNET_OPERATION_CANCELLED,
            "The operation was cancelled, usually because its handle was closed."),
    HK_INET(ERROR_INTERNET_INCORRECT_HANDLE_TYPE, "The handle is of the wrong type for the operation."),
    HK_INET(ERROR_INTERNET_INCORRECT_HANDLE_STATE, "The handle is in the wrong state for the operation."),
    HK_INET(ERROR_INTERNET_NOT_PROXY_REQUEST, "The request cannot be made through a proxy."),
    HK_INET(ERROR_INTERNET_REGISTRY_VALUE_NOT_FOUND, "A registry value WinINet needs could not be found."),
    HK_INET(ERROR_INTERNET_BAD_REGISTRY_PARAMETER, "A registry value WinINet needs is wrong."),
    HK_INET(ERROR_INTERNET_NO_DIRECT_ACCESS, "Direct network access cannot be made at this time."),
    HK_INET(ERROR_INTERNET_NO_CONTEXT, "An asynchronous request was made with no context value."),
    HK_INET(ERROR_INTERNET_NO_CALLBACK, "An asynchronous request was made with no status callback."),
    HK_INET(ERROR_INTERNET_REQUEST_PENDING, "The operation has not completed yet."),
    HK_INET(ERROR_INTERNET_INCORRECT_FORMAT, "The format of the request is invalid."),
    HK_INET(ERROR_INTERNET_ITEM_NOT_FOUND, "The requested item could not be found."),
    HK_INET(ERROR_INTERNET_CANNOT_CONNECT, "The connection to the server could not be made."),
    HK_INET(ERROR_INTERNET_CONNECTION_ABORTED, "The connection to the server was ended."),
    HK_INET(ERROR_INTERNET_CONNECTION_RESET, "The connection to the server was reset."),
    HK_INET(ERROR_INTERNET_FORCE_RETRY, "The request must be sent again."),
    HK_INET(ERROR_INTERNET_INVALID_PROXY_REQUEST, "The request to the proxy was invalid."),
    HK_INET(ERROR_INTERNET_NEED_UI, "A user interface or other blocking operation has been requested."),
    HK_INET(ERROR_INTERNET_HANDLE_EXISTS, "The handle already exists."),
    HK_INET(ERROR_INTERNET_SEC_CERT_DATE_INVALID,
            "The server's certificate has expired or is not yet valid."),
    HK_INET(ERROR_INTERNET_SEC_CERT_CN_INVALID, "The server's certificate names another host."),
    HK_INET(ERROR_INTERNET_HTTP_TO_HTTPS_ON_REDIR, "A redirection leads from http to https."),
    HK_INET(ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR, "A redirection leads from https to http."),
    HK_INET(ERROR_INTERNET_MIXED_SECURITY, "Some of the content is not secure."),
    HK_INET(ERROR_INTERNET_CHG_POST_IS_NON_SECURE,
            "Data is about to be posted to a server that is not secure."),
    HK_INET(ERROR_INTERNET_POST_IS_NON_SECURE,
            "Data is about to be posted over a connection that is not secure."),
    HK_INET(ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED, "The server asks for a client certificate."),
    HK_INET(ERROR_INTERNET_INVALID_CA,
            "The server's certificate was issued by an authority that is not trusted."),
    HK_INET(ERROR_INTERNET_CLIENT_AUTH_NOT_SETUP, "Client authorization is not set up on this computer."),
    HK_INET(ERROR_INTERNET_ASYNC_THREAD_FAILED, "WinINet's worker thread could not be started."),
    HK_INET(ERROR_INTERNET_REDIRECT_SCHEME_CHANGE, "A redirection changes the scheme."),
    HK_INET(ERROR_INTERNET_DIALOG_PENDING, "Another thread is showing a WinINet dialog."),
    HK_INET(ERROR_INTERNET_RETRY_DIALOG, "The dialog must be shown again."),
    HK_INET(ERROR_INTERNET_HTTPS_HTTP_SUBMIT_REDIR,
            "Data is being submitted to a server that is not secure."),
    HK_INET(ERROR_INTERNET_INSERT_CDROM, "A CD-ROM must be inserted."),
    HK_INET(ERROR_INTERNET_FORTEZZA_LOGIN_NEEDED, "A Fortezza login is needed."),
    HK_INET(ERROR_INTERNET_SEC_CERT_ERRORS, "The server's certificate has errors."),
    HK_INET(ERROR_INTERNET_SEC_CERT_NO_REV, "The server's certificate could not be checked for revocation."),
    HK_INET(ERROR_INTERNET_SEC_CERT_REV_FAILED, "The revocation check of the server's certificate failed."),
    HK_INET(ERROR_HTTP_HEADER_NOT_FOUND, "The requested header could not be found."),
    HK_INET(ERROR_HTTP_DOWNLEVEL_SERVER, "The server did not return any headers."),
    HK_INET(ERROR_HTTP_INVALID_SERVER_RESPONSE, "The server's reply could not be parsed."),
    HK_INET(ERROR_HTTP_INVALID_HEADER, "The header is invalid."),
    HK_INET(ERROR_HTTP_INVALID_QUERY_REQUEST, "The header query is invalid."),
    HK_INET(ERROR_HTTP_HEADER_ALREADY_EXISTS, "The header already exists and could not be replaced."),
    HK_INET(ERROR_HTTP_REDIRECT_FAILED, "The redirection failed."),
    HK_INET(ERROR_HTTP_NOT_REDIRECTED, "The request was not redirected."),
    HK_INET(ERROR_HTTP_COOKIE_NEEDS_CONFIRMATION, "A cookie needs confirmation."),
    HK_INET(ERROR_HTTP_COOKIE_DECLINED, "A cookie was declined."),
    HK_INET(ERROR_HTTP_REDIRECT_NEEDS_CONFIRMATION, "The redirection needs confirmation."),
    HK_INET(ERROR_INTERNET_SECURITY_CHANNEL_ERROR, "The secure channel (TLS) could not be established."),
    HK_INET(ERROR_INTERNET_UNABLE_TO_CACHE_FILE, "The file could not be written to the cache."),
    HK_INET(ERROR_INTERNET_TCPIP_NOT_INSTALLED, "TCP/IP is not installed."),
    HK_INET(ERROR_INTERNET_DISCONNECTED, "The computer is disconnected from the network."),
    HK_INET(ERROR_INTERNET_SERVER_UNREACHABLE, "The server could not be reached."),
    HK_INET(ERROR_INTERNET_PROXY_SERVER_UNREACHABLE, "The proxy server could not be reached."),
    HK_INET(ERROR_INTERNET_BAD_AUTO_PROXY_SCRIPT, "The proxy auto-configuration script has an error."),
    HK_INET(ERROR_INTERNET_UNABLE_TO_DOWNLOAD_SCRIPT,
            "The proxy auto-configuration script could not be downloaded."),
    HK_INET(ERROR_INTERNET_SEC_INVALID_CERT, "The server's certificate is invalid."),
    HK_INET(ERROR_INTERNET_SEC_CERT_REVOKED, "The server's certificate has been revoked."),
    HK_INET(ERROR_INTERNET_FAILED_DUETOSECURITYCHECK, "The request failed a security check."),
    HK_INET(ERROR_INTERNET_NOT_INITIALIZED, "WinINet has not been initialized."),
    HK_INET(ERROR_INTERNET_NEED_MSN_SSPI_PKG, "The MSN security package is needed."),
    HK_INET(ERROR_INTERNET_LOGIN_FAILURE_DISPLAY_ENTITY_BODY,
            "The login was refused; the server's reply explains why."),
    HK_HTTP(BAD_REQUEST, 400, "Bad request"),
    HK_HTTP(DENIED, 401, "Unauthorized: the server asks for credentials"),
    HK_HTTP(PAYMENT_REQ, 402, "Payment required"),
    HK_HTTP(FORBIDDEN, 403, "Forbidden"),
    HK_HTTP(NOT_FOUND, 404, "Not found"),
    HK_HTTP(BAD_METHOD, 405, "Method not allowed"),
    HK_HTTP(NONE_ACCEPTABLE, 406, "Not acceptable"),
    HK_HTTP(PROXY_AUTH_REQ, 407, "The proxy asks for credentials"),
    HK_HTTP(REQUEST_TIMEOUT, 408, "The server timed out waiting for the request"),
    HK_HTTP(CONFLICT, 409, "Conflict"),
    HK_HTTP(GONE, 410, "Gone"),
    HK_HTTP(LENGTH_REQUIRED, 411, "Length required"),
    HK_HTTP(PRECOND_FAILED, 412, "Precondition failed"),
    HK_HTTP(REQUEST_TOO_LARGE, 413, "Request entity too large"),
    HK_HTTP(URI_TOO_LONG, 414, "Request URI too long"),
    HK_HTTP(UNSUPPORTED_MEDIA, 415, "Unsupported media type"),
    HK_HTTP(SERVER_ERROR, 500, "Internal server error"),
    HK_HTTP(NOT_SUPPORTED, 501, "Not implemented"),
    HK_HTTP(BAD_GATEWAY, 502, "Bad gateway"),
    HK_HTTP(SERVICE_UNAVAIL, 503, "Service unavailable"),
    HK_HTTP(GATEWAY_TIMEOUT, 504, "Gateway timeout"),
    HK_HTTP(VERSION_NOT_SUP, 505, "HTTP version not supported"),
};

#undef HK_HR
#undef HK_WIN32
#undef HK_INET
#undef HK_HTTP

// WinINet's codes, 12000 to 12999, and the texts of wininet.dll.
bool IsWinInetCode(HRESULT hr) {
    DWORD code = HRESULT_CODE(hr);
    return HRESULT_FACILITY(hr) == FACILITY_WIN32 && code >= INTERNET_ERROR_BASE && code < 13000;
}

std::string Utf8(const wchar_t* text, int chars) {
    int size = ::WideCharToMultiByte(CP_UTF8, 0, text, chars, nullptr, 0, nullptr, nullptr);
    std::string out(size > 0 ? size : 0, '\0');
    if (size > 0) {
        ::WideCharToMultiByte(CP_UTF8, 0, text, chars, &out[0], size, nullptr, nullptr);
    }
    return out;
}

const NamedHResult* Find(HRESULT hr) {
    for (const NamedHResult& entry : kNames) {
        if (entry.hr == hr) {
            return &entry;
        }
    }
    return nullptr;
}

// FormatMessage's text for hr, without the trailing line end; empty when the
// system has none.
std::string SystemMessage(HRESULT hr) {
    DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS;
    DWORD code = static_cast<DWORD>(hr);
    hk::unique_hmodule wininet;
    if (IsWinInetCode(hr)) {
        // WinINet's messages live in its own module's message table.
        wininet.reset(::LoadLibraryExW(L"wininet.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE));
        if (!wininet) {
            return std::string();
        }
        flags |= FORMAT_MESSAGE_FROM_HMODULE;
        code = HRESULT_CODE(hr);
    } else {
        flags |= FORMAT_MESSAGE_FROM_SYSTEM;
        if (HRESULT_FACILITY(hr) == FACILITY_WIN32) {
            code = HRESULT_CODE(hr);
        }
    }
    wchar_t* buffer = nullptr;
    DWORD chars =
        ::FormatMessageW(flags, wininet.get(), code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    // FormatMessage allocates with LocalAlloc: the holder frees with LocalFree.
    struct LocalText {
        wchar_t* text;
        ~LocalText() { ::LocalFree(text); }
    } owned{buffer};
    while (chars > 0 &&
           (buffer[chars - 1] == L'\r' || buffer[chars - 1] == L'\n' || buffer[chars - 1] == L' ')) {
        --chars;
    }
    return chars > 0 ? Utf8(buffer, static_cast<int>(chars)) : std::string();
}

} // namespace

HRESULT HttpStatusHResult(DWORD status) {
    return HttpHr(status);
}

const char* HResultName(HRESULT hr) {
    const NamedHResult* entry = Find(hr);
    return entry != nullptr ? entry->name : nullptr;
}

std::string HResultHex(HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08lX", static_cast<unsigned long>(hr));
    return text;
}

std::string HResultMessage(HRESULT hr) {
    std::string text = SystemMessage(hr);
    if (!text.empty()) {
        return text;
    }
    const NamedHResult* entry = Find(hr);
    if (entry != nullptr && entry->text != nullptr) {
        return entry->text;
    }
    if (IsWinInetCode(hr)) {
        return "WinINet error " + std::to_string(HRESULT_CODE(hr));
    }
    if (HRESULT_FACILITY(hr) == FACILITY_HTTP) {
        return "HTTP status " + std::to_string(HRESULT_CODE(hr));
    }
    return std::string();
}

std::string DescribeHResult(HRESULT hr) {
    std::string text = HResultHex(hr);
    if (const char* name = HResultName(hr)) {
        text += ' ';
        text += name;
    }
    std::string message = HResultMessage(hr);
    if (!message.empty()) {
        text += " (" + message + ")";
    }
    return text;
}

} // namespace hkdiag
