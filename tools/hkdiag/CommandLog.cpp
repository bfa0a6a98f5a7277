// hkdiag log: what the library's log sees; the product's log files; the
// configured level; a timeline of one log or of several.
#include "Hearthkit.h"
#include "Json.h"
#include "LogTimeline.h"
#include "Progress.h"
#include "Redact.h"
#include "Tool.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>

namespace hkdiag {
namespace {

const wchar_t kClientKey[] = L"SOFTWARE\\Talvo\\Stowhaven\\Client";
const wchar_t kLevelValue[] = L"LoggingLevel";

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

// The level a log file was created at, from its first record
// ("Log file created (level %d).").
int LevelOf(const std::wstring& path) {
    hk::unique_file file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    char head[512] = {};
    DWORD read = 0;
    if (!file || !::ReadFile(file.get(), head, sizeof(head) - 1, &read, nullptr)) {
        return -1;
    }
    const char marker[] = "Log file created (level ";
    const char* at = std::strstr(head, marker);
    return at == nullptr ? -1 : std::atoi(at + sizeof(marker) - 1);
}

int ListLogs(const Invocation& invocation) {
    if (invocation.args.size() != 1) {
        return ReportBadUsage(invocation, FindCommand(L"log"), "log list takes no arguments");
    }
    std::wstring folder = TempDirectory();
    std::vector<LogFile> files = ProductLogFiles(folder);
    std::string list = "[";
    if (!invocation.json) {
        std::printf("Log files in %s: %lu\n", Utf8(folder).c_str(), static_cast<unsigned long>(files.size()));
    }
    for (const LogFile& file : files) {
        int level = LevelOf(file.path);
        if (invocation.json) {
            JsonObject item;
            item.Text("name", Utf8(file.name)).Text("path", Utf8(file.path)).Number("bytes", file.bytes);
            item.Raw("level", level < 0 ? "null" : std::to_string(level))
                .Text("modified", IsoTime(file.modified));
            list += (list.size() > 1 ? "," : "") + item.Done();
        } else {
            std::printf("  %s  %lld bytes  level %s  (modified %s)\n", Utf8(file.name).c_str(), file.bytes,
                        level < 0 ? "unknown" : std::to_string(level).c_str(),
                        IsoTime(file.modified).c_str());
        }
    }
    if (invocation.json) {
        JsonObject json;
        json.Bool("ok", true).Text("folder", Utf8(folder)).Raw("files", list + "]");
        std::printf("%s\n", json.Done().c_str());
    }
    return kExitSuccess;
}

// "3", "trace", ... as a level the library knows; -1 for anything else.
int ParseLevel(const std::wstring& text) {
    static const struct {
        const wchar_t* name;
        int level;
    } kLevels[] = {{L"0", 0},     {L"1", 1},    {L"2", 2},      {L"3", 3},     {L"9", 9},
                   {L"error", 0}, {L"info", 1}, {L"detail", 2}, {L"trace", 3}, {L"verbose", 9}};
    for (const auto& entry : kLevels) {
        if (_wcsicmp(text.c_str(), entry.name) == 0) {
            return entry.level;
        }
    }
    return -1;
}

// hkdiag log level [set N|NAME|reset]: the "LoggingLevel" that processes
// started from now on read. The provider tracing flag (bit 31) is kept.
int Level(const Invocation& invocation) {
    const auto& args = invocation.args;
    bool set = args.size() == 3 && args[1] == L"set";
    bool reset = set && args[2] == L"reset";
    int level = set && !reset ? ParseLevel(args[2]) : 0;
    if (!(args.size() == 1 || (set && (reset || level >= 0)))) {
        return ReportBadUsage(invocation, FindCommand(L"log"),
                              "log level set takes 0, 1, 2, 3, 9, a level's name or reset");
    }
    CRegKey key;
    DWORD previous = 0;
    LONG opened = key.Open(HKEY_CURRENT_USER, kClientKey, KEY_READ | KEY_WRITE);
    bool had = opened == ERROR_SUCCESS && key.QueryDWORDValue(kLevelValue, previous) == ERROR_SUCCESS;
    LONG error = ERROR_SUCCESS;
    if (reset && had) {
        error = key.DeleteValue(kLevelValue);
    } else if (set && !reset) {
        error = opened == ERROR_SUCCESS ? ERROR_SUCCESS : key.Create(HKEY_CURRENT_USER, kClientKey);
        if (error == ERROR_SUCCESS) {
            error = key.SetDWORDValue(kLevelValue, (previous & 0x80000000u) | static_cast<DWORD>(level));
        }
    }
    if (error != ERROR_SUCCESS) {
        return ReportFailure(invocation,
                             "log level: HKCU \"SOFTWARE\\Talvo\\Stowhaven\\Client\" \"LoggingLevel\"",
                             HkHResultFromWin32(error));
    }
    std::string before = had ? std::to_string(previous & 0xFFFF) : "not set";
    std::string now = !set ? before : reset ? "not set" : std::to_string(level);
    if (invocation.json) {
        JsonObject json;
        json.Bool("ok", true).Raw("level", now == "not set" ? "null" : now);
        json.Raw("previous", had ? std::to_string(previous & 0xFFFF) : "null");
        std::printf("%s\n", json.Done().c_str());
    } else if (!set) {
        std::printf("LoggingLevel: %s%s\n", now.c_str(), had ? "" : " (the library logs at 1)");
    } else {
        std::printf("LoggingLevel: %s (was %s); processes started from now on log at %s\n", now.c_str(),
                    before.c_str(), reset ? "1" : now.c_str());
    }
    return kExitSuccess;
}

int Timeline(const Invocation& invocation) {
    const Command& command = FindCommand(L"log");
    std::vector<std::wstring> inputs;
    std::wstring output;
    for (size_t i = 1; i < invocation.args.size(); ++i) {
        const std::wstring& arg = invocation.args[i];
        if (arg == L"-o" || arg == L"--output") {
            if (!OptionValue(invocation.args, i, &output) || output.empty()) {
                return ReportBadUsage(invocation, command, "-o needs a file name");
            }
        } else if (!arg.empty() && arg[0] == L'-') {
            return ReportBadUsage(invocation, command, "unknown option \"" + Utf8(arg) + "\"");
        } else {
            inputs.push_back(arg);
        }
    }
    if (inputs.empty()) {
        return ReportBadUsage(invocation, command, "log timeline needs a log file");
    }
    if (output.empty() && inputs.size() > 1) {
        return ReportBadUsage(invocation, command, "a timeline of several logs needs -o");
    }
    output = output.empty() ? inputs[0] + L".json" : output;
    for (const std::wstring& input : inputs) {
        if (_wcsicmp(FullPath(input).c_str(), FullPath(output).c_str()) == 0) {
            return ReportBadUsage(invocation, command, "the timeline would overwrite its log " + Utf8(input));
        }
    }
    TimelineStats stats;
    Failure failure;
    failure.hr = WriteTimeline(inputs, output, &stats, &failure.what);
    if (FAILED(failure.hr)) {
        failure.what = "log timeline: " + failure.what;
        return ReportFailure(invocation, failure);
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

std::vector<LogFile> ProductLogFiles(const std::wstring& folder) {
    std::vector<LogFile> files;
    WIN32_FIND_DATAW data;
    hk::unique_find find(::FindFirstFileW((folder + L"sh_client_log_*.txt").c_str(), &data));
    for (bool more = static_cast<bool>(find); more; more = ::FindNextFileW(find.get(), &data) != FALSE) {
        long long bytes = static_cast<long long>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
        files.push_back(LogFile{data.cFileName, folder + data.cFileName, bytes, data.ftLastWriteTime});
    }
    // The name holds the local time of its creation: the newest sorts last.
    std::sort(files.begin(), files.end(), [](const LogFile& a, const LogFile& b) { return a.name > b.name; });
    return files;
}

HRESULT ReadTimeline(const std::vector<std::wstring>& logPaths, std::string* json, TimelineStats* stats,
                     std::string* failedPath) {
    std::vector<std::string> texts(logPaths.size());
    std::vector<LogSource> logs;
    size_t total = 0;
    for (size_t i = 0; i < logPaths.size(); ++i) {
        HRESULT hr = ReadWholeFile(logPaths[i], &texts[i]);
        if (FAILED(hr)) {
            *failedPath = Utf8(logPaths[i]);
            return hr;
        }
        texts[i] = RedactLog(texts[i]);
        total += texts[i].size();
        size_t slash = logPaths[i].find_last_of(L"\\/");
        logs.push_back(
            LogSource{Utf8(logPaths[i].substr(slash == std::wstring::npos ? 0 : slash + 1)), texts[i]});
    }
    Progress progress("read", static_cast<long long>(total));
    *json = LogsToTimeline(logs, stats, [&](size_t done) { progress.Update(static_cast<long long>(done)); });
    return S_OK;
}

HRESULT WriteTimeline(const std::vector<std::wstring>& logPaths, const std::wstring& outPath,
                      TimelineStats* stats, std::string* failedPath) {
    std::string json;
    HRESULT hr = ReadTimeline(logPaths, &json, stats, failedPath);
    if (SUCCEEDED(hr) && FAILED(hr = WriteWholeFile(outPath, json))) {
        *failedPath = "the output " + Utf8(outPath);
    }
    return hr;
}

int RunLog(const Invocation& invocation) {
    const std::wstring verb = invocation.args.empty() ? L"" : invocation.args[0];
    if (verb.empty()) {
        return ShowLog(invocation);
    }
    if (verb == L"timeline") {
        return Timeline(invocation);
    }
    if (verb == L"list") {
        return ListLogs(invocation);
    }
    if (verb == L"level") {
        return Level(invocation);
    }
    return ReportBadUsage(invocation, FindCommand(L"log"), "unknown log command \"" + Utf8(verb) + "\"");
}

} // namespace hkdiag
