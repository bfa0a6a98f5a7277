// hkdiag version: the tool's and the library's versions; hkdiag error CODE:
// what an HRESULT (or a Win32 error) from a log line or a report means.
#include "Hearthkit.h"
#include "HResultText.h"
#include "Json.h"
#include "Tool.h"

#include <cstdio>
#include <cwchar>

namespace hkdiag {

Versions GetVersions() {
    Versions versions;
    versions.tool = HKDIAG_VERSION;
    int major = 0, minor = 0, build = 0, revision = 0;
    HRESULT hr = HearthkitUtil::GetClientDLLVersion(&major, &minor, &build, &revision, nullptr);
    versions.library = SUCCEEDED(hr) ? std::to_string(major) + "." + std::to_string(minor) + "." +
                                           std::to_string(build) + "." + std::to_string(revision)
                                     : "unknown (" + HResultHex(hr) + ")";
    HMODULE library = ::GetModuleHandleW(L"Hearthkit.dll");
    wchar_t path[MAX_PATH];
    DWORD chars = library != nullptr ? ::GetModuleFileNameW(library, path, MAX_PATH) : 0;
    if (chars > 0 && chars < MAX_PATH) {
        versions.libraryPath = Utf8(std::wstring(path, chars));
    }
    return versions;
}

int RunVersion(const Invocation& invocation) {
    if (!invocation.args.empty()) {
        return ReportBadUsage(invocation, FindCommand(L"version"), "version takes no arguments");
    }
    Versions versions = GetVersions();
    if (invocation.json) {
        JsonObject json;
        json.Bool("ok", true).Text("tool", versions.tool).Text("library", versions.library);
        json.Text("libraryPath", versions.libraryPath);
        std::printf("%s\n", json.Done().c_str());
    } else {
        std::printf("hkdiag %s\nHearthkit.dll %s (%s)\n", versions.tool.c_str(), versions.library.c_str(),
                    versions.libraryPath.c_str());
    }
    return kExitSuccess;
}

int RunError(const Invocation& invocation) {
    const Command& command = FindCommand(L"error");
    if (invocation.args.size() != 1 || invocation.args[0].empty()) {
        return ReportBadUsage(invocation, command, "error needs one code");
    }
    const std::wstring& text = invocation.args[0];
    wchar_t* end = nullptr;
    bool hex = text.size() > 2 && text[0] == L'0' && (text[1] == L'x' || text[1] == L'X');
    long long value = hex ? static_cast<long long>(std::wcstoull(text.c_str() + 2, &end, 16))
                          : std::wcstoll(text.c_str(), &end, 10);
    if (*end != L'\0' || value < -0x80000000LL || value > 0xFFFFFFFFLL) {
        return ReportBadUsage(invocation, command,
                              "\"" + Utf8(text) + "\" is not an HRESULT or error number");
    }
    // A small positive number is a Win32 error, as WinINet's 12157.
    HRESULT hr = value > 0 && value <= 0xFFFF ? HkHResultFromWin32(static_cast<DWORD>(value))
                                              : static_cast<HRESULT>(static_cast<unsigned long>(value));
    const char* name = HResultName(hr);
    std::string message = HResultMessage(hr);
    if (invocation.json) {
        JsonObject json;
        json.Bool("ok", true).Text("hr", HResultHex(hr)).Raw("name", name ? JsonString(name) : "null");
        json.Text("message", message);
        std::printf("%s\n", json.Done().c_str());
    } else {
        std::printf("%s %s\n  %s\n", HResultHex(hr).c_str(), name ? name : "(no name known)",
                    message.empty() ? "(no text known)" : message.c_str());
    }
    return kExitSuccess;
}

} // namespace hkdiag
