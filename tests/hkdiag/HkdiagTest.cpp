// hkdiag end to end: the program is started as a user would start it, with
// a level of the test's own and a temporary directory of its own.
#include "Hearthkit.h"
#include "JsonCheck.h"
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

const wchar_t kClientKey[] = L"SOFTWARE\\Talvo\\Stowhaven\\Client";

// The log at the given level in a key restored after the test.
struct LevelGuard {
    explicit LevelGuard(DWORD level) : guard(HKEY_CURRENT_USER, kClientKey) {
        CRegKey key;
        EXPECT_EQ(ERROR_SUCCESS, key.Create(HKEY_CURRENT_USER, kClientKey));
        EXPECT_EQ(ERROR_SUCCESS, key.SetDWORDValue(L"LoggingLevel", level));
    }
    hk::test::RegistryKeyGuard guard;
};

bool IsJson(const std::string& text) {
    return hk::test::JsonCheck::FirstError(text) == std::string::npos;
}

TEST(Hkdiag, HelpForTheToolAndEachCommand) {
    hk::test::TempDir temp(L"hkdiag");
    ProgramResult help = RunHkdiag(L"--help", temp.Path() + L"\\");
    EXPECT_EQ(0u, help.exitCode) << help.output;
    EXPECT_EQ(0u, help.output.rfind("Usage: hkdiag", 0)) << help.output;
    EXPECT_NE(std::string::npos, help.output.find("  log ")) << help.output;
    EXPECT_NE(std::string::npos, help.output.find("Exit codes: 0 success, 1")) << help.output;
    ProgramResult logHelp = RunHkdiag(L"log --help", temp.Path() + L"\\");
    EXPECT_EQ(0u, logHelp.exitCode) << logHelp.output;
    EXPECT_EQ(0u, logHelp.output.rfind("Usage: hkdiag log [--json]", 0)) << logHelp.output;
    EXPECT_NE(std::string::npos, logHelp.output.find("Usage: hkdiag log timeline FILE")) << logHelp.output;
}

TEST(Hkdiag, BadUsageExitsWithTwoAndDoesNothing) {
    hk::test::TempDir temp(L"hkdiag");
    struct Case {
        const wchar_t* args;
        const char* message;
    } cases[] = {
        {L"frobnicate", "unknown command \"frobnicate\""},
        {L"log bogus", "unknown log command \"bogus\""},
        {L"log timeline", "log timeline needs a log file"},
        {L"log timeline a.log -o", "-o needs a file name"},
        {L"log timeline a.log b.log", "one log file at a time"},
        {L"log timeline --bogus a.log", "unknown option \"--bogus\""},
        {L"demo --bogus", "unknown argument \"--bogus\""},
    };
    for (const Case& c : cases) {
        ProgramResult r = RunHkdiag(c.args, temp.Path() + L"\\");
        EXPECT_EQ(2u, r.exitCode) << hk::test::Narrow(c.args) << "\n" << r.output;
        EXPECT_NE(std::string::npos, r.output.find(c.message)) << r.output;
        EXPECT_NE(std::string::npos, r.output.find("Usage: hkdiag")) << r.output;
    }
    EXPECT_FALSE(hk::test::ReadFileBytes(temp.File(L"a.log.json")).size() > 0);
}

TEST(Hkdiag, LogShowsLevelTracingAndFile) {
    LevelGuard level(0x80000003);
    hk::test::TempDir temp(L"hkdiag");
    ProgramResult text = RunHkdiag(L"log", temp.Path() + L"\\");
    ASSERT_EQ(0u, text.exitCode) << text.output;
    std::smatch m;
    ASSERT_TRUE(std::regex_match(text.output, m,
                                 std::regex("Log level: 3\r?\nProvider tracing: on\r?\nLog file: (.*)\r?\n")))
        << text.output;
    EXPECT_EQ(0u, m[1].str().rfind(hk::test::Narrow(temp.Path()) + "\\sh_client_log_", 0)) << m[1];

    ProgramResult json = RunHkdiag(L"--json log", temp.Path() + L"\\");
    ASSERT_EQ(0u, json.exitCode) << json.output;
    EXPECT_TRUE(IsJson(json.output)) << json.output;
    EXPECT_EQ(0u, json.output.rfind("{\"ok\":true,\"level\":3,\"tracing\":true,\"file\":\"", 0))
        << json.output;
}

TEST(Hkdiag, LogAtLevelOneHasNoFileYet) {
    LevelGuard level(1);
    hk::test::TempDir temp(L"hkdiag");
    ProgramResult json = RunHkdiag(L"log --json", temp.Path() + L"\\");
    ASSERT_EQ(0u, json.exitCode) << json.output;
    EXPECT_EQ("{\"ok\":true,\"level\":1,\"tracing\":false,\"file\":null}",
              json.output.substr(0, json.output.find_first_of("\r\n")));
}

TEST(Hkdiag, LogTimelineWritesTheGoldenTrace) {
    hk::test::TempDir temp(L"hkdiag");
    std::wstring golden = hk::test::SourceDir() + L"\\tests\\hkdiag\\golden\\scopes";
    std::wstring out = temp.File(L"out.json");
    ProgramResult r =
        RunHkdiag(L"log timeline \"" + golden + L".log\" -o \"" + out + L"\"", temp.Path() + L"\\");
    ASSERT_EQ(0u, r.exitCode) << r.output;
    EXPECT_EQ(0u, r.output.rfind("Timeline: " + hk::test::Narrow(out) +
                                     "\r\n  17 records on 2 threads: 6 operations "
                                     "(2 unclosed), 7 other records, 1 exits without entry, 1 lines skipped",
                                 0))
        << r.output;
    EXPECT_EQ(hk::test::ReadFileText(golden + L".json"), hk::test::ReadFileText(out));

    // Without -o the trace goes next to the log; --json reports the counts.
    hk::test::WriteFileBytes(temp.File(L"copy.log"), "05/12/2026 10:00:00.000: A::B\r\n", 31);
    ProgramResult json =
        RunHkdiag(L"--json log timeline \"" + temp.File(L"copy.log") + L"\"", temp.Path() + L"\\");
    ASSERT_EQ(0u, json.exitCode) << json.output;
    EXPECT_TRUE(IsJson(json.output)) << json.output;
    EXPECT_NE(std::string::npos, json.output.find("\"records\":1,\"scopes\":1,\"unclosed\":1,"))
        << json.output;
    EXPECT_TRUE(IsJson(hk::test::ReadFileText(temp.File(L"copy.log.json"))));
}

TEST(Hkdiag, FailuresPrintTheHResultItsNameAndTheSystemText) {
    hk::test::TempDir temp(L"hkdiag");
    std::wstring missing = temp.File(L"missing.log");
    ProgramResult text = RunHkdiag(L"log timeline \"" + missing + L"\"", temp.Path() + L"\\");
    EXPECT_EQ(1u, text.exitCode) << text.output;
    std::regex shape(
        "hkdiag: log timeline .*missing\\.log: 0x80070002 HRESULT_FROM_WIN32\\(ERROR_FILE_NOT_FOUND\\) "
        "\\(.+\\)\r?\n");
    EXPECT_TRUE(std::regex_match(text.output, shape)) << text.output;

    ProgramResult json = RunHkdiag(L"log timeline --json \"" + missing + L"\"", temp.Path() + L"\\");
    EXPECT_EQ(1u, json.exitCode) << json.output;
    EXPECT_TRUE(IsJson(json.output)) << json.output;
    EXPECT_NE(
        std::string::npos,
        json.output.find(
            "\"hr\":\"0x80070002\",\"name\":\"HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)\",\"message\":\""))
        << json.output;
}

TEST(Hkdiag, DemoTraceWritesTracedOperationsAndTheirTimeline) {
    hk::test::RegistryKeyGuard guard(HKEY_CURRENT_USER, kClientKey);
    hk::test::TempDir temp(L"hkdiag");
    ProgramResult r = RunHkdiag(L"demo --trace --json", temp.Path() + L"\\");
    ASSERT_EQ(0u, r.exitCode) << r.output;
    ASSERT_TRUE(IsJson(r.output)) << r.output;
    std::smatch m;
    ASSERT_TRUE(std::regex_search(r.output, m,
                                  std::regex("\"level\":3,\"tracing\":true,.*\"timeline\":\"([^\"]+)\"")))
        << r.output;
    std::string timeline =
        hk::test::ReadFileText(hk::test::Widen(std::regex_replace(m[1].str(), std::regex("\\\\\\\\"), "\\")));
    EXPECT_TRUE(IsJson(timeline)) << timeline;
    EXPECT_NE(std::string::npos, timeline.find("{\"name\":\"hkdiag::TracedOperations\",\"ph\":\"X\","))
        << timeline;
    EXPECT_NE(std::string::npos, timeline.find("\"args\":{\"result\":\"0x80004005\"}")) << timeline;
    EXPECT_EQ(std::string::npos, timeline.find("unclosed")) << timeline;
}

} // namespace

// MAPI found by the tool's library: the stand-in registered before it starts.
struct StandinRegistered {
    StandinRegistered() : guard(HKEY_LOCAL_MACHINE, L"Software\\Clients\\Mail\\Microsoft Outlook") {
        CRegKey key;
        EXPECT_EQ(ERROR_SUCCESS, key.Create(HKEY_LOCAL_MACHINE, L"Software\\Clients\\Mail\\Microsoft Outlook",
                                            KEY_READ | KEY_WRITE | KEY_WOW64_64KEY));
        EXPECT_EQ(ERROR_SUCCESS,
                  key.SetStringValue(L"DLLPathEx", (hk::test::BinDir() + L"\\MapiStandin.dll").c_str()));
    }
    hk::test::RegistryKeyGuard guard;
};

TEST(Hkdiag, PstCreatesAndOpensAStoreAndResolvesItsNamedProperties) {
    StandinRegistered standin;
    hk::test::TempDir temp(L"hkdiag");
    std::wstring pst = temp.File(L"cache.pst");
    ProgramResult created = RunHkdiag(L"pst create \"" + pst + L"\"", temp.Path() + L"\\");
    ASSERT_EQ(0u, created.exitCode) << created.output;
    std::regex shape("PST: .*cache\\.pst\r?\nUnicode: yes\r?\nRoot folder: Top of Information Store\r?\n"
                     "Named properties: 95 resolved, 86 in the product's own set\r?\n"
                     "(  [ \\d]\\d 0x[89A-F][0-9A-F]{7}\r?\n){95}");
    EXPECT_TRUE(std::regex_match(created.output, shape)) << created.output;

    ProgramResult opened = RunHkdiag(L"pst open --json \"" + pst + L"\"", temp.Path() + L"\\");
    ASSERT_EQ(0u, opened.exitCode) << opened.output;
    EXPECT_TRUE(IsJson(opened.output)) << opened.output;
    EXPECT_NE(std::string::npos, opened.output.find("\"unicode\":true,\"rootFolder\":\"Top of Information "
                                                    "Store\",\"tags\":["))
        << opened.output;
    EXPECT_NE(std::string::npos, opened.output.find("],\"ownSetTags\":86}")) << opened.output;

    ProgramResult missing =
        RunHkdiag(L"pst open \"" + temp.File(L"no dir\\x.pst") + L"\"", temp.Path() + L"\\");
    EXPECT_EQ(1u, missing.exitCode) << missing.output;
    EXPECT_NE(std::string::npos, missing.output.find(": 0x80004005 E_FAIL")) << missing.output;
    ProgramResult usage = RunHkdiag(L"pst remove x.pst", temp.Path() + L"\\");
    EXPECT_EQ(2u, usage.exitCode) << usage.output;
    EXPECT_NE(std::string::npos, usage.output.find("Usage: hkdiag pst create|open PATH")) << usage.output;
}
