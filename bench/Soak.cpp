// The soak: eight threads of mixed work for a bounded time in one process of
// a component, as Outlook would host it, and a second process that replays
// the indexing queue beside it. At the end: no crash, handles and private
// memory flat after the warm-up, every log line whole and written once,
// every indexing request performed exactly once, every lookup a value or a
// clear failure.
//
//   HK_SOAK_SECONDS  how long the work runs (default 20; an hour: 3600)
//   HK_SOAK_ONLY     a comma list of the kinds to run (log, config, churn,
//                    http, index, sync), to narrow a failure down
//
// The work runs in a process of its own (the log level is read once per
// process) on the MAPI stand-in, against the web server stand-in and the
// desktop-search protocol handler stand-in.
#include "ClientKeys.h"
#include "HkHandle.h"
#include "LoggedRun.h"
#include "MapiStandin.h"
#include "Scenario.h"
#include "WebServer.h"
#include "http/InternetHandle.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <thread>

namespace {

using namespace hk::test;

const wchar_t kWdsKey[] = L"Software\\Microsoft\\Windows Desktop Search";
const wchar_t kHandlerControlKey[] = L"Software\\Hearthkit\\Standins\\WdsHandler";
const wchar_t kHandlerClassKey[] = L"Software\\Classes\\CLSID\\{5896A718-788B-47C0-965A-7B124E091AB6}";
const DWORD kSoakValue = 42;
// A log record's fixed tail: a torn or interleaved line loses it.
const char kPayload[] = "0123456789abcdefghijklmnopqrstuvwxyz0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";

std::wstring Env(const wchar_t* name, const wchar_t* fallback) {
    wchar_t value[256];
    DWORD n = ::GetEnvironmentVariableW(name, value, 256);
    return n > 0 && n < 256 ? std::wstring(value) : std::wstring(fallback);
}

bool Runs(const std::wstring& only, const wchar_t* kind) {
    if (only.empty()) {
        return true;
    }
    std::wstringstream list(only);
    for (std::wstring item; std::getline(list, item, L',');) {
        if (item == kind) {
            return true;
        }
    }
    return false;
}

// Wine answers GetProcessHandleCount with 0: the live handles are counted by
// asking for the flags of every possible handle value.
DWORD CountHandles() {
    DWORD count = 0, flags = 0;
    for (ULONG_PTR value = 4; value < 0x20000; value += 4) {
        if (::GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) {
            ++count;
        }
    }
    return count;
}

// Committed private memory, walked region by region (Wine's process memory
// counters stay at 0).
SIZE_T PrivateBytes() {
    SIZE_T total = 0;
    MEMORY_BASIC_INFORMATION info;
    for (const char* p = nullptr; ::VirtualQuery(p, &info, sizeof(info)) == sizeof(info);
         p = static_cast<const char*>(info.BaseAddress) + info.RegionSize) {
        if (info.State == MEM_COMMIT && info.Type == MEM_PRIVATE) {
            total += info.RegionSize;
        }
    }
    return total;
}

class SoakCoordinator : public SyncCoordinator {
public:
    using SyncCoordinator::CoordinationStateOK;
    using SyncCoordinator::SyncCoordinator;

protected:
    bool RequestSyncTurn(DWORD) override { return true; }
    void EndSyncTurn() override {}
};

// What the work counted; printed as key=value lines for the parent.
struct Tally {
    std::atomic<long> logRecords{0}, lookups{0}, lookupFailures{0}, wrongValues{0}, churns{0};
    std::atomic<long> exchanges{0}, wrongReplies{0}, recorded{0}, replays{0}, replayerFailures{0};
    std::atomic<long> locks{0}, lockFailures{0};
};

void LogWork(int thread, const std::atomic<bool>& stop, Tally& tally) {
    CDesktopLog log("Soak::Log");
    std::string format = "soak record %d of thread %d ";
    format += kPayload;
    format += '\n';
    // Bursts from two threads at once, paced so that an hour's log stays
    // within a few hundred megabytes.
    for (int n = 0; !stop; ++n) {
        log.LogInt(LOG_TRACE, format.c_str(), n, thread);
        ++tally.logRecords;
        if (n % 16 == 15) {
            ::Sleep(10);
        }
    }
}

void LookupWork(const std::atomic<bool>& stop, Tally& tally) {
    while (!stop) {
        DWORD value = kUnset;
        HRESULT hr = HearthkitConfig::GetConfigValue(L"SoakValue", &value, 5, CONFIG_VALUE_STORE, 1);
        // A lookup that lost its store key to a close-down answers the
        // default with the failure; any other answer is the registry's.
        if (value != (FAILED(hr) ? 5 : kSoakValue)) {
            ++tally.wrongValues;
        }
        CStringW text;
        HRESULT textHr =
            HearthkitConfig::GetConfigStringValue(L"SoakText", text, L"none", CONFIG_VALUE_CLIENT, 1);
        if (text != L"seven" && text != L"none") {
            ++tally.wrongValues;
        }
        tally.lookupFailures += FAILED(hr) + FAILED(textHr);
        tally.lookups += 2;
    }
}

void ChurnWork(const std::atomic<bool>& stop, Tally& tally) {
    while (!stop) {
        HearthkitConfig::ReleaseStatics();
        HearthkitConfig::CloseDown();
        HearthkitConfig::LogonToMAPI();
        ++tally.churns;
        ::Sleep(2);
    }
}

// Replies whole, cut off and refused, each through a fresh engine as a
// component makes one per exchange.
void HttpWork(int port, const std::atomic<bool>& stop, Tally& tally) {
    hk::unique_hinternet session(::InternetOpenW(L"hk-soak", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
    hk::unique_hinternet live(::InternetConnectA(session.get(), "127.0.0.1", static_cast<INTERNET_PORT>(port),
                                                 nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0));
    hk::unique_hinternet refused(
        ::InternetConnectA(session.get(), "127.0.0.1", 1, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0));
    for (int n = 0; !stop; ++n) {
        CInternetSendDataBase engine(n % 4 == 3 ? refused.get() : live.get(), INTERNET_SCHEME_HTTP, "/",
                                     false);
        ResponseDetails reply;
        static const char* const paths[] = {"ok", "big", "cut", "ok"};
        HRESULT hr = engine.GetDataFromServer(paths[n % 4], &reply);
        bool right = true;
        switch (n % 4) {
        case 0:
            right = hr == S_OK && reply.dwBodyLength == 7 && std::strcmp(reply.pBody, "<ok/>\n") == 0;
            break;
        case 1:
            right = hr == S_OK && reply.dwBodyLength == 256 * 1024 + 1;
            break;
        case 2: // cut inside the body: what arrived, or a failure
            right = hr == S_OK || FAILED(hr);
            break;
        case 3:
            right = FAILED(hr);
            break;
        }
        tally.wrongReplies += !right;
        ++tally.exchanges;
    }
}

// Requests recorded under names of their own, so the handler's calls tell
// whether each was performed once.
void IndexWork(const std::wstring& cache, const std::atomic<bool>& stop, Tally& tally) {
    for (int n = 0; !stop; ++n) {
        wchar_t name[32];
        std::swprintf(name, 32, L"soak-%d.db", n);
        WriteFileBytes(cache + L"\\" + name, "x", 1);
        if (WDSUtil::PersistWDSIndexingInfo(name, WDSIndexAdd)) {
            ++tally.recorded;
        }
        if (n % 8 == 7) {
            WDSUtil::UpdateWDSIndex();
            ++tally.replays;
        }
        ::Sleep(5);
    }
}

void ReplayerWork(const std::atomic<bool>& stop, Tally& tally) {
    while (!stop) {
        ScenarioResult r = RunScenario("SoakReplayer", {}, 60000);
        tally.replayerFailures += r.exitCode != 0;
    }
}

void SyncWork(const std::atomic<bool>& stop, Tally& tally) {
    SoakCoordinator coordinator(L"Local\\HkSoak" + std::to_wstring(::GetCurrentProcessId()));
    while (!stop) {
        try {
            auto token = coordinator.GetSHMSPMDCSharedLockToken();
            ++tally.locks;
        } catch (const std::exception&) {
            ++tally.lockFailures;
        }
        tally.lockFailures += !coordinator.CoordinationStateOK(false);
    }
}

} // namespace

// One replay from a second process, as another component would run it.
HK_SCENARIO(SoakReplayer) {
    ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    Must(HearthkitConfig::LogonToMAPI(), "logon");
    WDSUtil::UpdateWDSIndex();
    HearthkitConfig::ReleaseStatics();
    ::CoUninitialize();
    return 0;
}

// args: seconds, the kinds to run, the web server's port, the cache root.
HK_SCENARIO(SoakWork) {
    const int seconds = std::stoi(args.at(0));
    const std::wstring only = args.at(1) == L"all" ? L"" : args.at(1);
    const int port = std::stoi(args.at(2));
    ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);

    // The mailbox: the settings message, and the store key the lookups and
    // the indexing queue live under.
    Must(CreateMailboxProfile(false, false), "mailbox profile");
    PutSettings(OpenMailboxStore(kPrimaryProvider), L"SOAKTEXT=seven\r\n");
    Must(HearthkitConfig::LogonToMAPI(), "logon");
    const std::wstring storeKey =
        std::wstring(kClientKey) + L"\\" + HearthkitConfig::GetStoreKey().GetString();
    const std::wstring cache = args.at(3) + L"\\" + HearthkitConfig::GetStoreKey().GetString();
    ::CreateDirectoryW(cache.c_str(), nullptr);
    ::RegSetKeyValueW(HKEY_CURRENT_USER, storeKey.c_str(), L"HLRootDirectory", REG_SZ, args.at(3).c_str(),
                      static_cast<DWORD>((args.at(3).size() + 1) * sizeof(wchar_t)));
    ::RegSetKeyValueW(HKEY_CURRENT_USER, storeKey.c_str(), L"SoakValue", REG_DWORD, &kSoakValue,
                      sizeof(kSoakValue));

    Tally tally;
    std::atomic<bool> stop{false}, replayerStop{false};
    std::vector<std::thread> threads;
    auto start = [&](const wchar_t* kind, std::function<void()> work) {
        if (Runs(only, kind)) {
            threads.emplace_back([work] {
                ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
                work();
                ::CoUninitialize();
            });
        }
    };
    start(L"log", [&] { LogWork(0, stop, tally); });
    start(L"log", [&] { LogWork(1, stop, tally); });
    start(L"config", [&] { LookupWork(stop, tally); });
    start(L"config", [&] { LookupWork(stop, tally); });
    start(L"churn", [&] { ChurnWork(stop, tally); });
    start(L"http", [&] { HttpWork(port, stop, tally); });
    start(L"index", [&] { IndexWork(cache, stop, tally); });
    start(L"sync", [&] { SyncWork(stop, tally); });
    std::thread replayer;
    if (Runs(only, L"index")) {
        replayer = std::thread([&] { ReplayerWork(replayerStop, tally); });
    }

    // Handles and memory once the caches, the log file and WinINet's pools
    // have filled, and again at the end.
    const int warmup = std::max(3, seconds / 4);
    ::Sleep(warmup * 1000);
    const DWORD handlesWarm = CountHandles();
    const SIZE_T bytesWarm = PrivateBytes();
    ::Sleep((seconds - warmup) * 1000);
    const DWORD handlesEnd = CountHandles();
    const SIZE_T bytesEnd = PrivateBytes();
    stop = true;
    for (std::thread& t : threads) {
        t.join();
    }
    replayerStop = true;
    if (replayer.joinable()) {
        replayer.join();
    }
    WDSUtil::UpdateWDSIndex(); // what the last round recorded
    HearthkitConfig::ReleaseStatics();
    HearthkitConfig::CloseDown();
    ::CoUninitialize();

    std::printf("handlesWarm=%lu\nhandlesEnd=%lu\nkbWarm=%lu\nkbEnd=%lu\n", handlesWarm, handlesEnd,
                static_cast<unsigned long>(bytesWarm / 1024), static_cast<unsigned long>(bytesEnd / 1024));
    const std::pair<const char*, long> counts[] = {{"logRecords", tally.logRecords},
                                                   {"lookups", tally.lookups},
                                                   {"lookupFailures", tally.lookupFailures},
                                                   {"wrongValues", tally.wrongValues},
                                                   {"churns", tally.churns},
                                                   {"exchanges", tally.exchanges},
                                                   {"wrongReplies", tally.wrongReplies},
                                                   {"recorded", tally.recorded},
                                                   {"replays", tally.replays},
                                                   {"replayerFailures", tally.replayerFailures},
                                                   {"locks", tally.locks},
                                                   {"lockFailures", tally.lockFailures}};
    for (const auto& count : counts) {
        std::printf("%s=%ld\n", count.first, count.second);
    }
    std::fflush(stdout);
    return 0;
}

TEST(Soak, EightThreadsOfMixedWork) {
    const int seconds = std::max(5, _wtoi(Env(L"HK_SOAK_SECONDS", L"20").c_str()));
    const std::wstring only = Env(L"HK_SOAK_ONLY", L"all");
    ClientKeys keys;
    RegistryKeyGuard wds(HKEY_LOCAL_MACHINE, kWdsKey);
    RegistryKeyGuard control(HKEY_CURRENT_USER, kHandlerControlKey);
    RegistryKeyGuard handlerClass(HKEY_LOCAL_MACHINE, kHandlerClassKey);
    TempDir cache(L"soak-cache"), work(L"soak-work");
    keys.SetDword(HKEY_CURRENT_USER, kClientKey, L"LoggingLevel", LOG_TRACE);
    keys.SetString(HKEY_LOCAL_MACHINE, kWdsKey, L"Version", L"4.0.6001.16503");
    keys.SetString(HKEY_CURRENT_USER, kHandlerControlKey, L"CallLog", work.File(L"calls.txt").c_str());
    {
        hk::unique_hmodule handler(::LoadLibraryW((BinDir() + L"\\WdsHandlerStandin.dll").c_str()));
        auto registerServer = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
            reinterpret_cast<void*>(::GetProcAddress(handler.get(), "DllRegisterServer")));
        ASSERT_TRUE(registerServer != nullptr && registerServer() == S_OK);
    }
    WebServer& server = WebServer::Get();
    ASSERT_TRUE(server.Ok()) << server.Error();
    server.Reset();
    Reply ok;
    ok.body = "<ok/>\n";
    ok.Header("Content-Type", "text/xml");
    Reply big;
    big.body = std::string(1024, 'b');
    big.repeatBody = 256;
    Reply cut = big;
    cut.action = "reset_mid_body";
    server.Route("/ok", ok);
    server.Route("/big", big);
    server.Route("/cut", cut);

    // The work's log goes to a folder of its own; the stand-in's stores live
    // in the same temporary folder, so the replayer finds them too.
    const std::wstring temp = work.Path() + L"\\";
    ScenarioResult r = RunScenario(
        "SoakWork", {std::to_wstring(seconds), only, std::to_wstring(server.Port()), cache.Path()},
        (seconds + 300) * 1000, {L"TMP=" + temp, L"TEMP=" + temp});
    ASSERT_FALSE(r.timedOut);
    ASSERT_EQ(0u, r.exitCode) << r.output;
    std::map<std::string, std::string> v = ParseReport(r.output);
    auto at = [&](const char* key) { return std::stol(v.count(key) ? v[key] : "-1"); };
    std::printf("%s", r.output.c_str());

    // Flat after the warm-up: a handle or some kilobytes lost per exchange,
    // lookup or request would pass these bounds many times over.
    EXPECT_LE(at("handlesEnd"), at("handlesWarm") + 64);
    EXPECT_LE(at("kbEnd"), at("kbWarm") + 32 * 1024);
    EXPECT_EQ(0, at("wrongValues"));
    EXPECT_EQ(0, at("wrongReplies"));
    EXPECT_EQ(0, at("replayerFailures"));
    EXPECT_EQ(0, at("lockFailures"));

    // Every record whole, once; the files are read a line at a time.
    std::set<std::pair<int, int>> seen;
    long torn = 0, twice = 0, bareLineFeeds = 0;
    auto check = [&](const std::string& line) {
        bareLineFeeds += line.size() < 2 || line[line.size() - 2] != '\r';
        size_t at = line.find("soak record ");
        if (at == std::string::npos) {
            return;
        }
        int n = -1, thread = -1, used = 0;
        std::sscanf(line.c_str() + at, "soak record %d of thread %d %n", &n, &thread, &used);
        torn += used == 0 || line.compare(at + used, std::string::npos, std::string(kPayload) + "\r\n") != 0;
        twice += !seen.insert({thread, n}).second;
    };
    WIN32_FIND_DATAW found;
    hk::unique_find find(::FindFirstFileW(work.File(L"sh_client_log_*.txt").c_str(), &found));
    for (bool more = !!find; more; more = ::FindNextFileW(find.get(), &found)) {
        std::unique_ptr<FILE, int (*)(FILE*)> file(_wfopen(work.File(found.cFileName).c_str(), L"rb"),
                                                   fclose);
        ASSERT_TRUE(file != nullptr);
        std::string line;
        char chunk[4096];
        while (std::fgets(chunk, sizeof(chunk), file.get()) != nullptr) {
            line += chunk;
            if (line.back() == '\n') {
                check(line);
                line.clear();
            }
        }
        if (!line.empty()) {
            check(line); // a last line without its line feed counts as bare
        }
    }
    EXPECT_EQ(0, bareLineFeeds);
    EXPECT_EQ(0, torn);
    EXPECT_EQ(0, twice);
    EXPECT_EQ(at("logRecords"), static_cast<long>(seen.size()));

    // Every indexing request performed exactly once.
    std::map<std::string, int> performed;
    std::istringstream calls(ReadFileText(work.File(L"calls.txt")));
    for (std::string line; std::getline(calls, line);) {
        size_t name = line.rfind('\\');
        if (line.compare(0, 8, "AddFile ") == 0 && name != std::string::npos) {
            ++performed[line.substr(name + 1, line.size() - name - 2)];
        }
    }
    long once = 0;
    for (const auto& call : performed) {
        EXPECT_EQ(1, call.second) << call.first;
        once += call.second == 1;
    }
    EXPECT_EQ(at("recorded") < 0 ? 0 : at("recorded"), once);
}
