// hkdiag: the Stowhaven desktop support tool. It shows what Hearthkit.dll
// sees and does, through the library's public interface only.
//
//   hkdiag [--json] [-v] command [args...]
//   hkdiag (the usage), hkdiag --help, hkdiag <command> --help, hkdiag --version
// Exit codes: 0 success, 1 the operation or the server said no, 2 bad usage.
#include "HResultText.h"
#include "Json.h"
#include "Tool.h"

#include <cstdio>
#include <cwchar>
#include <new>

namespace {

bool IsHelp(const std::wstring& arg) {
    return arg == L"--help" || arg == L"-h" || arg == L"/?";
}

void PrintUsage(FILE* out) {
    std::fprintf(out, "Usage: hkdiag [--json] [-v] command [args...]\n"
                      "Shows what Hearthkit.dll sees and does. Commands:\n");
    for (const hkdiag::Command& command : hkdiag::Commands()) {
        std::fprintf(out, "  %-10s %s\n", hkdiag::Utf8(command.name).c_str(), command.summary);
    }
    std::fprintf(out,
                 "\"hkdiag <command> --help\" shows a command's usage; \"hkdiag --version\" the versions.\n"
                 "  --json  print one JSON object on stdout instead of text (every command, every failure)\n"
                 "  -v      show the request's and the reply's headers (get, send)\n"
                 "Exit codes: 0 success, 1 the operation or the server said no (the HRESULT is printed),\n"
                 "2 bad usage (nothing was done).\n");
}

int UnknownCommand(const hkdiag::Invocation& invocation, const std::wstring& name) {
    std::string message = "unknown command \"" + hkdiag::Utf8(name) + "\"";
    if (invocation.json) {
        hkdiag::JsonObject json;
        json.Bool("ok", false)
            .Text("operation", hkdiag::Utf8(name))
            .Text("hr", hkdiag::HResultHex(E_INVALIDARG));
        json.Text("name", "E_INVALIDARG").Text("message", message);
        std::printf("%s\n", json.Done().c_str());
    } else {
        std::fprintf(stderr, "hkdiag: %s\n", message.c_str());
        PrintUsage(stderr);
    }
    return hkdiag::kExitBadUsage;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    hkdiag::Invocation invocation;
    std::vector<std::wstring> words;
    bool help = false;
    for (int i = 1; i < argc; ++i) {
        std::wstring arg = argv[i];
        if (arg == L"--json") {
            invocation.json = true;
        } else if (arg == L"-v" || arg == L"--verbose") {
            invocation.verbose = true;
        } else if (IsHelp(arg)) {
            help = true;
        } else if (arg == L"--version" && words.empty()) {
            words.push_back(L"version");
        } else {
            words.push_back(arg);
        }
    }
    if (words.empty()) {
        PrintUsage(stdout);
        return hkdiag::kExitSuccess;
    }
    for (const hkdiag::Command& command : hkdiag::Commands()) {
        if (words[0] != command.name) {
            continue;
        }
        if (help) {
            std::fputs(command.usage, stdout);
            return hkdiag::kExitSuccess;
        }
        invocation.args.assign(words.begin() + 1, words.end());
        int code = hkdiag::kExitFailed;
        try {
            code = command.run(invocation);
        } catch (const std::bad_alloc&) {
            code = hkdiag::ReportFailure(invocation, hkdiag::Utf8(command.name), E_OUTOFMEMORY);
        } catch (...) {
            code = hkdiag::ReportFailure(invocation, hkdiag::Utf8(command.name), E_UNEXPECTED);
        }
        std::fflush(stdout);
        return code;
    }
    return UnknownCommand(invocation, words[0]);
}
