// Runs a scenario of this program logging at LOG_DETAIL into a folder of its
// own and hands back its exit code, its output and its log text.
#pragma once

#include "Scenario.h"

#include <string>
#include <vector>

struct LoggedRun {
    hk::test::ScenarioResult result;
    std::string log;
};

LoggedRun RunLoggedScenario(const char* name, const std::vector<std::wstring>& args = {});
