// Runs a scenario of this program logging at a level into a temporary
// folder of its own (the log level is read once per process; HKCU's
// "LoggingLevel" is set for the run and put back as it was) and hands back
// its exit code, its output, the "key=value" lines it printed and its log
// text.
#pragma once

#include "Scenario.h"

#include <map>
#include <string>
#include <vector>

namespace hk {
namespace test {

struct LoggedRun {
    ScenarioResult result;
    std::map<std::string, std::string> values; // ParseReport(result.output)
    std::string log;                           // every log file's text
};

LoggedRun RunLoggedScenario(const char* name, const std::vector<std::wstring>& args = {}, DWORD level = 2,
                            const std::vector<std::wstring>& extraEnv = {});

// The "key=value" lines of a program's output (CR LF or LF).
std::map<std::string, std::string> ParseReport(const std::string& output);

} // namespace test
} // namespace hk
