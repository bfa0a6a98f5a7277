#include "HResultText.h"

#include "Hearthkit.h"

#include <mapicode.h>
#include <wininet.h>

#include <cstdio>

namespace hkdiag {
namespace {

constexpr HRESULT Win32Hr(DWORD code) {
    return static_cast<HRESULT>(0x80070000u | (code & 0xFFFF));
}

struct NamedHResult {
    HRESULT hr;
    const char* name;
};

#define HK_HR(x)                                                                                             \
    { x, #x }
#define HK_WIN32(x)                                                                                          \
    { Win32Hr(x), "HRESULT_FROM_WIN32(" #x ")" }

// The first entry of a value names it: MAPI reuses E_FAIL (MAPI_E_CALL_FAILED),
// E_OUTOFMEMORY, E_INVALIDARG, E_NOINTERFACE and E_ACCESSDENIED.
constexpr NamedHResult kNames[] = {
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
    HK_WIN32(ERROR_INTERNET_OUT_OF_HANDLES),
    HK_WIN32(ERROR_INTERNET_TIMEOUT),
    HK_WIN32(ERROR_INTERNET_EXTENDED_ERROR),
    HK_WIN32(ERROR_INTERNET_INTERNAL_ERROR),
    HK_WIN32(ERROR_INTERNET_INVALID_URL),
    HK_WIN32(ERROR_INTERNET_UNRECOGNIZED_SCHEME),
    HK_WIN32(ERROR_INTERNET_NAME_NOT_RESOLVED),
    HK_WIN32(ERROR_INTERNET_PROTOCOL_NOT_FOUND),
    HK_WIN32(ERROR_INTERNET_INVALID_OPTION),
    HK_WIN32(ERROR_INTERNET_SHUTDOWN),
    HK_WIN32(ERROR_INTERNET_INCORRECT_HANDLE_TYPE),
    HK_WIN32(ERROR_INTERNET_LOGIN_FAILURE),
    HK_WIN32(ERROR_INTERNET_OPERATION_CANCELLED),
    HK_WIN32(ERROR_INTERNET_ITEM_NOT_FOUND),
    HK_WIN32(ERROR_INTERNET_CANNOT_CONNECT),
    HK_WIN32(ERROR_INTERNET_CONNECTION_ABORTED),
    HK_WIN32(ERROR_INTERNET_CONNECTION_RESET),
    HK_WIN32(ERROR_INTERNET_FORCE_RETRY),
    HK_WIN32(ERROR_INTERNET_SEC_CERT_DATE_INVALID),
    HK_WIN32(ERROR_INTERNET_SEC_CERT_CN_INVALID),
    HK_WIN32(ERROR_INTERNET_INVALID_CA),
    HK_WIN32(ERROR_INTERNET_SEC_CERT_ERRORS),
    HK_WIN32(ERROR_INTERNET_SEC_CERT_REV_FAILED),
    HK_WIN32(ERROR_HTTP_HEADER_NOT_FOUND),
    HK_WIN32(ERROR_HTTP_INVALID_SERVER_RESPONSE),
    HK_WIN32(ERROR_HTTP_INVALID_HEADER),
    HK_WIN32(ERROR_HTTP_REDIRECT_FAILED),
};

#undef HK_HR
#undef HK_WIN32

bool IsWinInetCode(HRESULT hr) {
    DWORD code = HRESULT_CODE(hr);
    return HRESULT_FACILITY(hr) == FACILITY_WIN32 && code >= INTERNET_ERROR_BASE &&
           code <= INTERNET_ERROR_LAST;
}

std::string Utf8(const wchar_t* text, int chars) {
    int size = ::WideCharToMultiByte(CP_UTF8, 0, text, chars, nullptr, 0, nullptr, nullptr);
    std::string out(size > 0 ? size : 0, '\0');
    if (size > 0) {
        ::WideCharToMultiByte(CP_UTF8, 0, text, chars, &out[0], size, nullptr, nullptr);
    }
    return out;
}

} // namespace

const char* HResultName(HRESULT hr) {
    for (const NamedHResult& entry : kNames) {
        if (entry.hr == hr) {
            return entry.name;
        }
    }
    return nullptr;
}

std::string HResultHex(HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08lX", static_cast<unsigned long>(hr));
    return text;
}

std::string HResultMessage(HRESULT hr) {
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
