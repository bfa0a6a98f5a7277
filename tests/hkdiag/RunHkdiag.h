// Runs hkdiag.exe as a user would start it, with a temporary directory of the
// test's own, and collects what it printed.
#pragma once

#include "Hearthkit.h"
#include "TestEnv.h"

#include <windows.h>
#include <string>

namespace {

struct ProgramResult {
    DWORD exitCode = 0xDEADBEEF;
    std::string output; // stdout and stderr
};

// Runs bin\hkdiag.exe with args, TMP/TEMP set to temp; waits at most 60 s.
inline ProgramResult RunHkdiag(const std::wstring& args, const std::wstring& temp) {
    ProgramResult result;
    hk::test::TempDir capture(L"hkdiag-out");
    std::wstring outPath = capture.File(L"out.txt");
    SECURITY_ATTRIBUTES sa = {sizeof(sa), nullptr, TRUE};
    hk::unique_file out(::CreateFileW(outPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!out) {
        result.output = "cannot create the output file";
        return result;
    }
    std::wstring exe = hk::test::BinDir() + L"\\hkdiag.exe";
    std::wstring cmd = L"\"" + exe + L"\" " + args;
    std::wstring env = L"TMP=" + temp + L'\0' + L"TEMP=" + temp + L'\0';
    wchar_t root[MAX_PATH];
    if (::GetEnvironmentVariableW(L"SystemRoot", root, MAX_PATH) > 0) {
        env += std::wstring(L"SystemRoot=") + root + L'\0';
    }
    env += L'\0';
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = out.get();
    si.hStdError = out.get();
    PROCESS_INFORMATION pi = {};
    if (!::CreateProcessW(exe.c_str(), &cmd[0], nullptr, nullptr, TRUE, CREATE_UNICODE_ENVIRONMENT, &env[0],
                          nullptr, &si, &pi)) {
        result.output = "CreateProcess failed";
        return result;
    }
    hk::unique_handle process(pi.hProcess), thread(pi.hThread);
    out.reset();
    if (::WaitForSingleObject(process.get(), 60000) != WAIT_OBJECT_0) {
        ::TerminateProcess(process.get(), 0xDEAD);
        ::WaitForSingleObject(process.get(), 10000);
    }
    ::GetExitCodeProcess(process.get(), &result.exitCode);
    result.output = hk::test::ReadFileText(outPath);
    return result;
}

} // namespace
