// hkdiag probe: can this machine reach the archive web server the way the
// library does: the connectivity probe (for a "/clienttest.gif" URL the 43-byte
// test image), the authentication probe, and the user agent and open type
// that every session of the library uses. Beside the library's yes or no, a
// request of hkdiag's own to the same URL says why: the status, the content
// type and the length the server gave, or the error that kept it from
// answering.
#include "HResultText.h"
#include "Hearthkit.h"
#include "Json.h"
#include "Redact.h"
#include "Tool.h"
#include "ToolInternet.h"

#include <cstdio>
#include <memory>

namespace hkdiag {
namespace {

// The library's rule (HearthkitUtil::HasInternetConnection): a URL naming this
// must answer with a GIF of exactly 43 bytes.
const wchar_t kTestImage[] = L"/clienttest.gif";
const long long kTestImageBytes = 43;

struct ProbeOptions {
    std::wstring url;
    std::wstring headers; // --header lines, each ending in CR LF
    bool login = false;
    DWORD timeout = 30000;
};

// The library's two probes, run on a thread of their own so that --timeout
// bounds them: they set no time-outs of their own.
struct LibraryProbe {
    ProbeOptions options;
    bool reachable = false;
    DWORD flags = 0;
    bool basic = false;
};

DWORD WINAPI RunLibraryProbe(void* parameter) {
    auto* probe = static_cast<LibraryProbe*>(parameter);
    const ProbeOptions& options = probe->options;
    probe->reachable = HearthkitUtil::HasInternetConnection(
        options.url.c_str(), &probe->flags, options.headers.empty() ? nullptr : options.headers.c_str(),
        options.login);
    // Asked only of a server that answers: the probe's own request would fail
    // the same way otherwise.
    probe->basic = probe->reachable && HearthkitUtil::IsUsingBasicAuthentication(options.url.c_str());
    return 0;
}

// What hkdiag's own request to the URL saw, made as the library's probe makes
// its request (InternetOpenUrl with the same flags and headers).
struct OwnCheck {
    HRESULT hr = S_OK;
    bool connected = true; // InternetGetConnectedState
    DWORD status = 0;
    std::string statusText;
    std::string contentType;
    long long length = -1; // Content-Length, or the bytes read when there was none
    std::string requestHeaders, replyHeaders;
};

std::string QueryText(HINTERNET request, DWORD what) {
    char text[512];
    DWORD size = sizeof(text) - 1;
    return ::HttpQueryInfoA(request, what, text, &size, nullptr) ? std::string(text, size) : std::string();
}

OwnCheck CheckUrl(const ProbeOptions& options) {
    OwnCheck check;
    DWORD flags = 0;
    check.connected = ::InternetGetConnectedState(&flags, 0) == TRUE;
    unique_hinternet session(::InternetOpenW(HearthkitUtil::GetSHUserAgent().GetString(),
                                             HearthkitUtil::GetInternetOpenType(), nullptr, nullptr, 0));
    if (!session) {
        check.hr = HkHResultFromWin32(::GetLastError());
        return check;
    }
    SetTimeouts(session.get(), options.timeout);
    unique_hinternet request(::InternetOpenUrlW(session.get(), options.url.c_str(),
                                                options.headers.empty() ? nullptr : options.headers.c_str(),
                                                static_cast<DWORD>(-1),
                                                INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                                                    INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_NO_COOKIES,
                                                0));
    if (!request) {
        check.hr = HkHResultFromWin32(::GetLastError());
        return check;
    }
    check.requestHeaders = RawHeaders(request.get(), HTTP_QUERY_FLAG_REQUEST_HEADERS);
    check.replyHeaders = RawHeaders(request.get());
    check.status = std::strtoul(QueryText(request.get(), HTTP_QUERY_STATUS_CODE).c_str(), nullptr, 10);
    check.statusText = QueryText(request.get(), HTTP_QUERY_STATUS_TEXT);
    check.contentType = QueryText(request.get(), HTTP_QUERY_CONTENT_TYPE);
    std::string length = QueryText(request.get(), HTTP_QUERY_CONTENT_LENGTH);
    if (!length.empty()) {
        check.length = std::strtoll(length.c_str(), nullptr, 10);
        return check;
    }
    // As the library does without a length: the body is counted, up to a
    // limit well past the test image's size.
    char buffer[4096];
    DWORD read = 0;
    check.length = 0;
    while (check.length < 1024 * 1024 && ::InternetReadFile(request.get(), buffer, sizeof(buffer), &read) &&
           read > 0) {
        check.length += read;
    }
    return check;
}

std::string ConnectionText(DWORD flags) {
    static const struct {
        DWORD bit;
        const char* name;
    } kFlags[] = {{INTERNET_CONNECTION_MODEM, "modem"},
                  {INTERNET_CONNECTION_LAN, "LAN"},
                  {INTERNET_CONNECTION_PROXY, "proxy"},
                  {INTERNET_RAS_INSTALLED, "RAS installed"},
                  {INTERNET_CONNECTION_OFFLINE, "offline"},
                  {INTERNET_CONNECTION_CONFIGURED, "configured"},
                  {0x08 /* INTERNET_CONNECTION_MODEM_BUSY */, "modem busy"}};
    std::string text;
    for (const auto& flag : kFlags) {
        if (flags & flag.bit) {
            text += (text.empty() ? "" : ", ") + std::string(flag.name);
        }
    }
    return text.empty() ? "none" : text;
}

bool SameNoCase(const std::string& a, const char* b) {
    return _stricmp(a.c_str(), b) == 0;
}

// Why the library said no, by its own rule, from what the server gave
// hkdiag's request; *hr gets the failure's code.
std::string Reason(const ProbeOptions& options, const OwnCheck& check, HRESULT* hr) {
    std::string status = std::to_string(check.status) + " " + check.statusText;
    *hr = E_FAIL;
    if (!check.connected) {
        return "the system reports no network connection (InternetGetConnectedState)";
    }
    if (FAILED(check.hr)) {
        *hr = check.hr;
        return "no answer from the server: " + DescribeHResult(check.hr);
    }
    if (check.status == HTTP_STATUS_NOT_FOUND || check.status == HTTP_STATUS_FORBIDDEN) {
        *hr = HttpStatusHResult(check.status);
        return "the server answered " + status + "; the library counts 404 and 403 as no connection";
    }
    if (check.status == HTTP_STATUS_DENIED) {
        *hr = HttpStatusHResult(check.status);
        return "the server asked for credentials (401) and the login dialog did not give them";
    }
    if (options.url.find(kTestImage) == std::wstring::npos) {
        std::wstring folder = options.url.substr(0, options.url.find_last_of(L'/'));
        return "the server answered " + status +
               ", but the library counts a server reachable only by its test image or a 401: name it in the "
               "URL, as in " +
               Utf8(folder + kTestImage);
    }
    if (!SameNoCase(check.contentType, "image/gif")) {
        *hr = HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
        return "the server answered " + status + " with Content-Type \"" + check.contentType +
               "\" where the test image is image/gif";
    }
    if (check.length != kTestImageBytes) {
        *hr = HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
        return "the test image is " + std::to_string(check.length) + " bytes where the library expects " +
               std::to_string(kTestImageBytes);
    }
    return "the library's probe failed where hkdiag's own request passed; its log has the reason "
           "(hkdiag log list)";
}

int ParseProbe(const Invocation& invocation, ProbeOptions* options) {
    const Command& command = FindCommand(L"probe");
    const auto& args = invocation.args;
    for (size_t i = 0; i < args.size(); ++i) {
        std::wstring value;
        if (args[i] == L"--login") {
            options->login = true;
        } else if (args[i] == L"--header") {
            if (!OptionValue(args, i, &value)) {
                return ReportBadUsage(invocation, command, "--header needs a header line");
            }
            options->headers += value + L"\r\n";
        } else if (args[i] == L"--timeout") {
            if (!OptionValue(args, i, &value) || !ParseMilliseconds(value, &options->timeout)) {
                return ReportBadUsage(invocation, command, "--timeout needs a number of milliseconds");
            }
        } else if (!args[i].empty() && args[i][0] == L'-') {
            return ReportBadUsage(invocation, command, "unknown option \"" + Utf8(args[i]) + "\"");
        } else if (options->url.empty()) {
            options->url = args[i];
        } else {
            return ReportBadUsage(invocation, command, "one URL at a time");
        }
    }
    return options->url.empty() ? ReportBadUsage(invocation, command, "probe needs a URL") : kExitSuccess;
}

} // namespace

int RunProbe(const Invocation& invocation) {
    auto owned = std::make_unique<LibraryProbe>();
    LibraryProbe& probe = *owned;
    if (int usage = ParseProbe(invocation, &probe.options)) {
        return usage;
    }
    const ProbeOptions& options = probe.options;
    std::string url = RedactText(Utf8(options.url));
    hk::unique_handle thread(::CreateThread(nullptr, 0, RunLibraryProbe, &probe, 0, nullptr));
    if (!thread) {
        return ReportFailure(invocation, "probe " + url, HkHResultFromWin32(::GetLastError()));
    }
    // The dialog of --login waits for the user, not for the server.
    if (::WaitForSingleObject(thread.get(), options.login ? INFINITE : options.timeout) != WAIT_OBJECT_0) {
        // The thread still uses the probe: it stays until the process ends.
        owned.release();
        Failure failure;
        failure.what = "probe " + url;
        failure.hr = HRESULT_FROM_WIN32(ERROR_INTERNET_TIMEOUT);
        failure.message =
            "the library's probe had no answer within " + std::to_string(options.timeout) + " ms";
        failure.hint = "--timeout MS gives the server longer to answer";
        return ReportFailure(invocation, failure);
    }
    OwnCheck check = CheckUrl(options);
    HRESULT hr = S_OK;
    std::string reason = probe.reachable ? std::string() : Reason(options, check, &hr);
    std::string userAgent = Utf8(HearthkitUtil::GetSHUserAgent().GetString());
    const char* openType =
        HearthkitUtil::GetInternetOpenType() == INTERNET_OPEN_TYPE_DIRECT ? "direct" : "preconfig";
    std::vector<std::string> challenges = Challenges(check.replyHeaders);
    std::string offered = ChallengeList(challenges);
    std::string authentication = !probe.reachable ? "not asked"
                                 : probe.basic    ? "Basic"
                                                  : "integrated (or none asked for)";

    JsonObject members;
    members.Text("url", url).Bool("reachable", probe.reachable);
    if (FAILED(check.hr)) {
        members.Raw("status", "null");
    } else {
        members.Number("status", check.status).Text("statusText", check.statusText);
        members.Text("contentType", check.contentType).Number("contentLength", check.length);
    }
    members.Number("connectionFlags", probe.flags).Text("connection", ConnectionText(probe.flags));
    members.Bool("basicAuthentication", probe.basic).Text("challenges", offered);
    members.Text("userAgent", userAgent).Text("openType", openType);
    if (invocation.verbose) {
        members.Text("requestHeaders", RedactText(check.requestHeaders));
        members.Text("replyHeaders", RedactText(check.replyHeaders));
    }
    if (invocation.json) {
        if (probe.reachable) {
            std::printf("%s\n", JsonObject().Bool("ok", true).Members(members.Inner()).Done().c_str());
            return kExitSuccess;
        }
        Failure failure;
        failure.what = "probe " + url;
        failure.hr = hr;
        failure.message = reason;
        failure.members = members.Inner();
        return ReportFailure(invocation, failure);
    }
    std::printf("URL: %s\nReachable: %s\n", url.c_str(), probe.reachable ? "yes" : "no");
    if (!reason.empty()) {
        std::printf("  Why: %s\n", reason.c_str());
    }
    if (SUCCEEDED(check.hr)) {
        std::printf("Reply: %lu %s, %s%s, %lld bytes\n", check.status, check.statusText.c_str(),
                    check.contentType.empty() ? "no Content-Type" : "Content-Type ",
                    check.contentType.c_str(), check.length);
    }
    std::printf("Connection: %s (flags 0x%lx)\nAuthentication: %s; the server offers %s\nUser agent: %s\n"
                "Open type: %s\n",
                ConnectionText(probe.flags).c_str(), probe.flags, authentication.c_str(), offered.c_str(),
                userAgent.c_str(), openType);
    if (invocation.verbose) {
        std::printf("%s%s", HeaderLines(RedactText(check.requestHeaders), "> ").c_str(),
                    HeaderLines(RedactText(check.replyHeaders), "< ").c_str());
    }
    return probe.reachable ? kExitSuccess : kExitFailed;
}

} // namespace hkdiag
