// hkdiag get URL: one reply read through the library's GetDataFromServer, as
// an archived item comes back: its status, headers, size and throughput; the
// body itself goes to --output FILE.
#include "HttpExchange.h"
#include "Json.h"

#include <cstdio>

namespace hkdiag {

int RunGet(const Invocation& invocation) {
    const Command& command = FindCommand(L"get");
    ExchangeOptions options;
    std::wstring output;
    const auto& args = invocation.args;
    for (size_t i = 0; i < args.size(); ++i) {
        std::wstring value;
        if (args[i] == L"--timeout") {
            if (!OptionValue(args, i, &value) || !ParseMilliseconds(value, &options.timeout)) {
                return ReportBadUsage(invocation, command, "--timeout needs a number of milliseconds");
            }
        } else if (args[i] == L"--output" || args[i] == L"-o") {
            if (!OptionValue(args, i, &output) || output.empty()) {
                return ReportBadUsage(invocation, command, "--output needs a file name");
            }
        } else if (args[i] == L"--login") {
            options.login = true;
        } else if (!args[i].empty() && args[i][0] == L'-') {
            return ReportBadUsage(invocation, command, "unknown option \"" + Utf8(args[i]) + "\"");
        } else if (options.url.empty()) {
            options.url = args[i];
        } else {
            return ReportBadUsage(invocation, command, "one URL at a time");
        }
    }
    if (options.url.empty()) {
        return ReportBadUsage(invocation, command, "get needs a URL");
    }
    std::string what = "get " + Utf8(options.url);
    // A folder that is not there fails before anything is asked of the
    // server, naming the output.
    HRESULT folder = output.empty() ? S_OK : FolderOf(output);
    if (FAILED(folder)) {
        return ReportFailure(invocation, "get: the output " + Utf8(output), folder);
    }
    std::wstring serverUrl;
    std::string suffix;
    SplitRequestUrl(options.url, &serverUrl, &suffix);
    CComBSTR bstrUrl(serverUrl.c_str());
    ToolClient client(bstrUrl, options);
    if (!client.Init()) {
        return ReportFailure(invocation, what, HkHResultFromWin32(::GetLastError()));
    }
    ResponseDetails reply;
    ExchangeReport report;
    report.what = what;
    report.showBody = false;
    double start = Seconds();
    report.hr = client.Engine().GetDataFromServer(suffix.c_str(), &reply);
    double seconds = Seconds() - start;
    long long bytes = reply.dwBodyLength > 0 ? reply.dwBodyLength - 1 : 0;
    bool keep = !output.empty() && SUCCEEDED(report.hr);
    if (keep) {
        HRESULT hr = WriteWholeFile(output, std::string(reply.pBody != nullptr ? reply.pBody : "", bytes));
        if (FAILED(hr)) {
            return ReportFailure(invocation, "get: the output " + Utf8(output), hr);
        }
    }
    long long rate = seconds > 0 ? static_cast<long long>(bytes / seconds) : 0;
    char line[160];
    std::snprintf(line, sizeof(line), "Body: %lld bytes in %.3f s (%.1f MiB/s)%s", bytes, seconds,
                  rate / (1024.0 * 1024.0), keep ? ", written to " : "\n");
    report.extraText = line + (keep ? Utf8(output) + "\n" : std::string());
    JsonObject extra;
    extra.Number("milliseconds", static_cast<long long>(seconds * 1000)).Number("bytesPerSecond", rate);
    extra.Raw("output", keep ? JsonString(Utf8(output)) : "null");
    report.extraJson = extra.Inner();
    return ReportExchange(invocation, client, reply, report);
}

} // namespace hkdiag
