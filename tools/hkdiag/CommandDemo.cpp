// hkdiag demo: the tour a newcomer starts with.
#include "Hearthkit.h"
#include "HResultText.h"
#include "Json.h"
#include "LogTimeline.h"
#include "Tool.h"

#include <cstdio>

namespace hkdiag {
namespace {

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

// The level is read once per process, by the first named log object: this
// must run before any.
HRESULT SetTraceLevel() {
    CRegKey key;
    LONG error = key.Create(HKEY_CURRENT_USER, L"SOFTWARE\\Talvo\\Stowhaven\\Client");
    if (error == ERROR_SUCCESS) {
        error = key.SetDWORDValue(L"LoggingLevel", 0x80000000 | LOG_TRACE);
    }
    return error == ERROR_SUCCESS ? S_OK : HkHResultFromWin32(error);
}

// A few operations of the library, nested in one of the tool's own, so that
// the log holds scopes, results and a failure to look at.
void TracedOperations() {
    HRESULT hr = S_OK;
    CDesktopLog log("hkdiag::TracedOperations", &hr);
    {
        CDesktopLog inner("hkdiag::ReadTimes");
        FILETIME time = {0xDEADBEEF, 0xDEADBEEF};
        hr = HearthkitUtil::ConvertISO8601ToFileTime(L"2026-12-05T19:30:00Z", &time);
        HRESULT bad = HearthkitUtil::ConvertISO8601ToFileTime(L"not a time", &time);
        inner.LogText(LOG_INFO, "hkdiag: a time that is not one answers %s\n", DescribeHResult(bad).c_str());
    }
    wchar_t temp[MAX_PATH];
    if (::GetTempPathW(MAX_PATH, temp) > 0) {
        unsigned long free = DiskUtil::GetFreeSpaceInMb(temp);
        log.LogLong(LOG_INFO, "hkdiag: %ld MB free in the temporary directory\n", static_cast<long>(free));
    }
}

} // namespace

int RunDemo(const Invocation& invocation) {
    bool trace = false;
    for (const std::wstring& arg : invocation.args) {
        if (arg != L"--trace") {
            return ReportBadUsage(FindCommand(L"demo"), "unknown argument \"" + Utf8(arg) + "\"");
        }
        trace = true;
    }
    if (trace) {
        HRESULT hr = SetTraceLevel();
        if (FAILED(hr)) {
            return ReportFailure(invocation, "setting the trace level", hr);
        }
    }
    std::wstring path;
    std::string version;
    if (!LibraryVersion(&path, &version)) {
        return ReportFailure(invocation, "reading the version of Hearthkit.dll",
                             HkHResultFromWin32(::GetLastError()));
    }
    std::wstring file;
    {
        CDesktopLog log("hkdiag::Tour");
        HRESULT hr = log.LogText(LOG_INFO, "hkdiag: Hearthkit.dll version %s\n", version.c_str());
        if (trace) {
            TracedOperations();
        }
        file = CDesktopLog::GetFilename();
        if (file.empty() && FAILED(hr)) {
            return ReportFailure(invocation, "creating the log file", hr);
        }
    }
    std::wstring timeline;
    if (trace && !file.empty()) {
        timeline = file + L".json";
        HRESULT hr = WriteTimeline(file, timeline, nullptr);
        if (FAILED(hr)) {
            return ReportFailure(invocation, "writing the timeline", hr);
        }
    }
    int level = CDesktopLog::ReturnLogLevel();
    bool tracing = CDesktopLog::IsSHMSPTracingEnabled();
    if (invocation.json) {
        JsonObject json;
        json.Bool("ok", true).Text("version", version).Text("library", Utf8(path));
        json.Number("level", level).Bool("tracing", tracing);
        json.Raw("file", file.empty() ? "null" : JsonString(Utf8(file)));
        json.Raw("timeline", timeline.empty() ? "null" : JsonString(Utf8(timeline)));
        std::printf("%s\n", json.Done().c_str());
        return kExitSuccess;
    }
    std::printf("Hearthkit.dll version %s (%s)\n", version.c_str(), Utf8(path).c_str());
    std::printf("Log level: %d%s\n", level, tracing ? " (provider tracing on)" : "");
    if (file.empty()) {
        std::printf("Log file: none (level %d writes errors only)\n", level);
    } else {
        std::printf("Log file: %s\n", Utf8(file).c_str());
    }
    if (!timeline.empty()) {
        std::printf("Timeline: %s (open it in https://ui.perfetto.dev or chrome://tracing)\n",
                    Utf8(timeline).c_str());
    }
    return kExitSuccess;
}

} // namespace hkdiag
