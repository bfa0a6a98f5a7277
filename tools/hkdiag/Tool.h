// What every hkdiag command shares: its invocation, the exit codes, the
// command table and the way results and failures are printed.
#pragma once

#include <windows.h>
#include <string>
#include <vector>

namespace hkdiag {

enum ExitCode {
    kExitSuccess = 0,
    kExitFailed = 1,   // the operation ran and failed
    kExitBadUsage = 2, // the command line is wrong: nothing was done
};

struct Invocation {
    std::vector<std::wstring> args; // after the command's name, global options removed
    bool json = false;              // --json: one JSON object on stdout
};

struct Command {
    const wchar_t* name;
    const char* summary; // one line for "hkdiag --help"
    const char* usage;   // the text of "hkdiag <command> --help"
    int (*run)(const Invocation& invocation);
};

// The commands, in the order "hkdiag --help" lists them.
const std::vector<Command>& Commands();

int RunDemo(const Invocation& invocation);
int RunLog(const Invocation& invocation);
int RunL10n(const Invocation& invocation);
int RunWds(const Invocation& invocation);
int RunProbe(const Invocation& invocation);
int RunSend(const Invocation& invocation);
int RunHoardview(const Invocation& invocation);
// hkdiag config [NAME ...]: the settings, where each came from, the store key
// and both desktop settings caches.
int RunConfig(const Invocation& invocation);
int RunPst(const Invocation& invocation);

std::string Utf8(const std::wstring& text);

// The tool's own folder, with its trailing backslash.
std::wstring ToolDirectory();

// The whole file, read with write sharing allowed: the log (and a stand-in's
// record) stays open for writing while it is read.
HRESULT ReadWholeFile(const std::wstring& path, std::string* text);

struct TimelineStats;

// Reads the log file at logPath (while the library may still be writing it)
// and writes its timeline to outPath.
HRESULT WriteTimeline(const std::wstring& logPath, const std::wstring& outPath, TimelineStats* stats);

// Prints "hkdiag: <what>: 0x... NAME (message)" on stderr, or with --json the
// object {"ok":false,"operation":what,"hr":..,"name":..,"message":..} on
// stdout. Answers kExitFailed.
int ReportFailure(const Invocation& invocation, const std::string& what, HRESULT hr);

// Prints "hkdiag: <message>" and the command's usage on stderr. Answers
// kExitBadUsage.
int ReportBadUsage(const Command& command, const std::string& message);

const Command& FindCommand(const wchar_t* name);

} // namespace hkdiag
