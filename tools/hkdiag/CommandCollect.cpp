// hkdiag collect -o DIR|FILE.zip: what a support case needs, in one folder or
// one zip: the versions, the configuration with its layers, a probe of each
// configured server, the profile's SHMSP services, the indexing queue, the
// product's log files and one timeline of them all (secrets masked), and a
// short summary.txt of what failed. Each part is another command's --json
// answer. It only reads: the library's own log of this run goes into the
// bundle, never to the user's temporary folder, where a new log file would
// push the oldest one out.
#include "HResultText.h"
#include "Hearthkit.h"
#include "Json.h"
#include "LogTimeline.h"
#include "Redact.h"
#include "Tool.h"
#include "Zip.h"

#include <cstdio>

namespace hkdiag {
namespace {

struct Bundle {
    std::vector<ZipEntry> files;
    std::vector<std::string> summary;
    int failed = 0;
};

// The "message" of one of the tool's own JSON answers.
std::string MessageOf(const std::string& json) {
    const std::string key = "\"message\":\"";
    size_t at = json.find(key);
    std::string text;
    for (at = at == std::string::npos ? json.size() : at + key.size(); at < json.size() && json[at] != '"';
         ++at) {
        at += json[at] == '\\' ? 1 : 0;
        text += json[at];
    }
    return text;
}

void Note(Bundle& bundle, bool ok, const std::string& title, const std::string& detail) {
    bundle.failed += ok ? 0 : 1;
    bundle.summary.push_back(std::string(ok ? "ok      " : "FAILED  ") + title +
                             (detail.empty() ? "" : ": " + detail));
}

// "hkdiag <command> args --json", its answer kept as the bundle's file.
void Section(Bundle& bundle, const wchar_t* command, std::vector<std::wstring> args,
             const std::string& file) {
    Invocation invocation;
    invocation.args = std::move(args);
    invocation.json = true;
    std::string output;
    int code = RunCaptured(command, invocation, &output);
    bundle.files.push_back({file, output});
    std::string title = Utf8(command);
    for (const std::wstring& arg : invocation.args) {
        title += " " + Utf8(arg);
    }
    Note(bundle, code == kExitSuccess, RedactText(title) + " (" + file + ")",
         code == kExitSuccess ? std::string() : MessageOf(output));
}

// The archive web servers the client is configured with ("SHSERVERS", a
// list separated by ";"), each as the URL of its test image.
std::vector<std::wstring> ServerProbeUrls() {
    SharedMapiSession session;
    CStringW value;
    HearthkitConfig::GetConfigStringValue(L"SHSERVERS", value, L"", CONFIG_VALUE_CLIENT, 0);
    std::vector<std::wstring> urls;
    std::wstring list = value.GetString();
    for (size_t at = 0; at <= list.size();) {
        size_t end = list.find(L';', at);
        end = end == std::wstring::npos ? list.size() : end;
        std::wstring server = list.substr(at, end - at);
        server.erase(0, server.find_first_not_of(L" \t"));
        server.erase(server.find_last_not_of(L" \t") + 1);
        if (!server.empty()) {
            urls.push_back(server + (server.back() == L'/' ? L"" : L"/") + L"clienttest.gif");
        }
        at = end + 1;
    }
    return urls;
}

void Logs(Bundle& bundle, const std::wstring& folder) {
    std::vector<LogFile> logs = ProductLogFiles(folder);
    std::vector<std::wstring> paths;
    for (const LogFile& log : logs) {
        std::string text;
        HRESULT hr = ReadWholeFile(log.path, &text);
        if (FAILED(hr)) {
            Note(bundle, false, "log " + Utf8(log.name), DescribeHResult(hr));
            continue;
        }
        bundle.files.push_back({"logs/" + Utf8(log.name), RedactLog(text)});
        paths.push_back(log.path);
    }
    Note(bundle, true,
         std::to_string(paths.size()) + " log file(s) of " + Utf8(folder) + " (logs/, secrets masked)", "");
    TimelineStats stats;
    std::string failed, json;
    HRESULT hr = ReadTimeline(paths, &json, &stats, &failed);
    if (SUCCEEDED(hr)) {
        bundle.files.push_back({"timeline.json", json});
    }
    Note(bundle, SUCCEEDED(hr), "timeline.json, a process per log file",
         SUCCEEDED(hr) ? std::to_string(stats.scopes) + " operations" : failed + ": " + DescribeHResult(hr));
}

HRESULT WriteBundle(const Bundle& bundle, const std::wstring& output, bool zip) {
    if (zip) {
        SYSTEMTIME now;
        ::GetLocalTime(&now);
        FILETIME local;
        WORD date = 0, time = 0;
        ::SystemTimeToFileTime(&now, &local);
        ::FileTimeToDosDateTime(&local, &date, &time);
        return WriteWholeFile(output, ZipArchive(bundle.files, date, time));
    }
    for (const ZipEntry& file : bundle.files) {
        std::wstring path = output + L"\\" + Wide(file.name);
        for (wchar_t& c : path) {
            c = c == L'/' ? L'\\' : c;
        }
        std::wstring folder = path.substr(0, path.find_last_of(L'\\'));
        ::CreateDirectoryW(folder.c_str(), nullptr);
        HRESULT hr = WriteWholeFile(path, file.bytes);
        if (FAILED(hr)) {
            return hr;
        }
    }
    return S_OK;
}

// Where the library logs while collect runs: a scratch folder beside the
// output. The library opens its log in the temporary folder at its first
// record and keeps it open; a record written while TMP names the scratch
// folder opens it there, and TMP is the user's again for the rest of the run.
// At the end the log is closed and read into the bundle, and TMP names the
// removed folder, so that the library's line at the end of the process finds
// nowhere to write.
class OwnLog {
public:
    explicit OwnLog(const std::wstring& output)
        : m_folder(output + L".hkdiag-" + std::to_wstring(::GetCurrentProcessId()) + L"\\") {}
    ~OwnLog() {
        for (const LogFile& log : ProductLogFiles(m_folder)) {
            ::DeleteFileW(log.path.c_str());
        }
        ::RemoveDirectoryW(m_folder.c_str());
    }
    HRESULT Open() {
        if (!::CreateDirectoryW(m_folder.c_str(), nullptr)) {
            return HkHResultFromWin32(::GetLastError());
        }
        std::wstring temp = Variable(L"TMP"), otherTemp = Variable(L"TEMP");
        PointTempAt(m_folder, m_folder);
        {
            CDesktopLog log("hkdiag::Collect");
            log.LogText(LOG_ERROR, "hkdiag collect: this process logs here, beside its output\n");
        }
        PointTempAt(temp, otherTemp);
        return S_OK;
    }
    // The log so far, closed; its secrets masked.
    std::string Close() {
        CDesktopLog().Close();
        PointTempAt(m_folder, m_folder);
        std::string text;
        for (const LogFile& log : ProductLogFiles(m_folder)) {
            std::string one;
            ReadWholeFile(log.path, &one);
            text += RedactLog(one);
        }
        return text;
    }

private:
    static std::wstring Variable(const wchar_t* name) {
        wchar_t value[MAX_PATH + 1];
        DWORD chars = ::GetEnvironmentVariableW(name, value, MAX_PATH + 1);
        return chars > 0 && chars <= MAX_PATH ? std::wstring(value, chars) : std::wstring();
    }
    static void PointTempAt(const std::wstring& temp, const std::wstring& otherTemp) {
        ::SetEnvironmentVariableW(L"TMP", temp.empty() ? nullptr : temp.c_str());
        ::SetEnvironmentVariableW(L"TEMP", otherTemp.empty() ? nullptr : otherTemp.c_str());
    }

    std::wstring m_folder;
};

} // namespace

int RunCollect(const Invocation& invocation) {
    const Command& command = FindCommand(L"collect");
    std::wstring output;
    for (size_t i = 0; i < invocation.args.size(); ++i) {
        if ((invocation.args[i] != L"-o" && invocation.args[i] != L"--output") ||
            !OptionValue(invocation.args, i, &output) || output.empty()) {
            return ReportBadUsage(invocation, command, "collect needs -o DIR or -o FILE.zip");
        }
    }
    if (output.empty()) {
        return ReportBadUsage(invocation, command, "collect needs -o DIR or -o FILE.zip");
    }
    output = FullPath(output);
    while (output.size() > 3 && output.back() == L'\\') {
        output.pop_back();
    }
    bool zip = output.size() > 4 && _wcsicmp(output.c_str() + output.size() - 4, L".zip") == 0;
    Failure failure;
    failure.what = "collect: the output " + Utf8(output);
    if (FAILED(failure.hr = FolderOf(output))) {
        return ReportFailure(invocation, failure);
    }
    // Nothing of an earlier bundle, or anything else, is replaced.
    if (::GetFileAttributesW(output.c_str()) != INVALID_FILE_ATTRIBUTES) {
        failure.hr = HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS);
        failure.hint = "name a folder or zip that is not there yet";
        return ReportFailure(invocation, failure);
    }
    std::wstring productTemp = TempDirectory();
    OwnLog ownLog(output);
    if (FAILED(failure.hr = ownLog.Open())) {
        return ReportFailure(invocation, failure);
    }

    Bundle bundle;
    Section(bundle, L"version", {}, "version.json");
    Section(bundle, L"config", {}, "config.json");
    std::vector<std::wstring> servers = ServerProbeUrls();
    for (size_t i = 0; i < servers.size(); ++i) {
        Section(bundle, L"probe", {servers[i], L"--timeout", L"15000"},
                "probe-" + std::to_string(i + 1) + ".json");
    }
    if (servers.empty()) {
        Note(bundle, false, "probe", "no server configured (SHSERVERS)");
    }
    Section(bundle, L"hoardview", {}, "hoardview.json");
    Section(bundle, L"wds", {L"queue"}, "wds-queue.json");
    Logs(bundle, productTemp);
    std::string summary = "hkdiag collect: " + std::to_string(bundle.failed) + " of " +
                          std::to_string(bundle.summary.size()) + " parts failed\r\n";
    for (const std::string& line : bundle.summary) {
        summary += line + "\r\n";
    }
    bundle.files.insert(bundle.files.begin(), ZipEntry{"summary.txt", summary});
    bundle.files.push_back(ZipEntry{"hkdiag-collect.log", ownLog.Close()});

    if (!zip && !::CreateDirectoryW(output.c_str(), nullptr)) {
        failure.hr = HkHResultFromWin32(::GetLastError());
        return ReportFailure(invocation, failure);
    }
    if (FAILED(failure.hr = WriteBundle(bundle, output, zip))) {
        return ReportFailure(invocation, failure);
    }
    if (invocation.json) {
        std::string files = "[", failed = "[";
        for (const ZipEntry& file : bundle.files) {
            files += (files.size() > 1 ? "," : "") + JsonString(file.name);
        }
        for (const std::string& line : bundle.summary) {
            if (line.rfind("FAILED", 0) == 0) {
                failed += (failed.size() > 1 ? "," : "") + JsonString(line.substr(8));
            }
        }
        JsonObject json;
        json.Bool("ok", true)
            .Text("output", Utf8(output))
            .Raw("files", files + "]")
            .Raw("failed", failed + "]");
        std::printf("%s\n", json.Done().c_str());
    } else {
        std::printf("Collected into %s\n", Utf8(output).c_str());
        for (const std::string& line : bundle.summary) {
            std::printf("  %s\n", line.c_str());
        }
    }
    return kExitSuccess;
}

} // namespace hkdiag
