// hkdiag end to end: the program is started as a user would start it, with
// a level of the test's own and a temporary directory of its own.
#include "Hearthkit.h"
#include "TestEnv.h"

#include <gtest/gtest.h>
#include <regex>
#include <string>
#include <vector>

namespace {

struct ProgramResult {
    DWORD exitCode = 0xDEADBEEF;
    std::string output; // stdout and stderr
};

// Runs bin\hkdiag.exe with args, TMP/TEMP set to temp; waits at most 60 s.
ProgramResult RunHkdiag(const std::wstring& args, const std::wstring& temp) {
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

TEST(Hkdiag, DemoShowsVersionLevelAndLogFileAndWritesALine) {
    hk::test::RegistryKeyGuard guard(HKEY_CURRENT_USER, L"SOFTWARE\\Talvo\\Stowhaven\\Client");
    CRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.Create(HKEY_CURRENT_USER, L"SOFTWARE\\Talvo\\Stowhaven\\Client"));
    ASSERT_EQ(ERROR_SUCCESS, key.SetDWORDValue(L"LoggingLevel", 0x80000002));
    hk::test::TempDir temp(L"hkdiag");
    ProgramResult r = RunHkdiag(L"demo", temp.Path() + L"\\");
    ASSERT_EQ(0u, r.exitCode) << r.output;
    std::smatch m;
    std::regex shape("Hearthkit\\.dll version (\\d+\\.\\d+\\.\\d+\\.\\d+) \\(.*Hearthkit\\.dll\\)\r?\n"
                     "Log level: 2 \\(provider tracing on\\)\r?\n"
                     "Log file: (.*sh_client_log_\\d{14}\\.txt)\r?\n");
    ASSERT_TRUE(std::regex_match(r.output, m, shape)) << r.output;
    EXPECT_EQ(0u, m[2].str().rfind(hk::test::Narrow(temp.Path()) + "\\", 0)) << m[2];
    std::string log = hk::test::ReadFileText(hk::test::Widen(m[2]));
    EXPECT_NE(std::string::npos, log.find("]: hkdiag: Hearthkit.dll version " + m[1].str() + "\r\n")) << log;
    EXPECT_NE(std::string::npos, log.find("]: Log file closed.\r\n")) << log;
}

TEST(Hkdiag, UsageAndUnknownCommands) {
    hk::test::TempDir temp(L"hkdiag");
    ProgramResult help = RunHkdiag(L"--help", temp.Path() + L"\\");
    EXPECT_EQ(0u, help.exitCode) << help.output;
    EXPECT_EQ(0u, help.output.rfind("Usage: hkdiag", 0)) << help.output;
    ProgramResult unknown = RunHkdiag(L"frobnicate", temp.Path() + L"\\");
    EXPECT_EQ(2u, unknown.exitCode) << unknown.output;
    EXPECT_NE(std::string::npos, unknown.output.find("unknown command \"frobnicate\"")) << unknown.output;
}

} // namespace
