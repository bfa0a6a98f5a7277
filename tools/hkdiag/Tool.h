// What every hkdiag command shares: its invocation, the exit codes, the
// command table and the way results and failures are printed.
#pragma once

#include <windows.h>
#include <string>
#include <vector>

namespace hkdiag {

enum ExitCode {
    kExitSuccess = 0,
    kExitFailed = 1,   // the operation ran and failed, or the server said no
    kExitBadUsage = 2, // the command line is wrong: nothing was done
};

struct Invocation {
    std::vector<std::wstring> args; // after the command's name, global options removed
    bool json = false;              // --json: one JSON object on stdout
    bool verbose = false;           // -v: the request's and the reply's headers
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
int RunGet(const Invocation& invocation);
int RunHoardview(const Invocation& invocation);
// hkdiag config [NAME ...]: the settings, where each came from, the store key
// and both desktop settings caches.
int RunConfig(const Invocation& invocation);
int RunPst(const Invocation& invocation);
int RunCollect(const Invocation& invocation);
int RunVersion(const Invocation& invocation);
int RunError(const Invocation& invocation);

struct Versions {
    std::string tool;        // "1.0.0.1"
    std::string library;     // Hearthkit.dll's, as the library reports it
    std::string libraryPath; // the Hearthkit.dll this process loaded
};
Versions GetVersions();

std::string Utf8(const std::wstring& text);
std::wstring Wide(const std::string& utf8);

// The tool's own folder, with its trailing backslash.
std::wstring ToolDirectory();
// The user's temporary folder as the library sees it, with its trailing
// backslash.
std::wstring TempDirectory();
// path made absolute (GetFullPathName); path itself when that fails.
std::wstring FullPath(const std::wstring& path);

// "2026-12-04T02:48:54Z" (UTC); empty when the time cannot be converted.
std::string IsoTime(const FILETIME& time);

// S_OK when the folder that path would be made in exists; the HRESULT of
// ERROR_PATH_NOT_FOUND otherwise.
HRESULT FolderOf(const std::wstring& path);

// The value of the option at args[i]: advances i to it; false when none
// follows.
bool OptionValue(const std::vector<std::wstring>& args, size_t& i, std::wstring* value);
// A positive decimal number of milliseconds.
bool ParseMilliseconds(const std::wstring& text, DWORD* milliseconds);

// The whole file, read with write sharing allowed: the log (and a stand-in's
// record) stays open for writing while it is read.
HRESULT ReadWholeFile(const std::wstring& path, std::string* text);
// Creates or replaces the file.
HRESULT WriteWholeFile(const std::wstring& path, const std::string& bytes);

struct TimelineStats;

// The product's log files ("sh_client_log_*.txt") in folder, newest first.
struct LogFile {
    std::wstring name;
    std::wstring path;
    long long bytes;
    FILETIME modified;
};
std::vector<LogFile> ProductLogFiles(const std::wstring& folder);

// Reads the log files (while the library may still be writing them), masks
// their secrets and makes one timeline of them all, a process for each file.
// On failure *failedPath names the log that failed.
HRESULT ReadTimeline(const std::vector<std::wstring>& logPaths, std::string* json, TimelineStats* stats,
                     std::string* failedPath);
// The same timeline written to outPath; on a failure to write, *failedPath
// is "the output ...".
HRESULT WriteTimeline(const std::vector<std::wstring>& logPaths, const std::wstring& outPath,
                      TimelineStats* stats, std::string* failedPath);

// What went wrong, for ReportFailure. URLs and headers in every text are
// masked (Redact.h) before they are printed.
struct Failure {
    std::string what; // the operation: "send form http://...", "wds: the client store key"
    HRESULT hr = E_FAIL;
    std::string message; // instead of the system's text for hr, when set
    std::string hint;    // what would help: a flag, a setting
    std::string members; // further JSON members ("\"status\":500,...") of the --json object
};

// Prints "hkdiag: <what>: 0x... NAME (message)" and the hint on stderr, or
// with --json the object {"ok":false,"operation":..,"hr":..,"name":..,
// "message":..[,"hint":..]} on stdout. Answers kExitFailed.
int ReportFailure(const Invocation& invocation, const Failure& failure);
int ReportFailure(const Invocation& invocation, const std::string& what, HRESULT hr);

// Prints "hkdiag: <message>" and the command's usage on stderr, or with
// --json the failure object (E_INVALIDARG, the message, "usage") on stdout.
// Answers kExitBadUsage.
int ReportBadUsage(const Invocation& invocation, const Command& command, const std::string& message);

const Command& FindCommand(const wchar_t* name);

// Runs `command` as "hkdiag <command> args" would, with what it prints on
// stdout and stderr collected in *output instead (through a file in the
// temporary folder, removed afterwards).
int RunCaptured(const wchar_t* command, const Invocation& invocation, std::string* output);

// The mail client's MAPI session shared as the product's components share
// it (HearthkitConfig::LogonToMAPI), and given back at the end of the scope.
// A failure names its cause: no MAPI registered, or the logon's HRESULT.
class SharedMapiSession {
public:
    SharedMapiSession();
    ~SharedMapiSession();
    SharedMapiSession(const SharedMapiSession&) = delete;
    SharedMapiSession& operator=(const SharedMapiSession&) = delete;
    HRESULT Result() const { return m_hr; }
    // The failure of the logon as ReportFailure prints it.
    Failure Why(const std::string& what) const;

private:
    HRESULT m_hr;
};

// Whether the library found a MAPI runtime when it was loaded.
bool MapiRegistered();
// "no MAPI registered (<why the loader found none>)".
std::string NoMapiText();

} // namespace hkdiag
