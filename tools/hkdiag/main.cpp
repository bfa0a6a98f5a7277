// hkdiag: the Stowhaven desktop support tool.
//
//   hkdiag [demo]   the tour: library version, log level, log file, one log line
//   hkdiag --help   usage
// Exit codes: 0 done, 1 the library's version could not be read, 2 bad usage.
#include "Hearthkit.h"

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

void PrintUsage(FILE* out) {
    std::fprintf(out, "Usage: hkdiag [command]\n"
                      "Commands:\n"
                      "  demo     show the library's version, the log level and the log file,\n"
                      "           and write a line to the log (the default)\n"
                      "  --help   show this text\n");
}

// "major.minor.build.revision" from Hearthkit.dll's own version resource.
bool LibraryVersion(std::wstring* path, std::string* version) {
    HMODULE module = ::GetModuleHandleW(L"Hearthkit.dll");
    if (module == nullptr) {
        return false;
    }
    wchar_t file[MAX_PATH];
    DWORD chars = ::GetModuleFileNameW(module, file, MAX_PATH);
    if (chars == 0 || chars >= MAX_PATH) {
        return false;
    }
    *path = file;
    DWORD ignored = 0;
    DWORD size = ::GetFileVersionInfoSizeW(file, &ignored);
    if (size == 0) {
        return false;
    }
    std::vector<BYTE> data(size);
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT fixedSize = 0;
    if (!::GetFileVersionInfoW(file, 0, size, data.data()) ||
        !::VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &fixedSize) ||
        fixed == nullptr || fixedSize < sizeof(VS_FIXEDFILEINFO)) {
        return false;
    }
    char text[64];
    std::snprintf(text, sizeof(text), "%u.%u.%u.%u", HIWORD(fixed->dwFileVersionMS),
                  LOWORD(fixed->dwFileVersionMS), HIWORD(fixed->dwFileVersionLS),
                  LOWORD(fixed->dwFileVersionLS));
    *version = text;
    return true;
}

std::string Utf8(const std::wstring& text) {
    int size = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(size > 0 ? size - 1 : 0, '\0');
    if (size > 1) {
        ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &out[0], size, nullptr, nullptr);
    }
    return out;
}

int Tour() {
    std::wstring path;
    std::string version;
    if (!LibraryVersion(&path, &version)) {
        std::fprintf(stderr, "hkdiag: cannot read the version of Hearthkit.dll (error %lu)\n",
                     ::GetLastError());
        return 1;
    }
    std::printf("Hearthkit.dll version %s (%s)\n", version.c_str(), Utf8(path).c_str());

    CDesktopLog log("hkdiag::Tour");
    HRESULT hr = log.LogText(LOG_INFO, "hkdiag: Hearthkit.dll version %s\n", version.c_str());
    std::printf("Log level: %d%s\n", CDesktopLog::ReturnLogLevel(),
                CDesktopLog::IsSHMSPTracingEnabled() ? " (provider tracing on)" : "");
    std::wstring file = CDesktopLog::GetFilename();
    if (!file.empty()) {
        std::printf("Log file: %s\n", Utf8(file).c_str());
    } else if (FAILED(hr)) {
        std::printf("Log file: cannot be created (0x%08lX)\n", static_cast<unsigned long>(hr));
    } else {
        std::printf("Log file: none (level %d writes errors only)\n", CDesktopLog::ReturnLogLevel());
    }
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc > 2) {
        PrintUsage(stderr);
        return 2;
    }
    const wchar_t* command = argc > 1 ? argv[1] : L"demo";
    if (std::wcscmp(command, L"--help") == 0 || std::wcscmp(command, L"-h") == 0 ||
        std::wcscmp(command, L"/?") == 0) {
        PrintUsage(stdout);
        return 0;
    }
    if (std::wcscmp(command, L"demo") == 0) {
        return Tour();
    }
    std::fprintf(stderr, "hkdiag: unknown command \"%s\"\n", Utf8(command).c_str());
    PrintUsage(stderr);
    return 2;
}
