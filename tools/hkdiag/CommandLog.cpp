// hkdiag log: what the library's log sees; hkdiag log timeline: a log file
// as a trace-event file.
#include "Hearthkit.h"
#include "Json.h"
#include "LogTimeline.h"
#include "Tool.h"

#include <cstdio>

namespace hkdiag {
namespace {

HRESULT WriteWholeFile(const std::wstring& path, const std::string& text) {
    hk::unique_file file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return HkHResultFromWin32(::GetLastError());
    }
    DWORD written = 0;
    if (!::WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
        written != text.size()) {
        return HkHResultFromWin32(::GetLastError());
    }
    return S_OK;
}

int ShowLog(const Invocation& invocation) {
    // The level is read by the first named log object of the process.
    CDesktopLog log("hkdiag::Log");
    int level = CDesktopLog::ReturnLogLevel();
    bool tracing = CDesktopLog::IsSHMSPTracingEnabled();
    std::string file = Utf8(CDesktopLog::GetFilename());
    if (invocation.json) {
        JsonObject json;
        json.Bool("ok", true).Number("level", level).Bool("tracing", tracing);
        json.Raw("file", file.empty() ? "null" : JsonString(file));
        std::printf("%s\n", json.Done().c_str());
        return kExitSuccess;
    }
    std::printf("Log level: %d\nProvider tracing: %s\nLog file: %s\n", level, tracing ? "on" : "off",
                file.empty() ? "none (no record written by this process at this level)" : file.c_str());
    return kExitSuccess;
}

int Timeline(const Invocation& invocation) {
    const Command& command = FindCommand(L"log");
    std::wstring input, output;
    for (size_t i = 1; i < invocation.args.size(); ++i) {
        const std::wstring& arg = invocation.args[i];
        if (arg == L"-o" || arg == L"--output") {
            if (++i == invocation.args.size()) {
                return ReportBadUsage(command, "-o needs a file name");
            }
            output = invocation.args[i];
        } else if (!arg.empty() && arg[0] == L'-') {
            return ReportBadUsage(command, "unknown option \"" + Utf8(arg) + "\"");
        } else if (input.empty()) {
            input = arg;
        } else {
            return ReportBadUsage(command, "one log file at a time");
        }
    }
    if (input.empty()) {
        return ReportBadUsage(command, "log timeline needs a log file");
    }
    if (output.empty()) {
        output = input + L".json";
    }
    TimelineStats stats;
    HRESULT hr = WriteTimeline(input, output, &stats);
    if (FAILED(hr)) {
        return ReportFailure(invocation, "log timeline " + Utf8(input), hr);
    }
    if (invocation.json) {
        JsonObject json;
        json.Bool("ok", true).Text("output", Utf8(output)).Number("records", stats.records);
        json.Number("scopes", stats.scopes).Number("unclosed", stats.unclosed);
        json.Number("unmatchedExits", stats.unmatchedExits).Number("instants", stats.instants);
        json.Number("skippedLines", stats.skippedLines).Number("threads", stats.threads);
        std::printf("%s\n", json.Done().c_str());
    } else {
        // %lu, not %zu: the C runtime of older systems does not know 'z'.
        auto n = [](size_t value) { return static_cast<unsigned long>(value); };
        std::printf("Timeline: %s\n  %lu records on %lu threads: %lu operations (%lu unclosed), %lu other "
                    "records, %lu exits without entry, %lu lines skipped\n",
                    Utf8(output).c_str(), n(stats.records), n(stats.threads), n(stats.scopes),
                    n(stats.unclosed), n(stats.instants), n(stats.unmatchedExits), n(stats.skippedLines));
    }
    return kExitSuccess;
}

} // namespace

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

HRESULT WriteTimeline(const std::wstring& logPath, const std::wstring& outPath, TimelineStats* stats) {
    std::string text;
    HRESULT hr = ReadWholeFile(logPath, &text);
    if (FAILED(hr)) {
        return hr;
    }
    return WriteWholeFile(outPath, LogToTimeline(text, stats));
}

int RunLog(const Invocation& invocation) {
    if (invocation.args.empty()) {
        return ShowLog(invocation);
    }
    if (invocation.args[0] == L"timeline") {
        return Timeline(invocation);
    }
    return ReportBadUsage(FindCommand(L"log"), "unknown log command \"" + Utf8(invocation.args[0]) + "\"");
}

} // namespace hkdiag
