// The demo's tour: one step per subsystem, each in a log scope of its own so
// that the timeline made at the end shows where the time went. A step that
// belongs to another command runs that command's handler with its output
// collected; when the command is not in this build the step says so.
#include "Demo.h"

#include "Hearthkit.h"
#include "HResultText.h"
#include "Json.h"
#include "LogTimeline.h"

#include <algorithm>
#include <cstdio>

namespace hkdiag {
namespace {

enum class StepState { Passed, Failed, Absent };

struct StepOutcome {
    HRESULT hr = S_OK;
    StepState state = StepState::Passed;
    std::string summary;              // one line
    std::vector<std::string> outputs; // what each command printed: text, or its JSON object
};

struct Tour {
    const Invocation& invocation;
    const DemoSetup& setup;
    std::wstring workDir; // the temporary folder's demo files
    std::wstring logFile;
};

struct TourStep {
    const char* id;    // JSON name and log scope "hkdiag::Tour::<id>"
    const char* title; // what the report calls it
    void (*run)(Tour& tour, StepOutcome* outcome);
};

const Command* FindOptionalCommand(const wchar_t* name) {
    for (const Command& command : Commands()) {
        if (std::wcscmp(command.name, name) == 0) {
            return &command;
        }
    }
    return nullptr;
}

// Runs "hkdiag <name> args" in this process, its output collected.
void RunCommandStep(Tour& tour, const wchar_t* name, std::vector<std::wstring> args, StepOutcome* outcome) {
    if (FindOptionalCommand(name) == nullptr) {
        outcome->state = StepState::Absent;
        outcome->summary = "the \"" + Utf8(name) + "\" command is not in this build";
        return;
    }
    Invocation invocation;
    invocation.args = std::move(args);
    invocation.json = tour.invocation.json;
    std::string output;
    int code = RunCaptured(name, invocation, &output);
    outcome->outputs.push_back(output);
    if (code != kExitSuccess) {
        outcome->hr = E_FAIL;
        outcome->summary = "hkdiag " + Utf8(name) + " exited with " + std::to_string(code);
    }
}

// ---- steps ---------------------------------------------------------------

void Configuration(Tour& tour, StepOutcome* outcome) {
    RunCommandStep(tour, L"config", {L"SHSERVERS", L"INTERNETOPENTYPEDIRECT", L"HLMAXCACHESIZEMB"}, outcome);
}

void Probe(Tour& tour, StepOutcome* outcome) {
    std::wstring image = tour.setup.serverUrl + L"clienttest.gif";
    DWORD flags = 0xdeadbeef;
    bool reachable = HearthkitUtil::HasInternetConnection(image.c_str(), &flags, nullptr, false);
    bool basic = HearthkitUtil::IsUsingBasicAuthentication(tour.setup.serverUrl.c_str());
    DWORD openType = HearthkitUtil::GetInternetOpenType();
    std::string agent = Utf8(HearthkitUtil::GetSHUserAgent().GetString());
    outcome->summary = Utf8(image) + (reachable ? " answers" : " does not answer") + "; " +
                       (basic ? "Basic" : "integrated") + " authentication; user agent " + agent +
                       "; open type " + (openType == INTERNET_OPEN_TYPE_DIRECT ? "direct" : "preconfigured");
    if (!reachable) {
        outcome->hr = HRESULT_FROM_WIN32(ERROR_INTERNET_CANNOT_CONNECT);
    }
}

// The server URL without its trailing slash: the request operations put one
// between the application's URL and their suffix.
std::wstring ApplicationUrl(const Tour& tour) {
    const std::wstring& url = tour.setup.serverUrl;
    return !url.empty() && url.back() == L'/' ? url.substr(0, url.size() - 1) : url;
}

// A server client as the product's components derive one.
class DemoClient : public CHttpClientHelper {
public:
    explicit DemoClient(CComBSTR& url) : CHttpClientHelper(url, 30000) {}
    using CHttpClientHelper::Init;
    using CHttpClientHelper::PostLargeDataToServer;
    using CHttpClientHelper::PostXMLDataToServer;
};

// The server's status as the step's result: the request operations succeed
// whatever the status.
HRESULT StatusResult(HRESULT hr, const ResponseDetails& response) {
    return SUCCEEDED(hr) && response.dwStatusCode != HTTP_STATUS_OK ? E_FAIL : hr;
}

std::string Reply(const ResponseDetails& response) {
    std::string body = response.pBody != nullptr ? response.pBody : "";
    if (body.size() > 72) {
        body = body.substr(0, 69) + "...";
    }
    for (char& c : body) {
        c = c == '\r' || c == '\n' ? ' ' : c;
    }
    return std::to_string(response.dwStatusCode) + " " + response.szStatusText + ": " + body;
}

// One exchange through a client of its own; the server's reply ends the
// summary.
template <class Send>
void Exchange(Tour& tour, StepOutcome* outcome, Send send) {
    CComBSTR url(ApplicationUrl(tour).c_str());
    DemoClient client(url);
    if (!client.Init()) {
        outcome->hr = E_FAIL;
        outcome->summary = "the client for " + Utf8(tour.setup.serverUrl) + " did not initialise";
        return;
    }
    ResponseDetails response;
    outcome->hr = StatusResult(send(client, response), response);
    outcome->summary += Reply(response);
}

void XmlPost(Tour& tour, StepOutcome* outcome) {
    CComBSTR xml(L"<?xml version=\"1.0\"?><Search><Query>report</Query><Folder>Inbox</Folder></Search>");
    outcome->summary = "search -> ";
    Exchange(tour, outcome, [&](DemoClient& client, ResponseDetails& response) {
        return client.PostXMLDataToServer("search", xml, &response);
    });
}

void Upload(Tour& tour, StepOutcome* outcome) {
    const int size = 16 * 1024 * 1024;
    std::vector<BYTE> data(size);
    for (int i = 0; i < size; ++i) {
        data[i] = static_cast<BYTE>(i * 7 + (i >> 12));
    }
    std::vector<FileData> files(1);
    files[0].strFieldName = "file";
    files[0].strFileName = "Inbox.mdc";
    files[0].pData = data.data();
    files[0].nDataLength = size;
    files[0].strContentType = "application/octet-stream";
    std::vector<FieldData> fields(1);
    fields[0].strName = "folder";
    fields[0].strValue = "Inbox";
    double seconds = 0;
    Exchange(tour, outcome, [&](DemoClient& client, ResponseDetails& response) {
        LARGE_INTEGER frequency, start, end;
        ::QueryPerformanceFrequency(&frequency);
        ::QueryPerformanceCounter(&start);
        HRESULT hr = client.PostLargeDataToServer("upload", files, fields, &response);
        ::QueryPerformanceCounter(&end);
        seconds = static_cast<double>(end.QuadPart - start.QuadPart) / frequency.QuadPart;
        return hr;
    });
    char text[96];
    std::snprintf(text, sizeof(text), "16 MiB streamed in %.2f s (%.0f MiB/s): ", seconds,
                  seconds > 0 ? 16 / seconds : 0.0);
    outcome->summary = text + outcome->summary;
}

// The files of the steps below are made anew on each run.
void Pst(Tour& tour, StepOutcome* outcome) {
    std::wstring pst = tour.workDir + L"Demo.pst";
    ::DeleteFileW(pst.c_str());
    RunCommandStep(tour, L"pst", {L"create", pst}, outcome);
}

void Hoardview(Tour& tour, StepOutcome* outcome) {
    std::wstring mdc = tour.workDir + L"Demo.mdc";
    ::DeleteFileW(mdc.c_str());
    RunCommandStep(tour, L"hoardview", {L"add", mdc}, outcome);
    if (outcome->state == StepState::Passed && SUCCEEDED(outcome->hr)) {
        RunCommandStep(tour, L"hoardview", {L"list"}, outcome);
    }
    if (outcome->state == StepState::Passed && SUCCEEDED(outcome->hr)) {
        RunCommandStep(tour, L"hoardview", {L"remove", mdc}, outcome);
    }
}

void Indexing(Tour& tour, StepOutcome* outcome) {
    std::wstring db = DemoCacheRoot() + L"\\" + kDemoStoreKey + L"\\Inbox.db";
    if (!WDSUtil::PersistWDSIndexingInfo(db.c_str(), WDSIndexAdd) ||
        !WDSUtil::PersistWDSIndexingInfo(WDSUtil::szHoardlocal, WDSIndexReIndex)) {
        outcome->hr = E_FAIL;
        outcome->summary = "the indexing requests were not recorded";
        return;
    }
    RunCommandStep(tour, L"wds", {L"queue"}, outcome);
    if (outcome->state == StepState::Passed && SUCCEEDED(outcome->hr)) {
        RunCommandStep(tour, L"wds", {L"replay"}, outcome);
    }
    if (outcome->state == StepState::Passed && SUCCEEDED(outcome->hr) && !tour.setup.handlerCalls.empty()) {
        // The stand-in writes one CR LF line per call it received.
        std::string calls;
        ReadWholeFile(tour.setup.handlerCalls, &calls);
        size_t count = 0;
        for (size_t at = calls.find("\r\n"); at != std::string::npos; at = calls.find("\r\n", at + 2)) {
            calls.replace(at, 2, "; ");
            ++count;
        }
        outcome->summary = "the protocol handler received " + std::to_string(count) + " call(s)" +
                           (count > 0 ? ": " + calls.substr(0, calls.size() - 2) : "");
    }
}

void Localised(Tour& tour, StepOutcome* outcome) {
    RunCommandStep(tour, L"l10n", {L"1001", L"Demo.pst", L"--module", tour.setup.resourceModule}, outcome);
}

void LogFile(Tour& tour, StepOutcome* outcome) {
    tour.logFile = CDesktopLog::GetFilename();
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (tour.logFile.empty() || !::GetFileAttributesExW(tour.logFile.c_str(), GetFileExInfoStandard, &data)) {
        outcome->hr = tour.logFile.empty() ? E_FAIL : HkHResultFromWin32(::GetLastError());
        outcome->summary = "no log file was written";
        return;
    }
    outcome->summary = Utf8(tour.logFile) + " (" + std::to_string(data.nFileSizeLow) + " bytes, level " +
                       std::to_string(CDesktopLog::ReturnLogLevel()) + ")";
}

void Timeline(Tour& tour, StepOutcome* outcome) {
    if (tour.logFile.empty()) {
        outcome->hr = E_FAIL;
        outcome->summary = "no log file to read";
        return;
    }
    std::wstring out = tour.logFile + L".json";
    TimelineStats stats;
    std::string failed;
    outcome->hr = WriteTimeline({tour.logFile}, out, &stats, &failed);
    outcome->summary = Utf8(out) + ": " + std::to_string(stats.scopes) + " operations on " +
                       std::to_string(stats.threads) + " thread(s); open it in https://ui.perfetto.dev";
}

const TourStep kSteps[] = {
    {"configuration", "Configuration with sources", Configuration},
    {"probe", "Server probe", Probe},
    {"xml", "XML post", XmlPost},
    {"upload", "Streamed upload", Upload},
    {"pst", "PST with its named properties", Pst},
    {"hoardview", "SHMSP service added, listed and removed", Hoardview},
    {"indexing", "Indexing request recorded and replayed", Indexing},
    {"l10n", "Localised message", Localised},
    {"log", "Log file", LogFile},
    {"timeline", "Timeline", Timeline},
};

// What the step's commands printed, indented below its line; a long output
// keeps its first lines (the command itself shows it whole).
std::string Indented(const std::vector<std::string>& outputs) {
    const size_t kMaxLines = 8;
    std::string out;
    for (const std::string& text : outputs) {
        size_t at = 0, lines = 0;
        for (; at < text.size() && lines < kMaxLines; ++lines) {
            size_t end = text.find('\n', at);
            end = end == std::string::npos ? text.size() : end + 1;
            out += "         " + text.substr(at, end - at);
            at = end;
        }
        if (!out.empty() && out.back() != '\n') {
            out += '\n';
        }
        size_t more = std::count(text.begin() + at, text.end(), '\n') +
                      (at < text.size() && text.back() != '\n' ? 1 : 0);
        if (more > 0) {
            out += "         ... " + std::to_string(more) + " more lines\n";
        }
    }
    return out;
}

} // namespace

int RunTour(const Invocation& invocation, const DemoSetup& setup) {
    wchar_t temp[MAX_PATH];
    DWORD chars = ::GetTempPathW(MAX_PATH, temp);
    Tour tour{invocation, setup, chars > 0 && chars < MAX_PATH ? temp : L"", L""};
    if (!invocation.json) {
        std::printf(
            "Hearthkit.dll %s, in an embedded environment of stand-ins:\n"
            "  MAPI profile \"%s\": a primary mailbox with a desktop settings message and a Hoardlocal "
            "marker\n  archive web server %s\n",
            GetVersions().library.c_str(), Utf8(setup.profile).c_str(), Utf8(setup.serverUrl).c_str());
    }
    // As the product's components do: the host starts the configuration and
    // shares the mail client's MAPI session, whose default store gives the
    // store key; it releases them at its end. A command ends its use of them
    // as a host does, so the session is shared again before each step.
    HearthkitConfig::Startup();
    LARGE_INTEGER frequency, start, end;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&start);
    int counts[3] = {};
    std::string steps;
    for (const TourStep& step : kSteps) {
        StepOutcome outcome;
        HearthkitConfig::LogonToMAPI();
        std::fflush(stdout);
        {
            std::string scope = std::string("hkdiag::Tour::") + step.id;
            CDesktopLog log(scope.c_str(), &outcome.hr);
            step.run(tour, &outcome);
        }
        if (FAILED(outcome.hr)) {
            outcome.state = StepState::Failed;
            outcome.summary += (outcome.summary.empty() ? "" : ": ") + DescribeHResult(outcome.hr);
        }
        ++counts[static_cast<int>(outcome.state)];
        static const char* const kMarks[] = {"[ok]    ", "[FAILED]", "[absent]"};
        static const char* const kStates[] = {"ok", "failed", "absent"};
        if (invocation.json) {
            JsonObject json;
            json.Text("step", step.id).Text("state", kStates[static_cast<int>(outcome.state)]);
            json.Text("summary", outcome.summary);
            // Each command's own object; several of one step as an array.
            std::string objects;
            for (const std::string& output : outcome.outputs) {
                size_t first = output.find_first_not_of(" \r\n");
                if (first != std::string::npos && output[first] == '{') {
                    objects += (objects.empty() ? "" : ",") +
                               output.substr(first, output.find_last_not_of(" \r\n") + 1 - first);
                }
            }
            if (!objects.empty()) {
                json.Raw("output", outcome.outputs.size() == 1 ? objects : "[" + objects + "]");
            }
            steps += (steps.empty() ? "" : ",") + json.Done();
        } else {
            std::printf("%s %s%s%s\n%s", kMarks[static_cast<int>(outcome.state)], step.title,
                        outcome.summary.empty() ? "" : ": ", outcome.summary.c_str(),
                        Indented(outcome.outputs).c_str());
        }
    }
    HearthkitConfig::ReleaseStatics();
    HearthkitConfig::CloseDown();
    HearthkitConfig::Shutdown();
    ::QueryPerformanceCounter(&end);
    double seconds = static_cast<double>(end.QuadPart - start.QuadPart) / frequency.QuadPart;
    bool ok = counts[static_cast<int>(StepState::Failed)] == 0;
    if (invocation.json) {
        JsonObject json;
        json.Bool("ok", ok).Text("version", GetVersions().library).Text("server", Utf8(setup.serverUrl));
        json.Text("profile", Utf8(setup.profile)).Raw("steps", "[" + steps + "]");
        json.Raw("log", tour.logFile.empty() ? "null" : JsonString(Utf8(tour.logFile)));
        std::printf("%s\n", json.Done().c_str());
    } else {
        std::printf("Tour done in %.1f s: %d steps passed, %d failed, %d not in this build.\n", seconds,
                    counts[0], counts[1], counts[2]);
    }
    return ok ? kExitSuccess : kExitFailed;
}

} // namespace hkdiag
