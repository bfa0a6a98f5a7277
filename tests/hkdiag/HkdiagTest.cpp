// hkdiag end to end: the program is started as a user would start it, with
// a level of the test's own and a temporary directory of its own.
#include "Hearthkit.h"
#include "JsonCheck.h"
#include "RunHkdiag.h"
#include "MailboxTestEnv.h"
#include "TestEnv.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <regex>
#include <string>
#include <vector>

namespace {

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
        {L"wds", "wds needs queue or replay"},
        {L"wds queue --store", "--store needs a store key name"},
        {L"wds queue replay", "unknown wds command \"replay\""},
        {L"hoardview frob", "unknown hoardview command \"frob\""},
        {L"hoardview remove", "hoardview remove needs an MDC path"},
        {L"hoardview cleanup x.db", "hoardview cleanup takes no MDC path"},
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

// The queue of a store named on the command line, shown and then replayed
// against the protocol handler stand-in registered in the prefix.
TEST(Hkdiag, WdsShowsAndReplaysTheIndexingQueue) {
    const std::wstring store = std::wstring(kClientKey) + L"\\TESTSTORE";
    const wchar_t wdsKey[] = L"Software\\Microsoft\\Windows Desktop Search";
    const wchar_t controlKey[] = L"Software\\Hearthkit\\Standins\\WdsHandler";
    hk::test::RegistryKeyGuard client(HKEY_CURRENT_USER, kClientKey), wds(HKEY_LOCAL_MACHINE, wdsKey),
        control(HKEY_CURRENT_USER, controlKey),
        handlerClass(HKEY_LOCAL_MACHINE, L"Software\\Classes\\CLSID\\{5896A718-788B-47C0-965A-7B124E091AB6}");
    hk::test::TempDir temp(L"hkdiag"), cache(L"hkdiag-cache");
    CRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.Create(HKEY_CURRENT_USER, store.c_str()));
    ASSERT_EQ(ERROR_SUCCESS, key.SetStringValue(L"HLRootDirectory", cache.Path().c_str()));
    ASSERT_EQ(ERROR_SUCCESS, key.Create(HKEY_LOCAL_MACHINE, wdsKey));
    ASSERT_EQ(ERROR_SUCCESS, key.SetStringValue(L"Version", L"4.0.6001.16503"));
    ASSERT_EQ(ERROR_SUCCESS, key.Create(HKEY_CURRENT_USER, controlKey));
    ASSERT_EQ(ERROR_SUCCESS, key.SetStringValue(L"CallLog", temp.File(L"calls.txt").c_str()));
    for (const wchar_t* request : {L"\\WDS Index Data\\Add\\Hoardlocal", L"\\WDS Index Data\\Delete\\b.db"}) {
        ASSERT_EQ(ERROR_SUCCESS, key.Create(HKEY_CURRENT_USER, (store + request).c_str()));
    }
    key.Close();
    hk::unique_hmodule handler(::LoadLibraryW((hk::test::BinDir() + L"\\WdsHandlerStandin.dll").c_str()));
    ASSERT_TRUE(handler);
    auto registerServer = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
        reinterpret_cast<void*>(::GetProcAddress(handler.get(), "DllRegisterServer")));
    ASSERT_TRUE(registerServer != nullptr);
    ASSERT_EQ(S_OK, registerServer());

    ProgramResult queue = RunHkdiag(L"wds queue --store TESTSTORE --json", temp.Path() + L"\\");
    ASSERT_EQ(0u, queue.exitCode) << queue.output;
    EXPECT_EQ("{\"ok\":true,\"storeKey\":\"SOFTWARE\\\\Talvo\\\\Stowhaven\\\\Client\\\\TESTSTORE\","
              "\"wdsVersion\":\"4.0\",\"requests\":[{\"operation\":\"Delete\",\"name\":\"b.db\"},"
              "{\"operation\":\"Add\",\"name\":\"Hoardlocal\"}]}",
              std::regex_replace(queue.output, std::regex("\r?\n$"), ""));

    ProgramResult replay = RunHkdiag(L"wds replay --store TESTSTORE", temp.Path() + L"\\");
    ASSERT_EQ(0u, replay.exitCode) << replay.output;
    EXPECT_NE(std::string::npos, replay.output.find("Replayed 2 queued requests; 0 left")) << replay.output;
    EXPECT_EQ("DeleteFile " + hk::test::Narrow(cache.Path()) + "\\TESTSTORE\\b.db\r\nAddAll\r\n",
              hk::test::ReadFileText(temp.File(L"calls.txt")));

    ProgramResult empty = RunHkdiag(L"wds queue --store TESTSTORE", temp.Path() + L"\\");
    EXPECT_EQ(0u, empty.exitCode) << empty.output;
    EXPECT_NE(std::string::npos, empty.output.find("Queued requests: 0")) << empty.output;
}

// An empty default profile, made in a process whose Hearthkit.dll bound the
// stand-in.
HK_SCENARIO(HkdiagEmptyProfile) {
    CComPtr<IProfAdmin> admin;
    if (FAILED(MAPIAdminProfiles(0, &admin)))
        return 1;
    admin->DeleteProfile(const_cast<char*>("HkdiagProfile"), 0);
    return SUCCEEDED(admin->CreateProfile(const_cast<char*>("HkdiagProfile"), nullptr, 0, 0)) &&
                   SUCCEEDED(admin->SetDefaultProfile(const_cast<char*>("HkdiagProfile"), 0))
               ? 0
               : 1;
}

// hoardview on the MAPI stand-in, which hkdiag's own loader finds.
TEST(Hkdiag, HoardviewAddsListsRemovesAndCleansUp) {
    mailboxtest::StandinHost host;
    auto prepared = hk::test::RunScenario("HkdiagEmptyProfile", {}, 60000);
    ASSERT_EQ(0u, prepared.exitCode) << prepared.output;
    hk::test::TempDir temp(L"hkdiag");
    ASSERT_TRUE(::CreateDirectoryW(temp.File(L"STORE").c_str(), nullptr));
    const std::wstring mdc = temp.File(L"STORE\\m1.db");
    std::wstring upper = mdc;
    ::CharUpperW(&upper[0]);
    const std::wstring tmp = temp.Path() + L"\\";
    auto run = [&](const std::wstring& args) {
        ProgramResult result = RunHkdiag(args, tmp);
        result.output.erase(std::remove(result.output.begin(), result.output.end(), '\r'),
                            result.output.end());
        return result;
    };

    ProgramResult r = run(L"hoardview add \"" + mdc + L"\" --name \"Archive one\"");
    EXPECT_EQ(0u, r.exitCode) << r.output;
    EXPECT_EQ(hk::test::Narrow(mdc) + ": added\n", r.output);
    r = run(L"hoardview add \"" + upper + L"\" --profile HkdiagProfile");
    EXPECT_EQ(hk::test::Narrow(upper) + ": already configured, nothing changed\n", r.output);

    r = run(L"--json hoardview");
    ASSERT_EQ(0u, r.exitCode) << r.output;
    EXPECT_EQ(std::string::npos, hk::test::JsonCheck::FirstError(r.output)) << r.output;
    std::smatch m;
    ASSERT_TRUE(std::regex_search(r.output, m,
                                  std::regex("\"count\":1,\"services\":\\[\\{\"uid\":\"[0-9A-F]{32}\","
                                             "\"displayName\":\"Archive one\",\"mdcPath\":\"(.*)\","
                                             "\"mdcKey\":\"m1\",\"record\":\"none\"\\}\\]")))
        << r.output;
    EXPECT_EQ(hk::test::Narrow(mdc), std::regex_replace(m[1].str(), std::regex("\\\\\\\\"), "\\"));

    r = run(L"hoardview remove \"" + upper + L"\"");
    EXPECT_EQ(hk::test::Narrow(upper) + ": removed\n", r.output);
    run(L"hoardview add \"" + mdc + L"\"");
    r = run(L"hoardview cleanup");
    EXPECT_EQ(0u, r.exitCode) << r.output;
    EXPECT_EQ("HkdiagProfile: services 1 -> 0, store providers 1 -> 0\n", r.output);
    r = run(L"hoardview list");
    EXPECT_NE(std::string::npos, r.output.find("SHMSP services: 0\n")) << r.output;

    r = run(L"hoardview list --profile Nobody");
    EXPECT_EQ(1u, r.exitCode);
    EXPECT_NE(std::string::npos, r.output.find("hkdiag: MAPILogonEx: 0x80040111 MAPI_E_LOGON_FAILED"))
        << r.output;
}

} // namespace

HK_SCENARIO(HkdiagMailboxWithSettings) {
    using namespace mailboxtest;
    MB_CHECK_HR(S_OK, CreateProfile(false, false));
    CComPtr<IMsgStore> primary = OpenStore(kPrimary);
    PutSettings(primary, L"FromMailbox=desk\r\nShared=desk\r\n");
    PutMarker(primary, L"DIAGSTORE");
    return g_failures;
}

TEST(Hkdiag, ConfigShowsEachSettingsLayerTheStoreKeyAndBothCaches) {
    mailboxtest::StandinHost host;
    host.keys.SetDword(HKEY_LOCAL_MACHINE, kClientKey, L"Machine", 7);
    host.keys.SetString(HKEY_CURRENT_USER, kClientKey, L"Shared", L"user");
    hk::test::TempDir temp(L"hkdiag-config");
    std::wstring tempPath = temp.Path() + L"\\";
    auto prepared = hk::test::RunScenario("HkdiagMailboxWithSettings", {}, 60000,
                                          {L"TMP=" + tempPath, L"TEMP=" + tempPath});
    ASSERT_EQ(0u, prepared.exitCode) << prepared.output;

    ProgramResult r = RunHkdiag(L"config Machine Shared FromMailbox Absent", tempPath);
    ASSERT_EQ(0u, r.exitCode) << r.output;
    std::smatch m;
    std::regex shape("Store key: SOFTWARE\\\\Talvo\\\\Stowhaven\\\\Client\\\\DIAGSTORE\r?\n"
                     "Settings:\r?\n"
                     "  Machine = 7 \\[HKLM Client Root\\]\r?\n"
                     "  Shared = user \\[HKCU Client Root\\]\r?\n"
                     "  FromMailbox = desk \\[Desktop Setting\\]\r?\n"
                     "  Absent =  \\[default\\]\r?\n"
                     "Desktop settings \\(modified \\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ\\):\r?\n"
                     "  ;MAILBOX; = jdoe\r?\n"
                     "  ;SERVER; = exch01.example\r?\n"
                     "  FROMMAILBOX = desk\r?\n"
                     "  MAILBOXTYPE = PrimaryUser\r?\n"
                     "  SHARED = desk\r?\n"
                     "Updated desktop settings \\(modified \\d{4}-[^)]*\\):\r?\n"
                     "  \\(empty\\)\r?\n");
    EXPECT_TRUE(std::regex_match(r.output, m, shape)) << r.output;

    // Every name of the three keys and the settings when none is given.
    r = RunHkdiag(L"config --json", tempPath);
    ASSERT_EQ(0u, r.exitCode) << r.output;
    for (const char* part :
         {"\"storeKey\":\"SOFTWARE\\\\Talvo\\\\Stowhaven\\\\Client\\\\DIAGSTORE\"",
          "{\"name\":\"Machine\",\"value\":\"7\",\"source\":\"HKLM Client Root\"}",
          "{\"name\":\"MAILBOXTYPE\",\"value\":\"PrimaryUser\",\"source\":\"Desktop Setting\"}",
          "\"loadResult\":\"0x00000000\"", "\"updatedDesktopSettings\":{\"modified\":"}) {
        EXPECT_NE(std::string::npos, r.output.find(part)) << part << "\n" << r.output;
    }
    EXPECT_EQ(std::string::npos, r.output.find("\"name\":\";SERVER;\"")) << r.output;

    r = RunHkdiag(L"config --help", tempPath);
    EXPECT_EQ(0u, r.exitCode);
    EXPECT_NE(std::string::npos, r.output.find("Usage: hkdiag config [NAME ...] [--json]")) << r.output;
    r = RunHkdiag(L"config --bogus", tempPath);
    EXPECT_EQ(2u, r.exitCode) << r.output;
}

TEST(Hkdiag, PstCreatesAndOpensAStoreAndResolvesItsNamedProperties) {
    mailboxtest::StandinHost host;
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
