// Desktop-search indexing against the registry, a cache directory of the
// test's own and the protocol handler stand-in (registered in the prefix by
// its own DllRegisterServer, its calls read back from its call log).
#include "ClientKeys.h"
#include "LoggedRun.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <iterator>
#include <sstream>
#include <thread>

namespace {

using hk::test::kStoreKey;
using hk::test::Record;
using hk::test::UseStoreKey;

const wchar_t kWdsKey[] = L"Software\\Microsoft\\Windows Desktop Search";
const wchar_t kControlKey[] = L"Software\\Hearthkit\\Standins\\WdsHandler";
const wchar_t kClassKey[] = L"Software\\Classes\\CLSID\\{5896A718-788B-47C0-965A-7B124E091AB6}";
const wchar_t kQueueKey[] = L"SOFTWARE\\Talvo\\Stowhaven\\Client\\TESTSTORE\\WDS Index Data";

HRESULT CallStandinExport(const char* name) {
    std::wstring path = hk::test::BinDir() + L"\\WdsHandlerStandin.dll";
    hk::unique_hmodule module(::LoadLibraryW(path.c_str()));
    if (!module) {
        return HRESULT_FROM_WIN32(::GetLastError());
    }
    auto fn = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
        reinterpret_cast<void*>(::GetProcAddress(module.get(), name)));
    return fn != nullptr ? fn() : E_NOTIMPL;
}

void SetString(HKEY root, const wchar_t* path, const wchar_t* name, const wchar_t* value,
               DWORD type = REG_SZ) {
    CRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.Create(root, path));
    ASSERT_EQ(ERROR_SUCCESS, key.SetStringValue(name, value, type));
}

// The queue as "Operation\name" in the registry's enumeration order.
std::vector<std::wstring> QueuedRequests() {
    std::vector<std::wstring> entries, names;
    for (const wchar_t* op : WDSUtil::szWDSOps) {
        CRegKey key; // an operation key that is not there lists nothing
        key.Open(HKEY_CURRENT_USER, (std::wstring(kQueueKey) + L"\\" + op).c_str(), KEY_READ);
        key.EnumKeys(names);
        for (const std::wstring& name : names) {
            entries.push_back(std::wstring(op) + L"\\" + name);
        }
    }
    return entries;
}

// A replay on a thread or in a process of its own, COM set up there.
void ReplayWithCom() {
    ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    WDSUtil::UpdateWDSIndex();
    ::CoUninitialize();
}

// Keys, cache directory and handler of one test; the scenarios of the logged
// test build theirs on the keys the parent left.
class Wds : public ::testing::Test {
protected:
    void SetUp() override {
        UseStoreKey(true);
        ASSERT_TRUE(::CreateDirectoryW(m_cache.File(L"TESTSTORE").c_str(), nullptr));
        for (const wchar_t* file : {L"a.db", L"b.db", L"notes.txt"}) {
            ASSERT_TRUE(hk::test::WriteFileBytes(m_cache.File(L"TESTSTORE") + L"\\" + file, "x", 1));
        }
        SetString(HKEY_CURRENT_USER, kStoreKey, L"HLRootDirectory", m_cache.Path().c_str());
        SetString(HKEY_LOCAL_MACHINE, kWdsKey, L"Version", L"4.0.6001.16503");
        SetString(HKEY_CURRENT_USER, kControlKey, L"CallLog", m_work.File(L"calls.txt").c_str());
        ASSERT_EQ(S_OK, CallStandinExport("DllRegisterServer"));
        ASSERT_EQ(S_OK, ::CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    }
    void TearDown() override { ::CoUninitialize(); }

    std::wstring StoreFile(const wchar_t* name) const { return m_cache.File(L"TESTSTORE") + L"\\" + name; }
    // The handler's calls, one line each.
    std::vector<std::wstring> Calls() const {
        std::vector<std::wstring> lines;
        std::istringstream text(hk::test::ReadFileText(m_work.File(L"calls.txt")));
        for (std::string line; std::getline(text, line, '\n');) {
            lines.push_back(hk::test::Widen(line.substr(0, line.size() - 1))); // without its CR
        }
        return lines;
    }
    void Ask(WDSIndexType type, const wchar_t* path) {
        ASSERT_TRUE(WDSUtil::PersistWDSIndexingInfo(path, type));
    }

    hk::test::ClientKeys m_keys;
    hk::test::RegistryKeyGuard m_wds{HKEY_LOCAL_MACHINE, kWdsKey};
    hk::test::RegistryKeyGuard m_control{HKEY_CURRENT_USER, kControlKey};
    hk::test::RegistryKeyGuard m_class{HKEY_LOCAL_MACHINE, kClassKey};
    hk::test::TempDir m_cache{L"wds-cache"};
    hk::test::TempDir m_work{L"wds-work"};
    // The handler stand-in signals held when it enters the HoldMethod and
    // returns when release is set.
    hk::unique_handle m_held{::CreateEventW(nullptr, TRUE, FALSE, L"HkWdsHandlerStandin.Held")};
    hk::unique_handle m_release{::CreateEventW(nullptr, TRUE, FALSE, L"HkWdsHandlerStandin.Release")};
};

// The 3.0 boundary and the text forms decide through the replay (below).
TEST_F(Wds, InstalledVersionIsTheLeadingNumberAsTheCRuntimeReadsIt) {
    SetString(HKEY_LOCAL_MACHINE, kWdsKey, L"Version", L" \t3.5.6001", REG_EXPAND_SZ);
    double version = 12345.0;
    EXPECT_TRUE(WDSUtil::GetInstalledWDSVersion(version));
    EXPECT_DOUBLE_EQ(3.5, version);
    CRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.Open(HKEY_LOCAL_MACHINE, kWdsKey));
    ASSERT_EQ(ERROR_SUCCESS, key.SetDWORDValue(L"Version", 4));
    for (const char* what : {"a number of another type", "no key"}) {
        version = 12345.0;
        EXPECT_FALSE(WDSUtil::GetInstalledWDSVersion(version)) << what;
        EXPECT_DOUBLE_EQ(-1.0, version) << what;
        key.Close();
        ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kWdsKey);
    }
}

TEST_F(Wds, CacheFilesAreListedFromTheRootAndTheStoreKey) {
    std::vector<CStringW> files{L"stale"};
    WDSUtil::EnumDBFilesForCurrentProfile(files, true);
    std::sort(files.begin(), files.end());
    EXPECT_EQ((std::vector<CStringW>{StoreFile(L"a.db").c_str(), StoreFile(L"b.db").c_str()}), files);
    // A root that already ends with a separator gets no second one.
    SetString(HKEY_CURRENT_USER, kStoreKey, L"HLRootDirectory", (m_cache.Path() + L"\\").c_str());
    WDSUtil::EnumDBFilesForCurrentProfile(files, false);
    std::sort(files.begin(), files.end());
    EXPECT_EQ((std::vector<CStringW>{L"a.db", L"b.db"}), files);

    CStringW path = L"stale";
    ASSERT_TRUE(WDSUtil::GetDBFullPath(L"c.db", path));
    EXPECT_EQ(CStringW(StoreFile(L"c.db").c_str()), path);
    for (const wchar_t* notAFile : {L"", L"..", L"../c.db", L"x\\c.db", L"D:c.db"}) {
        EXPECT_FALSE(WDSUtil::GetDBFullPath(notAFile, path)) << hk::test::Narrow(notAFile);
        EXPECT_TRUE(path.IsEmpty());
    }
    std::vector<CStringW> pieces;
    WDSUtil::ExtractProfile(L"\\\\A\\\\\\B c\\", pieces);
    EXPECT_EQ((std::vector<CStringW>{L"A", L"B c"}), pieces);

    SetString(HKEY_CURRENT_USER, kStoreKey, L"HLRootDirectory", L"C");
    EXPECT_FALSE(WDSUtil::GetDBFullPath(L"c.db", path)) << "a root of one character";
    CRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.Open(HKEY_CURRENT_USER, kStoreKey));
    ASSERT_EQ(ERROR_SUCCESS, key.DeleteValue(L"HLRootDirectory"));
    EXPECT_FALSE(WDSUtil::GetDBFullPath(L"c.db", path)) << "no root";
    files = {L"stale"};
    WDSUtil::EnumDBFilesForCurrentProfile(files, true);
    EXPECT_TRUE(files.empty());

    // A store key of fewer than five pieces names no store directory.
    const wchar_t shortKey[] = L"SOFTWARE\\HkWdsShortKey";
    hk::test::RegistryKeyGuard guard(HKEY_CURRENT_USER, shortKey);
    SetString(HKEY_CURRENT_USER, shortKey, L"HLRootDirectory", m_cache.Path().c_str());
    UseStoreKey(false);
    HearthkitConfig::m_szStoreRootKey = new wchar_t[std::size(shortKey)];
    std::copy(std::begin(shortKey), std::end(shortKey), HearthkitConfig::m_szStoreRootKey);
    EXPECT_FALSE(WDSUtil::GetDBFullPath(L"c.db", path));

    UseStoreKey(false);
    files = {L"stale"};
    WDSUtil::EnumDBFilesForCurrentProfile(files, true);
    EXPECT_TRUE(files.empty());
    EXPECT_FALSE(WDSUtil::GetDBFullPath(L"c.db", path));
}

TEST_F(Wds, RequestsAreRecordedByTheLastPieceOfTheirPath) {
    Ask(WDSIndexAdd, L"D:\\elsewhere\\a.db");
    Ask(WDSIndexAdd, L"a.db");
    Ask(WDSIndexReIndex, L"hoardLOCAL");
    Ask(WDSIndexDelete, L"b.db\\");
    EXPECT_EQ((std::vector<std::wstring>{L"Delete\\b.db", L"Add\\a.db", L"ReIndex\\Hoardlocal"}),
              QueuedRequests());

    EXPECT_FALSE(WDSUtil::PersistWDSIndexingInfo(L"", WDSIndexAdd));
    for (const wchar_t* notAFile : {L"\\\\", L"C:\\cache\\..", L"C:\\cache\\a/../b.db", L"C:\\cache\\x:y"}) {
        EXPECT_FALSE(WDSUtil::PersistWDSIndexingInfo(notAFile, WDSIndexAdd)) << hk::test::Narrow(notAFile);
    }
    EXPECT_FALSE(WDSUtil::PersistWDSIndexingInfo(L"c.db", static_cast<WDSIndexType>(3)));
    UseStoreKey(false);
    EXPECT_FALSE(WDSUtil::PersistWDSIndexingInfo(L"c.db", WDSIndexAdd));
    UseStoreKey(true);
    EXPECT_EQ(3u, QueuedRequests().size());
}

// Files come back by their last piece in the store directory; a whole-cache
// request ends its operation's pass and takes the files after it.
TEST_F(Wds, ReplayGoesInOperationOrderAndEmptiesTheQueue) {
    Ask(WDSIndexReIndex, L"b.db");
    Ask(WDSIndexAdd, L"D:\\elsewhere\\a.db");
    Ask(WDSIndexAdd, L"Hoardlocal");
    Ask(WDSIndexAdd, L"z.db");
    Ask(WDSIndexDelete, L"b.db");
    WDSUtil::UpdateWDSIndex();
    EXPECT_EQ(
        (std::vector<std::wstring>{L"DeleteFile " + StoreFile(L"b.db"), L"AddFile " + StoreFile(L"a.db"),
                                   L"AddAll", L"ReIndexFile " + StoreFile(L"b.db")}),
        Calls());
    EXPECT_TRUE(QueuedRequests().empty());
}

TEST_F(Wds, RequestsAreRemovedWhateverTheHandlerOrWdsAnswer) {
    struct Case {
        const char* what;
        void (*arrange)();
        bool handlerCalled;
    };
    const Case cases[] = {
        {"WDS missing", [] { ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kWdsKey); }, false},
        {"WDS older than 3.0", [] { SetString(HKEY_LOCAL_MACHINE, kWdsKey, L"Version", L"2.99"); }, false},
        {"WDS 3.0", [] { SetString(HKEY_LOCAL_MACHINE, kWdsKey, L"Version", L"3.0"); }, true},
        {"WDS \" 4.0\"", [] { SetString(HKEY_LOCAL_MACHINE, kWdsKey, L"Version", L" 4.0"); }, true},
        {"handler not registered", [] { EXPECT_EQ(S_OK, CallStandinExport("DllUnregisterServer")); }, false},
        {"handler failing", [] { SetString(HKEY_CURRENT_USER, kControlKey, L"FailMethod", L"AddFile"); },
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetString(HKEY_LOCAL_MACHINE, kWdsKey, L"Version", L"4.0");
        ASSERT_EQ(S_OK, CallStandinExport("DllRegisterServer"));
        ::DeleteFileW(m_work.File(L"calls.txt").c_str());
        c.arrange();
        Ask(WDSIndexAdd, L"a.db");
        Ask(WDSIndexAdd, L"b.db");
        Ask(WDSIndexDelete, L"Hoardlocal");
        WDSUtil::UpdateWDSIndex();
        EXPECT_TRUE(QueuedRequests().empty());
        std::vector<std::wstring> all = {L"DeleteAll", L"AddFile " + StoreFile(L"a.db"),
                                         L"AddFile " + StoreFile(L"b.db")};
        EXPECT_EQ(c.handlerCalled ? all : std::vector<std::wstring>(), Calls());
    }
}

TEST_F(Wds, QueueEntriesThatNameNoFileOrHoldSubKeysAreRemovedAfterOneReplay) {
    for (const wchar_t* planted : {L"Add\\..", L"Add\\x:y", L"Add\\a.db\\stale\\deeper", L"Add\\b/c"}) {
        CRegKey key;
        ASSERT_EQ(ERROR_SUCCESS,
                  key.Create(HKEY_CURRENT_USER, (std::wstring(kQueueKey) + L"\\" + planted).c_str()));
    }
    WDSUtil::UpdateWDSIndex();
    EXPECT_EQ(std::vector<std::wstring>{L"AddFile " + StoreFile(L"a.db")}, Calls());
    EXPECT_TRUE(QueuedRequests().empty());
}

// Child: records args as Add requests, as another process of the product.
HK_SCENARIO(WdsRecordAdd) {
    UseStoreKey(true);
    for (const std::wstring& path : args) {
        if (!WDSUtil::PersistWDSIndexingInfo(path.c_str(), WDSIndexAdd)) {
            return 1;
        }
    }
    return 0;
}

TEST_F(Wds, RequestRecordedElsewhereWhileTheHandlerWorksStaysQueued) {
    const struct {
        const wchar_t* held;
        const wchar_t* queued;
        std::vector<std::wstring> recorded, queue;
    } cases[] = {{L"AddFile", L"a.db", {L"a.db"}, {L"Add\\a.db"}},
                 {L"AddAll", L"Hoardlocal", {L"c.db", L"Hoardlocal"}, {L"Add\\c.db", L"Add\\Hoardlocal"}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(hk::test::Narrow(c.held));
        ::ResetEvent(m_held.get());
        ::ResetEvent(m_release.get());
        SetString(HKEY_CURRENT_USER, kControlKey, L"HoldMethod", c.held);
        Ask(WDSIndexAdd, c.queued);
        std::thread replay(ReplayWithCom);
        hk::test::ScenarioResult r;
        if (::WaitForSingleObject(m_held.get(), 10000) == WAIT_OBJECT_0) {
            r = hk::test::RunScenario("WdsRecordAdd", c.recorded, 30000);
        }
        ::SetEvent(m_release.get());
        replay.join();
        EXPECT_EQ(0u, r.exitCode) << r.output;
        EXPECT_EQ(c.queue, QueuedRequests());
        WDSUtil::UpdateWDSIndex();
    }
}

HK_SCENARIO(WdsReplay) {
    UseStoreKey(true);
    ReplayWithCom();
    return 0;
}

// Two components replay at once: the second waits for the first and finds
// the request done, rather than performing it again.
TEST_F(Wds, TwoReplaysAtOncePerformARequestOnce) {
    SetString(HKEY_CURRENT_USER, kControlKey, L"HoldMethod", L"AddFile");
    Ask(WDSIndexAdd, L"a.db");
    std::thread first(ReplayWithCom);
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(m_held.get(), 10000));
    ::ResetEvent(m_held.get());
    hk::test::ScenarioResult second;
    std::thread other([&] { second = hk::test::RunScenario("WdsReplay", {}, 30000); });
    // A second replay that does not wait reaches the handler here.
    ::WaitForSingleObject(m_held.get(), 3000);
    ::SetEvent(m_release.get());
    first.join();
    other.join();
    EXPECT_EQ(0u, second.exitCode) << second.output;
    EXPECT_EQ(std::vector<std::wstring>{L"AddFile " + StoreFile(L"a.db")}, Calls());
    EXPECT_TRUE(QueuedRequests().empty());
}

// The replay's lines in a process of its own (the level is read once per
// process): a file request whose handler call fails, one that succeeds, a
// whole-cache request, an operation that does not exist, then the handler
// gone and WDS too old.
HK_SCENARIO(WdsReplayLogged) {
    UseStoreKey(true);
    ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    WDSUtil::PersistWDSIndexingInfo(L"b.db", WDSIndexDelete);
    WDSUtil::PersistWDSIndexingInfo(L"a.db", WDSIndexAdd);
    WDSUtil::PersistWDSIndexingInfo(L"Hoardlocal", WDSIndexReIndex);
    WDSUtil::UpdateWDSIndex();
    WDSUtil::UpdateWDSIndexForHL(static_cast<WDSIndexType>(5));
    CallStandinExport("DllUnregisterServer");
    WDSUtil::UpdateWDSIndexForHL(WDSIndexAdd);
    WDSUtil::UpdateWDSIndexForHLFile(WDSIndexAdd, L"a.db");
    SetString(HKEY_LOCAL_MACHINE, kWdsKey, L"Version", L"2.6.5");
    WDSUtil::UpdateWDSIndexForHL(WDSIndexAdd);
    ::CoUninitialize();
    UseStoreKey(false);
    return 0;
}

TEST_F(Wds, ReplayLogsEveryStep) {
    SetString(HKEY_CURRENT_USER, kControlKey, L"FailMethod", L"DeleteFile");
    m_keys.SetDword(HKEY_CURRENT_USER, kControlKey, L"FailHr", 0x80070005);
    hk::test::LoggedRun run = hk::test::RunLoggedScenario("WdsReplayLogged", {}, LOG_DETAIL);
    ASSERT_EQ(0u, run.result.exitCode) << run.result.output;
    const std::string& log = run.log;
    const std::string queue = hk::test::Narrow(kQueueKey);
    const std::string a = hk::test::Narrow(StoreFile(L"a.db"));
    const char* handler = "The indexing operation performed by the WDS protocol handler ";
    std::vector<std::string> expected = {
        "Successfully created the registry key HKCU\\" + queue + "\\Delete\\b.db to process the WDS index.",
        "Key \"b.db\" found under HKCU\\" + queue + "\\Delete",
        "WDS version installed is : 4.0.6001.16503 ",
        std::string(handler) + "returned : 0x80070005",
        "Error code: 259",
        "Key \"a.db\" found under HKCU\\" + queue + "\\Add",
        "DBFilePath = " + a + " ",
        "Operation performed on the Hoardlocal's file in the WDS index : 1",
        "Hoardlocal file name - " + a,
        std::string(handler) + "returned : 0x0",
        "WDSUtil::UpdateWDSIndexForHL succeeded",
        "Key \"Hoardlocal\" found under HKCU\\" + queue + "\\ReIndex",
        "Operation performed on the Hoardlocal's WDS index : 2",
        "Operation performed on the Hoardlocal's WDS index : 5",
        std::string(handler) + "returned : 0x80070057",
        std::string(handler) + "failed : 0x80040154",
        std::string(handler) + "failed: 0x80040154",
        "WDS version installed is : 2.6.5 ",
    };
    size_t at = 0;
    for (const std::string& line : expected) {
        size_t found = log.find(": " + line, at);
        ASSERT_NE(std::string::npos, found) << "missing after offset " << at << ": " << line << "\n" << log;
        at = found;
    }
    EXPECT_NE(std::string::npos, log.find(Record("WDS 3.x or greater not installed"), at)) << log;
}

} // namespace
