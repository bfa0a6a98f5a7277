// hkdiag: the Stowhaven desktop support tool. It shows what Hearthkit.dll
// sees and does, through the library's public interface only.
//
//   hkdiag [--json] [command [args...]]   (no command: the demo tour)
//   hkdiag --help, hkdiag <command> --help
// Exit codes: 0 success, 1 the operation failed, 2 bad usage.
#include "Tool.h"

#include <cstdio>
#include <cwchar>
#include <new>

namespace {

bool IsHelp(const std::wstring& arg) {
    return arg == L"--help" || arg == L"-h" || arg == L"/?";
}

void PrintUsage(FILE* out) {
    std::fprintf(out, "Usage: hkdiag [--json] [command [args...]]\n"
                      "Shows what Hearthkit.dll sees and does. Commands:\n");
    for (const hkdiag::Command& command : hkdiag::Commands()) {
        std::fprintf(out, "  %-10s %s\n", hkdiag::Utf8(command.name).c_str(), command.summary);
    }
    std::fprintf(out,
                 "Without a command: demo. \"hkdiag <command> --help\" shows a command's usage.\n"
                 "  --json  print one JSON object on stdout instead of text (every command)\n"
                 "Exit codes: 0 success, 1 the operation failed (its HRESULT is printed), 2 bad usage.\n");
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
        } else if (IsHelp(arg)) {
            help = true;
        } else {
            words.push_back(arg);
        }
    }
    if (words.empty()) {
        if (help) {
            PrintUsage(stdout);
            return hkdiag::kExitSuccess;
        }
        words.push_back(L"demo");
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
    std::fprintf(stderr, "hkdiag: unknown command \"%s\"\n", hkdiag::Utf8(words[0]).c_str());
    PrintUsage(stderr);
    return hkdiag::kExitBadUsage;
}
