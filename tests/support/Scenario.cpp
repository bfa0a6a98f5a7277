#include "Scenario.h"
#include "TestEnv.h"

#include "HkHandle.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <cwchar>
#include <cstdio>
#include <map>

namespace hk {
namespace test {
namespace {

std::map<std::string, ScenarioFn>& Registry() {
    static std::map<std::string, ScenarioFn> scenarios;
    return scenarios;
}

std::vector<BeforeTestsFn>& BeforeTests() {
    static std::vector<BeforeTestsFn> steps;
    return steps;
}

const wchar_t kFlag[] = L"--hk-scenario=";

std::wstring Quote(const std::wstring& arg) {
    std::wstring out = L"\"";
    for (wchar_t c : arg) {
        if (c == L'"') {
            out += L'\\';
        }
        out += c;
    }
    return out + L"\"";
}

// The current environment block with the extra entries over it.
std::wstring BuildEnvironment(const std::vector<std::wstring>& extra) {
    std::map<std::wstring, std::wstring> vars; // sorted, as Windows expects
    auto add = [&](const std::wstring& entry) {
        size_t eq = entry.find(L'=', 1);
        if (eq != std::wstring::npos) {
            vars[entry.substr(0, eq)] = entry.substr(eq + 1);
        }
    };
    wchar_t* block = ::GetEnvironmentStringsW();
    for (const wchar_t* p = block; *p; p += wcslen(p) + 1) {
        add(p);
    }
    ::FreeEnvironmentStringsW(block);
    std::for_each(extra.begin(), extra.end(), add);
    std::wstring out;
    for (const auto& [name, value] : vars) {
        out += name + L"=" + value + L'\0';
    }
    return out + L'\0';
}

} // namespace

ScenarioRegistrar::ScenarioRegistrar(const char* name, ScenarioFn fn) {
    Registry()[name] = fn;
}

ProgramResult RunProgram(const std::wstring& exe, const std::vector<std::wstring>& args, DWORD timeoutMs,
                         const std::vector<std::wstring>& extraEnv) {
    ProgramResult result;
    TempDir dir(L"run");
    std::wstring outPath = dir.Path() + L"\\out.txt";
    SECURITY_ATTRIBUTES sa = {sizeof(sa), nullptr, TRUE};
    unique_file out(::CreateFileW(outPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!out) {
        result.output = "cannot create the program's output file";
        return result;
    }
    std::wstring cmd = Quote(exe);
    for (const auto& a : args) {
        cmd += L" " + Quote(a);
    }
    std::wstring env = BuildEnvironment(extraEnv);

    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = out.get();
    si.hStdError = out.get();
    si.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION pi = {};
    if (!::CreateProcessW(exe.c_str(), &cmd[0], nullptr, nullptr, TRUE, CREATE_UNICODE_ENVIRONMENT, &env[0],
                          nullptr, &si, &pi)) {
        result.output = "CreateProcess failed";
        return result;
    }
    unique_handle process(pi.hProcess), thread(pi.hThread);
    out.reset();

    if (::WaitForSingleObject(process.get(), timeoutMs) != WAIT_OBJECT_0) {
        result.timedOut = true;
        ::TerminateProcess(process.get(), 0xDEAD);
        ::WaitForSingleObject(process.get(), 10000);
    }
    ::GetExitCodeProcess(process.get(), &result.exitCode);
    result.output = ReadFileText(outPath);
    return result;
}

BeforeTestsRegistrar::BeforeTestsRegistrar(BeforeTestsFn fn) {
    BeforeTests().push_back(fn);
}

bool RunBeforeTests(int argc, wchar_t** argv, int* exitCode) {
    for (BeforeTestsFn step : BeforeTests()) {
        if (step(argc, argv, exitCode)) {
            return true;
        }
    }
    return false;
}

ScenarioResult RunScenario(const char* name, const std::vector<std::wstring>& args, DWORD timeoutMs,
                           const std::vector<std::wstring>& extraEnv) {
    wchar_t self[MAX_PATH];
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::vector<std::wstring> all{kFlag + std::wstring(name, name + strlen(name))};
    all.insert(all.end(), args.begin(), args.end());
    return RunProgram(self, all, timeoutMs, extraEnv);
}

bool TryRunScenarioFromCommandLine(int argc, wchar_t** argv, int* exitCode) {
    if (argc < 2 || wcsncmp(argv[1], kFlag, wcslen(kFlag)) != 0) {
        return false;
    }
    std::wstring wname(argv[1] + wcslen(kFlag));
    std::string name(wname.begin(), wname.end());
    auto it = Registry().find(name);
    if (it == Registry().end()) {
        std::printf("no scenario named %s\n", name.c_str());
        *exitCode = 3;
        return true;
    }
    std::vector<std::wstring> args(argv + 2, argv + argc);
    *exitCode = it->second(args);
    if (*exitCode == 0 && testing::UnitTest::GetInstance()->Failed()) {
        *exitCode = 1;
    }
    std::fflush(stdout);
    return true;
}

} // namespace test
} // namespace hk
