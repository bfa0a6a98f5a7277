// Runs hkdiag.exe as a user would start it, with a temporary directory of the
// test's own, and checks what it printed against a table of runs.
#pragma once

#include "Hearthkit.h"
#include "JsonCheck.h"
#include "Scenario.h"
#include "TestEnv.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <algorithm>
#include <regex>
#include <string>
#include <vector>

namespace {

// Runs bin\hkdiag.exe with args (split at blanks outside double quotes),
// TMP and TEMP set to temp; waits at most 60 s. Line ends come back as LF.
inline hk::test::ProgramResult RunHkdiag(const std::wstring& args, const std::wstring& temp) {
    std::vector<std::wstring> words(1);
    bool quoted = false;
    for (wchar_t c : args) {
        quoted ^= c == L'"';
        if (c == L' ' && !quoted) {
            words.emplace_back();
        } else if (c != L'"') {
            words.back() += c;
        }
    }
    words.erase(std::remove(words.begin(), words.end(), std::wstring()), words.end());
    hk::test::ProgramResult result = hk::test::RunProgram(hk::test::BinDir() + L"\\hkdiag.exe", words, 60000,
                                                          {L"TMP=" + temp, L"TEMP=" + temp});
    result.output.erase(std::remove(result.output.begin(), result.output.end(), '\r'), result.output.end());
    return result;
}

// One row of a table of runs: the command line, the exit code, and fragments
// the output must hold ("!text": must not hold). "{T}" in either stands for
// the temporary folder, "{U}" for the row's URL prefix. A run with --json must
// print one JSON value.
struct Row {
    std::string args;
    DWORD exitCode;
    std::vector<std::string> fragments;
};

// R(exit code, command line, fragments...): one row.
template <typename... Fragments>
Row R(DWORD exitCode, std::string args, Fragments... fragments) {
    return Row{std::move(args), exitCode, {std::string(fragments)...}};
}

inline void ExpectRuns(const std::vector<Row>& runs, const std::wstring& temp, const std::string& url = "") {
    auto fill = [&](const std::string& text) {
        return std::regex_replace(std::regex_replace(text, std::regex("\\{T\\}"), hk::test::Narrow(temp)),
                                  std::regex("\\{U\\}"), url);
    };
    for (const Row& run : runs) {
        std::string args = fill(run.args);
        hk::test::ProgramResult r = RunHkdiag(hk::test::Widen(args), temp + L"\\");
        EXPECT_EQ(run.exitCode, r.exitCode) << args << "\n" << r.output;
        for (const std::string& fragment : run.fragments) {
            bool absent = !fragment.empty() && fragment[0] == '!';
            std::string text = fill(fragment.substr(absent ? 1 : 0));
            EXPECT_EQ(absent, r.output.find(text) == std::string::npos) << args << "\n"
                                                                        << text << "\n"
                                                                        << r.output;
        }
        if (args.find("--json") != std::string::npos) {
            EXPECT_EQ(std::string::npos, hk::test::JsonCheck::FirstError(r.output)) << args << "\n"
                                                                                    << r.output;
        }
    }
}

} // namespace
