// Fresh processes: code that must run in a process of its own (the log level
// is read once per process, the exit hook runs at unload, the MAPI loader runs
// at load, the configuration's caches fill once).
//
// HK_SCENARIO(Name) { ...; return exitCode; } defines a scenario; RunScenario
// ("Name") starts this test program again with --hk-scenario=Name and hands
// back its exit code and what it printed. GoogleTest's EXPECT_ macros work in
// a scenario: a failed one prints where and what, and makes the exit code 1
// when the scenario itself returned 0.
#pragma once

#include <windows.h>
#include <string>
#include <vector>

namespace hk {
namespace test {

using ScenarioFn = int (*)(const std::vector<std::wstring>& args);

struct ScenarioRegistrar {
    ScenarioRegistrar(const char* name, ScenarioFn fn);
};

struct ProgramResult {
    DWORD exitCode = 0xDEADBEEF;
    bool timedOut = false;
    std::string output;
};
using ScenarioResult = ProgramResult;

// Starts exe with args (each quoted), stdout and stderr captured together,
// waits at most timeoutMs (killing it past that) and answers its exit code
// and output. extraEnv holds NAME=VALUE entries added to its environment.
ProgramResult RunProgram(const std::wstring& exe, const std::vector<std::wstring>& args = {},
                         DWORD timeoutMs = 60000, const std::vector<std::wstring>& extraEnv = {});

// Runs the scenario in a new process of this program (RunProgram).
ScenarioResult RunScenario(const char* name, const std::vector<std::wstring>& args = {},
                           DWORD timeoutMs = 60000, const std::vector<std::wstring>& extraEnv = {});

// Used by main: runs the scenario named on the command line, if any.
bool TryRunScenarioFromCommandLine(int argc, wchar_t** argv, int* exitCode);

// Steps main runs before the tests, which may run them elsewhere (the MAPI
// stand-in's environment does): a step that answers true has run them, and
// *exitCode is the program's.
using BeforeTestsFn = bool (*)(int argc, wchar_t** argv, int* exitCode);
struct BeforeTestsRegistrar {
    explicit BeforeTestsRegistrar(BeforeTestsFn fn);
};
bool RunBeforeTests(int argc, wchar_t** argv, int* exitCode);

} // namespace test
} // namespace hk

#define HK_SCENARIO(name)                                                                                    \
    static int name##_Scenario(const std::vector<std::wstring>& args);                                       \
    static ::hk::test::ScenarioRegistrar name##_Registrar(#name, name##_Scenario);                           \
    static int name##_Scenario([[maybe_unused]] const std::vector<std::wstring>& args)
