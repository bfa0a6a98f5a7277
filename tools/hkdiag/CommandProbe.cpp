// hkdiag probe: can this machine reach the archive web server the way the
// library does: the connectivity probe (for a "/clienttest.gif" URL the 43-byte
// test image), the authentication probe, and the user agent and open type
// that every session of the library uses.
#include "Hearthkit.h"
#include "Json.h"
#include "Tool.h"

#include <cstdio>

namespace hkdiag {
namespace {

const char* OpenTypeName(DWORD type) {
    return type == INTERNET_OPEN_TYPE_DIRECT ? "direct" : "preconfig";
}

} // namespace

int RunProbe(const Invocation& invocation) {
    const Command& command = FindCommand(L"probe");
    std::wstring url, headers;
    bool login = false;
    for (size_t i = 0; i < invocation.args.size(); ++i) {
        const std::wstring& arg = invocation.args[i];
        if (arg == L"--login") {
            login = true;
        } else if (arg == L"--header") {
            if (++i == invocation.args.size()) {
                return ReportBadUsage(command, "--header needs a header line");
            }
            headers += invocation.args[i] + L"\r\n";
        } else if (!arg.empty() && arg[0] == L'-') {
            return ReportBadUsage(command, "unknown option \"" + Utf8(arg) + "\"");
        } else if (url.empty()) {
            url = arg;
        } else {
            return ReportBadUsage(command, "one URL at a time");
        }
    }
    if (url.empty()) {
        return ReportBadUsage(command, "probe needs a URL");
    }

    std::string userAgent = Utf8(static_cast<const wchar_t*>(HearthkitUtil::GetSHUserAgent()));
    DWORD openType = HearthkitUtil::GetInternetOpenType();
    DWORD flags = 0;
    bool reachable = HearthkitUtil::HasInternetConnection(url.c_str(), &flags,
                                                          headers.empty() ? nullptr : headers.c_str(), login);
    // Asked only of a server that answers: the probe's own request would fail
    // the same way otherwise.
    bool basic = reachable && HearthkitUtil::IsUsingBasicAuthentication(url.c_str());

    if (invocation.json) {
        JsonObject json;
        json.Bool("ok", reachable).Text("url", Utf8(url)).Bool("reachable", reachable);
        json.Number("connectionFlags", flags).Bool("basicAuthentication", basic);
        json.Text("userAgent", userAgent).Text("openType", OpenTypeName(openType));
        std::printf("%s\n", json.Done().c_str());
    } else {
        std::printf("URL: %s\nReachable: %s (connection flags 0x%lx)\nAuthentication: %s\nUser agent: %s\n"
                    "Open type: %s\n",
                    Utf8(url).c_str(), reachable ? "yes" : "no", static_cast<unsigned long>(flags),
                    !reachable ? "not asked"
                    : basic    ? "Basic"
                               : "integrated (or none asked for)",
                    userAgent.c_str(), OpenTypeName(openType));
    }
    return reachable ? kExitSuccess : kExitFailed;
}

} // namespace hkdiag
