// CL10N against the stand-in resource modules. Which module a process loads
// is fixed for its life, so every case runs in a fresh process (logging at
// LOG_DETAIL into a folder of the test's own) that prints what it found; the
// parent checks the answers and the log lines.
#include "Hearthkit.h"
#include "LoggedRun.h"
#include "Scenario.h"
#include "TestEnv.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <cstdio>
#include <map>
#include <thread>
#include <vector>

namespace {

using hk::test::Narrow;
using hk::test::TempDir;

const char kFullGeneric[] = "The Stowhaven operation could not be completed.";

std::wstring FullModule() {
    return hk::test::BinDir() + L"\\skyrend\\skyrend.dll";
}
std::wstring BareModule() {
    return hk::test::BinDir() + L"\\skyrend_bare\\skyrend.dll";
}

void Print(const char* key, const std::wstring& value) {
    std::printf("%s=%s\n", key, Narrow(value).c_str());
}

// The bytes of a stream that held "AB" before GetBinaryResource wrote to it.
std::string ResourceBytes(const CL10N& l10n, UINT id, const wchar_t* type) {
    CComPtr<IStream> stream;
    if (FAILED(::CreateStreamOnHGlobal(nullptr, TRUE, &stream))) {
        return "(no stream)";
    }
    ULONG written = 0;
    stream->Write("AB", 2, &written);
    l10n.GetBinaryResource(id, type, stream);
    STATSTG stat = {};
    stream->Stat(&stat, STATFLAG_NONAME);
    std::vector<BYTE> bytes(static_cast<size_t>(stat.cbSize.QuadPart));
    LARGE_INTEGER zero = {};
    stream->Seek(zero, STREAM_SEEK_SET, nullptr);
    ULONG read = 0;
    stream->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &read);
    std::string hex;
    char two[3];
    for (BYTE b : bytes) {
        std::snprintf(two, sizeof two, "%02x", b);
        hex += two;
    }
    return hex;
}

std::wstring LoadedModulePath() {
    HMODULE module = ::GetModuleHandleW(L"skyrend.dll");
    if (module == nullptr) {
        return L"none";
    }
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(module, path, MAX_PATH);
    return path;
}

void PrintLookups(const CL10N& l10n) {
    Print("init", l10n.HasBeenInitialised() ? L"1" : L"0");
    Print("module", LoadedModulePath());
    Print("m1002", l10n.GetTranslatedMsg(1002));
    Print("m1001", l10n.GetTranslatedMsg(1001, L"a.pst"));
    Print("m1003", l10n.GetTranslatedMsg(1003, L"cache.db"));
    for (UINT id : {1006, 1007, 1008, 1009}) {
        Print(("m" + std::to_string(id)).c_str(), l10n.GetTranslatedMsg(id, L"a.pst"));
    }
    Print("m1002insert", l10n.GetTranslatedMsg(1002, L"ignored"));
    Print("m1234", l10n.GetTranslatedMsg(1234));
    Print("m1234insert", l10n.GetTranslatedMsg(1234, L"ignored"));
    Print("mhigh", l10n.GetTranslatedMsg(0x10000 + 1002));
    Print("m1005len", std::to_wstring(l10n.GetTranslatedMsg(1005).size()));
    std::printf("blob=%s\n", ResourceBytes(l10n, 2001, L"HKBLOB").c_str());
    std::printf("rcdata=%s\n", ResourceBytes(l10n, 2002, MAKEINTRESOURCEW(10)).c_str());
    std::printf("noblob=%s\n", ResourceBytes(l10n, 2999, L"HKBLOB").c_str());
    std::printf("nulltype=%s\n", ResourceBytes(l10n, 2001, nullptr).c_str());
    l10n.GetBinaryResource(2001, L"HKBLOB", nullptr);
}

// args: [mode, path, path2]. "ctor": the constructor initialises; "threads":
// four threads initialise one object at once; "late": lookups first, then
// Initialise; "again": Initialise(path), then Initialise(path2).
HK_SCENARIO(L10nLookups) {
    ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    const std::wstring& mode = args.at(0);
    const wchar_t* path = args.size() > 1 && args[1] != L"(null)" ? args[1].c_str() : nullptr;
    if (mode == L"ctor") {
        CL10N l10n(path);
        PrintLookups(l10n);
    } else if (mode == L"threads") {
        CL10N l10n;
        std::vector<std::thread> threads;
        for (int i = 0; i < 4; ++i) {
            threads.emplace_back([&] {
                l10n.Initialise(path);
                l10n.GetTranslatedMsg(1002);
            });
        }
        for (auto& t : threads) {
            t.join();
        }
        PrintLookups(l10n);
    } else if (mode == L"late") {
        CL10N l10n;
        PrintLookups(l10n);
        l10n.Initialise(path);
        Print("after", l10n.GetTranslatedMsg(1002));
    } else if (mode == L"again") {
        CL10N l10n(path);
        l10n.Initialise(args.at(2).c_str());
        PrintLookups(l10n);
    }
    std::fflush(stdout);
    return 0;
}

struct LookupRun : hk::test::LoggedRun {
    const std::string& operator[](const char* key) { return values[key]; }
};

// Runs the scenario logging at LOG_DETAIL; extraPath goes in front of PATH.
LookupRun RunLookups(const std::vector<std::wstring>& args, const std::wstring& extraPath = L"") {
    std::vector<std::wstring> env;
    if (!extraPath.empty()) {
        std::vector<wchar_t> path(32767);
        ::GetEnvironmentVariableW(L"PATH", path.data(), 32767);
        env.push_back(L"PATH=" + extraPath + L";" + path.data());
    }
    LookupRun run;
    static_cast<hk::test::LoggedRun&>(run) =
        hk::test::RunLoggedScenario("L10nLookups", args, LOG_DETAIL, env);
    EXPECT_FALSE(run.result.timedOut);
    EXPECT_EQ(0u, run.result.exitCode) << run.result.output;
    return run;
}

size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++n;
    }
    return n;
}

std::string Loaded(const std::wstring& path) {
    return "Successfully loaded resource module '" + Narrow(path) + "'";
}
std::string NotLoaded(const std::wstring& path) {
    return "Failed to load resource module '" + Narrow(path) + "'";
}

// "AB" (what the stream held), "Stowhaven\0blob", 0x0201, 0x0000, "end".
const char kBlob[] = "4142"
                     "53746f77686176656e00626c6f62"
                     "01020000656e64";

TEST(L10nModule, LoadedFromItsPathAnswersItsStringsAndResources) {
    LookupRun run = RunLookups({L"ctor", FullModule()});
    EXPECT_EQ("1", run["init"]);
    EXPECT_EQ(Narrow(FullModule()), run["module"]);
    EXPECT_EQ("Your archive is not available while you are offline.", run["m1002"]);
    EXPECT_EQ("File a.pst not found", run["m1001"]);
    EXPECT_EQ("Rebuild of cache.db is 100% complete", run["m1003"]);
    // Whichever way the translation writes the string directive; another
    // directive is not given the insert, and is shown as it stands.
    EXPECT_EQ("File a.pst not found", run["m1006"]);
    EXPECT_EQ("File a.pst not found", run["m1007"]);
    EXPECT_EQ("[a.pst   ] not found", run["m1008"]);
    EXPECT_EQ("File %d not found", run["m1009"]);
    EXPECT_EQ(1u, Count(run.log, "String 'File %d not found' (ID 1009) cannot take an insert.")) << run.log;
    EXPECT_EQ("Your archive is not available while you are offline.", run["m1002insert"]);
    // A missing identifier gets the module's generic text; so does one past
    // 16 bits, which must not be taken for its low word.
    EXPECT_EQ(kFullGeneric, run["m1234"]); // looked up twice: with and without insert
    EXPECT_EQ(kFullGeneric, run["mhigh"]);
    EXPECT_EQ("511", run["m1005len"]);
    EXPECT_EQ(kBlob, run["blob"]);
    EXPECT_EQ("41424849", run["rcdata"]);
    EXPECT_EQ("4142", run["noblob"]);
    EXPECT_EQ("4142", run["nulltype"]);

    EXPECT_EQ(1u, Count(run.log, Loaded(FullModule()))) << run.log;
    EXPECT_EQ(2u, Count(run.log, "String ID 1234 could not be loaded from localised resources.")) << run.log;
    EXPECT_EQ(0u, Count(run.log, "IDS_ERR_UNSPECIFIED")) << run.log;
    EXPECT_EQ(0u, Count(run.log, "as localised resources are not available")) << run.log;
}

TEST(L10nModule, APathThatDoesNotLoadFallsBackToSkyrendInItsDirectory) {
    TempDir dir(L"l10n");
    ASSERT_TRUE(::CopyFileW(FullModule().c_str(), dir.File(L"skyrend.dll").c_str(), FALSE));
    const std::wstring missing = dir.File(L"skyrend_fr.dll");
    LookupRun run = RunLookups({L"ctor", missing});
    EXPECT_EQ(Narrow(dir.File(L"skyrend.dll")), run["module"]);
    EXPECT_EQ("File a.pst not found", run["m1001"]);
    const size_t failed = run.log.find(NotLoaded(missing));
    const size_t loaded = run.log.find(Loaded(dir.File(L"skyrend.dll")));
    EXPECT_NE(std::string::npos, failed) << run.log;
    EXPECT_NE(std::string::npos, loaded) << run.log;
    EXPECT_LT(failed, loaded);
    EXPECT_EQ(2u, Count(run.log, "resource module")) << run.log;
}

TEST(L10nModule, APathWithoutDirectoryOrNoPathUsesTheStandardSearch) {
    const std::wstring searchDir = hk::test::BinDir() + L"\\skyrend";
    LookupRun bare = RunLookups({L"ctor", L"skyrend_fr.dll"}, searchDir);
    EXPECT_EQ(Narrow(FullModule()), bare["module"]);
    EXPECT_NE(std::string::npos, bare.log.find(NotLoaded(L"skyrend_fr.dll"))) << bare.log;
    EXPECT_NE(std::string::npos, bare.log.find(Loaded(L"skyrend.dll"))) << bare.log;
    EXPECT_EQ(2u, Count(bare.log, "resource module")) << bare.log;

    for (const wchar_t* none : {L"(null)", L""}) {
        LookupRun run = RunLookups({L"ctor", none}, searchDir);
        EXPECT_EQ(Narrow(FullModule()), run["module"]);
        EXPECT_EQ(1u, Count(run.log, "No DLL specified.")) << run.log;
        EXPECT_EQ(1u, Count(run.log, "resource module")) << run.log;
    }
}

// Four threads at once, or a second Initialise: one module is loaded.
TEST(L10nModule, InitialisesOnce) {
    LookupRun run = RunLookups({L"threads", FullModule()});
    EXPECT_EQ(Narrow(FullModule()), run["module"]);
    EXPECT_EQ(1u, Count(run.log, "resource module")) << run.log;
    run = RunLookups({L"again", BareModule(), FullModule()});
    EXPECT_EQ(Narrow(BareModule()), run["module"]);
    EXPECT_EQ("Datei a.pst nicht gefunden", run["m1001"]);
    EXPECT_EQ(1u, Count(run.log, "resource module")) << run.log;
}

TEST(L10nFallback, WithoutAnyModuleTheBuiltInTextCarriesTheIdentifier) {
    TempDir empty(L"l10nnone");
    const std::wstring missing = empty.File(L"skyrend.dll");
    LookupRun run = RunLookups({L"ctor", missing});
    EXPECT_EQ("1", run["init"]);
    EXPECT_EQ("none", run["module"]);
    EXPECT_EQ("The Stowhaven operation could not be completed : [1234]", run["m1234"]);
    EXPECT_EQ("The Stowhaven operation could not be completed : [1234]", run["m1234insert"]);
    EXPECT_EQ("The Stowhaven operation could not be completed : [1001]", run["m1001"]);
    EXPECT_EQ("4142", run["blob"]);
    // The path, its directory's skyrend.dll (the same file here), the search.
    EXPECT_EQ(2u, Count(run.log, NotLoaded(missing))) << run.log;
    EXPECT_EQ(1u, Count(run.log, NotLoaded(L"skyrend.dll"))) << run.log;
    EXPECT_EQ(2u,
              Count(run.log, "String ID 1234 could not be loaded, as localised resources are not available."))
        << run.log;
    EXPECT_EQ(0u, Count(run.log, "from localised resources")) << run.log;
}

TEST(L10nFallback, BeforeInitialiseTheBuiltInTextIsUsedAndNothingIsWritten) {
    LookupRun run = RunLookups({L"late", FullModule()});
    EXPECT_EQ("0", run["init"]);
    EXPECT_EQ("The Stowhaven operation could not be completed : [1002]", run["m1002"]);
    EXPECT_EQ("4142", run["blob"]);
    EXPECT_EQ("Your archive is not available while you are offline.", run["after"]);
}

TEST(L10nFallback, AModuleWithoutTheGenericTextFallsBackToTheBuiltInText) {
    LookupRun run = RunLookups({L"ctor", BareModule()});
    EXPECT_EQ("Datei a.pst nicht gefunden", run["m1001"]);
    EXPECT_EQ("The Stowhaven operation could not be completed : [1234]", run["m1234"]);
    EXPECT_EQ(2u, Count(run.log, "String ID 1234 could not be loaded from localised resources.")) << run.log;
    EXPECT_NE(std::string::npos,
              run.log.find("String 'IDS_ERR_UNSPECIFIED' could not be loaded from localised resources."))
        << run.log;
    EXPECT_EQ(2u,
              Count(run.log, "String ID 1234 could not be loaded, as localised resources are not available."))
        << run.log;
}

} // namespace
