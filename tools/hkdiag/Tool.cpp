#include "Tool.h"

#include "Hearthkit.h"
#include "HResultText.h"
#include "Json.h"
#include "Redact.h"

#include <cstdio>
#include <cwchar>
#include <fcntl.h>
#include <io.h>
#include <new>

namespace hkdiag {

std::string Utf8(const std::wstring& text) {
    int size = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0,
                                     nullptr, nullptr);
    std::string out(size > 0 ? size : 0, '\0');
    if (size > 0) {
        ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &out[0], size, nullptr,
                              nullptr);
    }
    return out;
}

std::wstring Wide(const std::string& utf8) {
    int chars = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(chars > 0 ? chars : 0, L'\0');
    if (chars > 0) {
        ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &out[0], chars);
    }
    return out;
}

std::wstring ToolDirectory() {
    wchar_t path[MAX_PATH];
    DWORD chars = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (chars == 0 || chars >= MAX_PATH) {
        return std::wstring();
    }
    std::wstring dir(path, chars);
    return dir.substr(0, dir.find_last_of(L'\\') + 1);
}

std::wstring TempDirectory() {
    wchar_t temp[MAX_PATH + 1];
    DWORD chars = ::GetTempPathW(MAX_PATH + 1, temp);
    return chars > 0 && chars <= MAX_PATH ? std::wstring(temp, chars) : std::wstring();
}

std::wstring FullPath(const std::wstring& path) {
    DWORD chars = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    std::wstring full(chars, L'\0');
    if (chars == 0 || (chars = ::GetFullPathNameW(path.c_str(), chars, &full[0], nullptr)) == 0 ||
        chars >= full.size()) {
        return path;
    }
    full.resize(chars);
    return full;
}

std::string IsoTime(const FILETIME& time) {
    SYSTEMTIME t;
    if (!::FileTimeToSystemTime(&time, &t)) {
        return std::string();
    }
    char text[32];
    std::snprintf(text, sizeof(text), "%04u-%02u-%02uT%02u:%02u:%02uZ", t.wYear, t.wMonth, t.wDay, t.wHour,
                  t.wMinute, t.wSecond);
    return text;
}

HRESULT FolderOf(const std::wstring& path) {
    std::wstring full = FullPath(path);
    size_t slash = full.find_last_of(L"\\/");
    if (slash == std::wstring::npos) {
        return S_OK;
    }
    DWORD attributes = ::GetFileAttributesW(full.substr(0, slash + 1).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)
               ? S_OK
               : HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
}

bool OptionValue(const std::vector<std::wstring>& args, size_t& i, std::wstring* value) {
    if (i + 1 >= args.size()) {
        return false;
    }
    *value = args[++i];
    return true;
}

bool ParseMilliseconds(const std::wstring& text, DWORD* milliseconds) {
    if (text.empty() || text.size() > 9 || text.find_first_not_of(L"0123456789") != std::wstring::npos) {
        return false;
    }
    *milliseconds = static_cast<DWORD>(std::wcstoul(text.c_str(), nullptr, 10));
    return *milliseconds > 0;
}

HRESULT ReadWholeFile(const std::wstring& path, std::string* text) {
    hk::unique_file file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return HkHResultFromWin32(::GetLastError());
    }
    LARGE_INTEGER size = {};
    if (!::GetFileSizeEx(file.get(), &size)) {
        return HkHResultFromWin32(::GetLastError());
    }
    if (size.QuadPart > 1024LL * 1024 * 1024) {
        return HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);
    }
    text->assign(static_cast<size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    if (!text->empty() &&
        !::ReadFile(file.get(), &(*text)[0], static_cast<DWORD>(text->size()), &read, nullptr)) {
        return HkHResultFromWin32(::GetLastError());
    }
    text->resize(read);
    return S_OK;
}

HRESULT WriteWholeFile(const std::wstring& path, const std::string& bytes) {
    hk::unique_file file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return HkHResultFromWin32(::GetLastError());
    }
    DWORD written = 0;
    if (!::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
        written != bytes.size()) {
        return HkHResultFromWin32(::GetLastError());
    }
    return S_OK;
}

int ReportFailure(const Invocation& invocation, const Failure& failure) {
    std::string what = RedactText(failure.what);
    std::string message = RedactText(failure.message.empty() ? HResultMessage(failure.hr) : failure.message);
    const char* name = HResultName(failure.hr);
    if (invocation.json) {
        JsonObject json;
        json.Bool("ok", false).Text("operation", what).Text("hr", HResultHex(failure.hr));
        json.Raw("name", name != nullptr ? JsonString(name) : "null").Text("message", message);
        if (!failure.hint.empty()) {
            json.Text("hint", failure.hint);
        }
        if (!failure.members.empty()) {
            json.Members(failure.members);
        }
        std::printf("%s\n", json.Done().c_str());
        return kExitFailed;
    }
    // What the command printed before comes first.
    std::fflush(stdout);
    if (failure.message.empty()) {
        std::fprintf(stderr, "hkdiag: %s: %s\n", what.c_str(), DescribeHResult(failure.hr).c_str());
    } else {
        // The tool's own words say it better than the code's name.
        std::fprintf(stderr, "hkdiag: %s: %s [%s]\n", what.c_str(), message.c_str(),
                     HResultHex(failure.hr).c_str());
    }
    if (!failure.hint.empty()) {
        std::fprintf(stderr, "  %s\n", failure.hint.c_str());
    }
    return kExitFailed;
}

int ReportFailure(const Invocation& invocation, const std::string& what, HRESULT hr) {
    Failure failure;
    failure.what = what;
    failure.hr = hr;
    return ReportFailure(invocation, failure);
}

int ReportBadUsage(const Invocation& invocation, const Command& command, const std::string& message) {
    if (invocation.json) {
        JsonObject json;
        json.Bool("ok", false).Text("operation", Utf8(command.name)).Text("hr", HResultHex(E_INVALIDARG));
        json.Text("name", "E_INVALIDARG").Text("message", RedactText(message)).Text("usage", command.usage);
        std::printf("%s\n", json.Done().c_str());
    } else {
        std::fprintf(stderr, "hkdiag: %s\n%s", RedactText(message).c_str(), command.usage);
    }
    return kExitBadUsage;
}

bool MapiRegistered() {
    return MAPILoader::Instance().IsLoaded();
}

std::string NoMapiText() {
    std::string why = MAPILoader::Instance().LastError();
    return "no MAPI registered" + (why.empty() ? std::string() : " (" + why + ")");
}

SharedMapiSession::SharedMapiSession() : m_hr(HearthkitConfig::LogonToMAPI()) {}

SharedMapiSession::~SharedMapiSession() {
    // The host's order at the end: the session and caches, then the key.
    HearthkitConfig::ReleaseStatics();
    HearthkitConfig::CloseDown();
}

Failure SharedMapiSession::Why(const std::string& what) const {
    Failure failure;
    failure.what = what;
    failure.hr = m_hr;
    if (!MapiRegistered()) {
        failure.message = NoMapiText();
        failure.hint = "Outlook's MAPI is found through HKLM \"Software\\Clients\\Mail\\Microsoft Outlook\"";
    }
    return failure;
}

// The handler writes through the C runtime's stdout and stderr: both are
// pointed at a temporary file for the call and restored afterwards.
int RunCaptured(const wchar_t* name, const Invocation& invocation, std::string* output) {
    const Command& command = FindCommand(name);
    wchar_t temp[MAX_PATH], path[MAX_PATH];
    if (::GetTempPathW(MAX_PATH, temp) == 0 || ::GetTempFileNameW(temp, L"hkd", 0, path) == 0) {
        return ReportFailure(invocation, "capturing hkdiag " + Utf8(name),
                             HkHResultFromWin32(::GetLastError()));
    }
    int file = ::_wopen(path, _O_RDWR | _O_BINARY | _O_TRUNC);
    if (file < 0) {
        ::DeleteFileW(path);
        return ReportFailure(invocation, "capturing hkdiag " + Utf8(name), E_FAIL);
    }
    std::fflush(stdout);
    std::fflush(stderr);
    struct Redirect {
        int saved[2];
        explicit Redirect(int file) : saved{::_dup(1), ::_dup(2)} {
            ::_dup2(file, 1);
            ::_dup2(file, 2);
        }
        ~Redirect() {
            std::fflush(stdout);
            std::fflush(stderr);
            ::_dup2(saved[0], 1);
            ::_dup2(saved[1], 2);
            ::_close(saved[0]);
            ::_close(saved[1]);
        }
    };
    int code = kExitFailed;
    {
        Redirect redirect(file);
        try {
            code = command.run(invocation);
        } catch (const std::bad_alloc&) {
            code = ReportFailure(invocation, Utf8(name), E_OUTOFMEMORY);
        } catch (...) {
            code = ReportFailure(invocation, Utf8(name), E_UNEXPECTED);
        }
    }
    long size = ::_lseek(file, 0, SEEK_END);
    ::_lseek(file, 0, SEEK_SET);
    std::string text(size > 0 ? static_cast<size_t>(size) : 0, '\0');
    int read = text.empty() ? 0 : ::_read(file, &text[0], static_cast<unsigned>(text.size()));
    text.resize(read > 0 ? static_cast<size_t>(read) : 0);
    ::_close(file);
    ::DeleteFileW(path);
    // The runtime wrote text mode line ends.
    for (char c : text) {
        if (c != '\r') {
            *output += c;
        }
    }
    return code;
}

} // namespace hkdiag
