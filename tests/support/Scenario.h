// Scenarios: code that must run in a fresh process (the log level is read once
// per process, the exit hook runs at unload, the MAPI loader runs at load).
// HK_SCENARIO(Name) { ...; return exitCode; } defines one; RunScenario("Name")
// starts this test program again with --hk-scenario=Name and hands back its
// exit code and what it printed.
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

} // namespace test
} // namespace hk

#define HK_SCENARIO(name)                                                                                    \
    static int name##_Scenario(const std::vector<std::wstring>& args);                                       \
    static ::hk::test::ScenarioRegistrar name##_Registrar(#name, name##_Scenario);                           \
    static int name##_Scenario([[maybe_unused]] const std::vector<std::wstring>& args)
