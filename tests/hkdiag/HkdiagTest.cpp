// hkdiag end to end: the program is started as a user would start it, with
// a level of the test's own and a temporary directory of its own.
// winsock2.h must come before windows.h.
#include <winsock2.h>

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
        {L"demo --server http://x/", "--server, --profile and --module go with --tour"},
        {L"demo --tour --server http://x/", "--tour needs --server, --profile and --module"},
        {L"l10n", "l10n needs an identifier and at most one insert"},
        {L"l10n 1 a b", "l10n needs an identifier and at most one insert"},
        {L"l10n x12", "\"x12\" is not a string identifier"},
        {L"l10n 4294967296", "\"4294967296\" is not a string identifier"},
        {L"l10n 1 --module", "--module needs a file name"},
        {L"l10n 1 --bogus", "unknown option \"--bogus\""},
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

const wchar_t kOutlookKey[] = L"Software\\Clients\\Mail\\Microsoft Outlook";
const wchar_t kProfilesKey[] =
    L"Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows Messaging Subsystem\\Profiles";

// The demo takes the machine's MAPI registration, MAPI's profiles, the log
// level, the store's cache and the protocol handler: the tests' prefix gets
// them back afterwards.
struct DemoKeys {
    hk::test::RegistryKeyGuard outlook{HKEY_LOCAL_MACHINE, kOutlookKey};
    hk::test::RegistryKeyGuard handler{HKEY_CURRENT_USER, L"Software\\Hearthkit\\Standins\\WdsHandler"};
    hk::test::RegistryKeyGuard handlerClass{
        HKEY_LOCAL_MACHINE, L"Software\\Classes\\CLSID\\{5896A718-788B-47C0-965A-7B124E091AB6}"};
    hk::test::RegistryKeyGuard wds{HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows Desktop Search"};
    hk::test::RegistryKeyGuard profiles{HKEY_CURRENT_USER, kProfilesKey};
    hk::test::RegistryKeyGuard client{HKEY_CURRENT_USER, kClientKey};
};

std::wstring RegistryText(HKEY root, const wchar_t* key, const wchar_t* name) {
    CRegKey open;
    std::wstring value;
    if (open.Open(root, key, KEY_READ) == ERROR_SUCCESS) {
        open.QueryStringValue(name, value);
    }
    return value;
}

// Whether anything still listens on the loopback port, asked for up to 5 s.
bool StillListening(int port) {
    WSADATA data;
    ::WSAStartup(MAKEWORD(2, 2), &data);
    bool listening = true;
    for (int i = 0; i < 50 && listening; ++i) {
        SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in addr = {};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<u_short>(port));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        listening = ::connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0;
        ::closesocket(s);
        if (listening) {
            ::Sleep(100);
        }
    }
    ::WSACleanup();
    return listening;
}

TEST(HkdiagDemo, ToursEveryStepThroughTheStandInsAndLeavesNothingRunning) {
    DemoKeys keys;
    ::RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kOutlookKey, L"DLLPathEx");
    hk::test::TempDir temp(L"hkdiag");
    ProgramResult r = RunHkdiag(L"demo", temp.Path() + L"\\");
    ASSERT_EQ(0u, r.exitCode) << r.output;
    std::smatch m;
    ASSERT_TRUE(std::regex_search(r.output, m,
                                  std::regex("archive web server http://127\\.0\\.0\\.1:(\\d+)/archive/")))
        << r.output;
    int port = std::stoi(m[1]);
    EXPECT_FALSE(StillListening(port)) << "the web server stand-in still runs";
    EXPECT_EQ(std::string::npos, r.output.find("[FAILED]")) << r.output;

    // Every step in its place and done.
    const char* const steps[] = {"Configuration with sources",
                                 "Server probe",
                                 "XML post",
                                 "Streamed upload",
                                 "PST with its named properties",
                                 "SHMSP service added, listed and removed",
                                 "Indexing request recorded and replayed",
                                 "Localised message",
                                 "Log file",
                                 "Timeline"};
    size_t at = 0;
    for (const char* step : steps) {
        std::regex line(std::string("\n\\[ok\\]     ") + step);
        ASSERT_TRUE(std::regex_search(r.output.cbegin() + at, r.output.cend(), m, line)) << step << "\n"
                                                                                         << r.output;
        at += m.position(0) + m.length(0);
    }
    const char* const lines[] = {
        "Server probe: http://127\\.0\\.0\\.1:\\d+/archive/clienttest\\.gif answers; Basic authentication; "
        "user agent StowhavenOutlookExt-V\\d+\\.\\d+\\.\\d+\\.\\d+; open type direct\r?\n",
        // The settings message and the marker, read through the library.
        "\n +Store key: SOFTWARE\\\\Talvo\\\\Stowhaven\\\\Client\\\\StowhavenDemoMailbox\r?\n",
        "\n +SHSERVERS = http://127\\.0\\.0\\.1:\\d+/archive/ \\[Desktop Setting\\]\r?\n",
        // The requests recorded under that store key reach the protocol handler.
        "Indexing request recorded and replayed: the protocol handler received 2 call\\(s\\): AddFile "
        ".*\\\\Hoardlocal\\\\StowhavenDemoMailbox\\\\Inbox\\.db; ReIndexAll\r?\n",
        "XML post: search -> 200 OK: <\\?xml version=\"1\\.0\" encoding=\"utf-8\"\\?>  <SearchResults "
        "count=\"2\">",
        "Streamed upload: 16 MiB streamed in \\d+\\.\\d\\d s \\(\\d+ MiB/s\\): 200 OK: <UploadResult "
        "stored=\"1\"/>",
        "Localised message\r?\n +File Demo\\.pst not found\r?\n +\\(from .*\\\\skyrend\\\\skyrend\\.dll\\)",
        "Tour done in \\d+\\.\\d s: 10 steps passed, 0 failed, 0 not in this build\\.\r?\n$",
    };
    for (const char* line : lines) {
        EXPECT_TRUE(std::regex_search(r.output, std::regex(line))) << line << "\n" << r.output;
    }

    // The log holds the tour at LOG_TRACE, and its timeline each step.
    ASSERT_TRUE(std::regex_search(r.output, m,
                                  std::regex("Log file: (.*sh_client_log_\\d{14}\\.txt) \\(\\d+ bytes, "
                                             "level 3\\)")))
        << r.output;
    EXPECT_EQ(0u, m[1].str().rfind(hk::test::Narrow(temp.Path()) + "\\", 0)) << m[1];
    std::string log = hk::test::ReadFileText(hk::test::Widen(m[1]));
    EXPECT_NE(std::string::npos, log.find("]: CInternetSendDataBase::PostLargeDataToServer")) << log;
    std::string timeline = hk::test::ReadFileText(hk::test::Widen(m[1].str() + ".json"));
    EXPECT_TRUE(IsJson(timeline)) << timeline;
    EXPECT_NE(std::string::npos, timeline.find("{\"name\":\"hkdiag::Tour::upload\",\"ph\":\"X\","))
        << timeline;

    // The environment: the stand-in registered, the demo's profile the default.
    EXPECT_EQ(hk::test::BinDir() + L"\\MapiStandin.dll",
              RegistryText(HKEY_LOCAL_MACHINE, kOutlookKey, L"DLLPathEx"));
    EXPECT_EQ(L"Stowhaven Demo", RegistryText(HKEY_CURRENT_USER, kProfilesKey, L"DefaultProfile"));

    ProgramResult json = RunHkdiag(L"--json demo", temp.Path() + L"\\");
    ASSERT_EQ(0u, json.exitCode) << json.output;
    EXPECT_TRUE(IsJson(json.output)) << json.output;
    EXPECT_EQ(0u, json.output.rfind("{\"ok\":true,\"version\":\"", 0)) << json.output;
    EXPECT_NE(std::string::npos,
              json.output.find("{\"step\":\"l10n\",\"state\":\"ok\",\"summary\":\"\",\"output\":"
                               "{\"ok\":true,\"id\":1001,\"text\":\"File Demo.pst not found\""))
        << json.output;
}

TEST(HkdiagDemo, RefusesWhereAnotherMapiIsRegistered) {
    DemoKeys keys;
    const wchar_t outlook[] = L"C:\\Program Files\\Microsoft Office\\root\\Office16\\OLMAPI32.DLL";
    CRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.Create(HKEY_LOCAL_MACHINE, kOutlookKey));
    ASSERT_EQ(ERROR_SUCCESS, key.SetStringValue(L"DLLPathEx", outlook));
    hk::test::TempDir temp(L"hkdiag");
    ProgramResult r = RunHkdiag(L"demo", temp.Path() + L"\\");
    EXPECT_EQ(1u, r.exitCode) << r.output;
    EXPECT_NE(std::string::npos,
              r.output.find("hkdiag: this machine's MAPI is " + hk::test::Narrow(outlook) +
                            "; the demo runs only where no other MAPI is registered: 0x800700B7 "))
        << r.output;
    EXPECT_EQ(outlook, RegistryText(HKEY_LOCAL_MACHINE, kOutlookKey, L"DLLPathEx"));
}

TEST(HkdiagL10n, TheModulesTextWithItsInsertOrTheFallbacks) {
    hk::test::TempDir temp(L"hkdiag");
    std::wstring module = hk::test::BinDir() + L"\\skyrend\\skyrend.dll";
    ProgramResult text = RunHkdiag(L"l10n 1001 a.pst --module \"" + module + L"\"", temp.Path() + L"\\");
    EXPECT_EQ(0u, text.exitCode) << text.output;
    EXPECT_EQ("File a.pst not found\r\n  (from " + hk::test::Narrow(module) + ")\r\n", text.output);

    // A string the module lacks: its generic text.
    ProgramResult generic = RunHkdiag(L"--json l10n 1999 --module \"" + module + L"\"", temp.Path() + L"\\");
    EXPECT_EQ(0u, generic.exitCode) << generic.output;
    EXPECT_TRUE(IsJson(generic.output)) << generic.output;
    EXPECT_EQ(0u,
              generic.output.rfind("{\"ok\":true,\"id\":1999,\"text\":\"The Stowhaven operation could not be "
                                   "completed.\",\"module\":\"",
                                   0))
        << generic.output;

    // No module anywhere: the built-in text with the identifier.
    ProgramResult none = RunHkdiag(L"l10n 4294967295 --module \"" + temp.File(L"none\\skyrend.dll") + L"\"",
                                   temp.Path() + L"\\");
    EXPECT_EQ(0u, none.exitCode) << none.output;
    EXPECT_EQ("The Stowhaven operation could not be completed : [4294967295]\r\n"
              "  (no resource module: the built-in text)\r\n",
              none.output);
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
