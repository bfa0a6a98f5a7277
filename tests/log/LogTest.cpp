// The diagnostic log, seen from its file. The level is read once per process
// and the exit hook runs at unload, so every case runs in a fresh process
// whose temporary directory (TMP/TEMP) is a folder of the test's own, with
// "LoggingLevel" set by the test; the parent reads the files it leaves.
#include "Hearthkit.h"
#include "LoggedRun.h"
#include "Scenario.h"
#include "TestEnv.h"
#include "log/LogFormat.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <map>
#include <regex>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

using hk::test::Narrow;
using hk::test::RegistryKeyGuard;
using hk::test::RunScenario;
using hk::test::ScenarioResult;
using hk::test::TempDir;

const wchar_t kClientKey[] = L"SOFTWARE\\Talvo\\Stowhaven\\Client";
const DWORD kNoValue = 0xFFFFFFFF; // the test removes "LoggingLevel"
const DWORD kNoKey = 0xFFFFFFFE;   // the test removes the whole key

// Sets the level the child will read, and removes it again afterwards.
class LevelSetting {
public:
    explicit LevelSetting(DWORD value) : m_guard(HKEY_CURRENT_USER, kClientKey) {
        CRegKey parent;
        if (value == kNoKey) {
            if (parent.Open(HKEY_CURRENT_USER, L"SOFTWARE\\Talvo\\Stowhaven", KEY_READ | KEY_WRITE) ==
                ERROR_SUCCESS) {
                parent.RecurseDeleteKey(L"Client");
            }
            return;
        }
        CRegKey key;
        EXPECT_EQ(ERROR_SUCCESS, key.Create(HKEY_CURRENT_USER, kClientKey));
        if (value == kNoValue) {
            key.DeleteValue(L"LoggingLevel");
        } else {
            EXPECT_EQ(ERROR_SUCCESS, key.SetDWORDValue(L"LoggingLevel", value));
        }
    }

private:
    RegistryKeyGuard m_guard;
};

// Runs a scenario with the given level and dir as its temporary directory.
ScenarioResult RunLogged(const char* name, DWORD level, const TempDir& dir,
                         const std::vector<std::wstring>& args = {}) {
    LevelSetting setting(level);
    std::wstring temp = dir.Path() + L"\\";
    return RunScenario(name, args, 60000, {L"TMP=" + temp, L"TEMP=" + temp});
}

std::vector<std::wstring> LogFiles(const TempDir& dir) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    hk::unique_find find(::FindFirstFileW(dir.File(L"sh_client_log_*.txt").c_str(), &found));
    for (bool more = static_cast<bool>(find); more; more = ::FindNextFileW(find.get(), &found)) {
        names.push_back(found.cFileName);
    }
    std::sort(names.begin(), names.end());
    return names;
}

struct Line {
    std::string stamp; // "dd/MM/yyyy HH:mm:ss.sss", empty for an unheaded line
    long thread = -1;  // -1 without a thread field
    std::string text;
};

// The file's lines: a byte order mark, then lines each ending in CR LF with
// no other CR or LF; headed lines are split into their fields.
std::vector<Line> ParseLog(const std::wstring& path) {
    std::string bytes = hk::test::ReadFileText(path);
    EXPECT_EQ(0u, bytes.rfind("\xEF\xBB\xBF", 0)) << "no byte order mark";
    std::vector<Line> lines;
    static const std::regex header(
        R"(^(\d\d/\d\d/\d{4} \d\d:\d\d:\d\d\.\d{3})(?:\[( {3}\d| {2}\d{2}| \d{3}|\d{4,10})\])?: (.*)$)");
    size_t pos = 3;
    while (pos < bytes.size()) {
        size_t end = bytes.find("\r\n", pos);
        if (end == std::string::npos) {
            ADD_FAILURE() << "last line without CR LF: " << bytes.substr(pos);
            break;
        }
        std::string raw = bytes.substr(pos, end - pos);
        pos = end + 2;
        EXPECT_EQ(std::string::npos, raw.find_first_of("\r\n")) << raw;
        Line line;
        std::smatch m;
        if (std::regex_match(raw, m, header)) {
            line.stamp = m[1];
            line.thread = m[2].matched ? std::stol(m[2].str()) : -1;
            line.text = m[3];
        } else {
            line.text = raw;
        }
        lines.push_back(line);
    }
    return lines;
}

// A file's lines from its opening to its closing at process exit.
std::vector<std::string> Framed(int level, std::vector<std::string> body) {
    body.insert(body.begin(), "Log file created (level " + std::to_string(level) + ").");
    body.push_back("Stowhaven desktop exited successfully");
    body.push_back("Log file closed.");
    return body;
}

std::vector<std::string> Texts(const std::vector<Line>& lines) {
    std::vector<std::string> texts;
    for (const auto& l : lines) {
        texts.push_back(l.text);
    }
    return texts;
}

using hk::test::ParseReport;

void PrintState() {
    std::printf("level=%d\ntracing=%d\nenabled=%d\nfile=%s\nthread=%lu\n", CDesktopLog::ReturnLogLevel(),
                CDesktopLog::IsSHMSPTracingEnabled() ? 1 : 0, CDesktopLog::IsEnabled() ? 1 : 0,
                Narrow(CDesktopLog::GetFilename()).c_str(), ::GetCurrentThreadId());
}

std::string Leaf(const std::string& path) {
    return path.substr(path.find_last_of('\\') + 1);
}

// ---------------------------------------------------------------- level

// Nothing is logged before the first named object; then an information
// and an error record, whose file is printed last.
HK_SCENARIO(LogLevelProbe) {
    {
        CDesktopLog anonymous;
        HRESULT hr = anonymous.LogText(LOG_ERROR, "never written\n");
        std::printf("anonLevel=%d\nanonEnabled=%d\nanonHr=%lx\n", CDesktopLog::ReturnLogLevel(),
                    CDesktopLog::IsEnabled() ? 1 : 0, static_cast<unsigned long>(hr));
    }
    CDesktopLog log("LevelProbe::Run");
    PrintState();
    log.LogText(LOG_INFO, "one\n");
    log.LogText(LOG_ERROR, "first error\n");
    std::printf("file=%s\n", Narrow(CDesktopLog::GetFilename()).c_str());
    return 0;
}

// Level 0 writes errors only, in lines without a thread field; only the
// trace level's entry line opens the file at construction.
TEST(LogLevel, DecodesLowBitsAndTracingFlagFromRegistry) {
    struct Case {
        DWORD value;
        int level;
        const char* tracing;
    } cases[] = {
        {0x80000003, 3, "1"}, {0x00010002, 2, "0"}, {5, 1, "0"}, {9, 9, "0"},
        {kNoValue, 1, "0"},   {kNoKey, 1, "0"},     {0, 0, "0"},
    };
    for (const auto& c : cases) {
        TempDir dir(L"lvl");
        ScenarioResult r = RunLogged("LogLevelProbe", c.value, dir);
        ASSERT_EQ(0u, r.exitCode) << r.output;
        auto report = ParseReport(r.output);
        EXPECT_EQ("-255 0 0", report["anonLevel"] + " " + report["anonEnabled"] + " " + report["anonHr"]);
        EXPECT_EQ(std::to_string(c.level), report["level"]) << std::hex << c.value;
        EXPECT_EQ(c.tracing, report["tracing"]) << std::hex << c.value;
        EXPECT_EQ(c.level >= 3 ? "1" : "0", report["enabled"]) << std::hex << c.value;
        std::vector<std::string> texts;
        for (const Line& l : ParseLog(hk::test::Widen(report["file"]))) {
            EXPECT_EQ(c.level == 0, l.thread == -1) << l.text;
            if (l.text.find("LevelProbe") == std::string::npos) {
                texts.push_back(l.text);
            }
        }
        std::vector<std::string> expected = {"Log file created (level 0).", "first error",
                                             "Log file closed."};
        if (c.level != 0) {
            expected = Framed(c.level, {"one", "first error"});
        }
        EXPECT_EQ(expected, texts) << std::hex << c.value;
    }
}

// ---------------------------------------------------------------- lifecycle at the trace level

HK_SCENARIO(LogTraceTour) {
    {
        HRESULT hr = S_OK;
        CDesktopLog log("Tour::WithResult", &hr);
        hr = E_FAIL;
    }
    {
        CDesktopLog log("Tour::NoResult");
        CDesktopLog copy(log);
        std::printf("name=%s|\n", std::string(copy.GetFunctionName()) == "Tour::NoResult\n" ? "lf" : "-");
        copy = CDesktopLog();
    }
    {
        CDesktopLog log(nullptr, nullptr, "CONTENT:STORE");
        log.LogText(LOG_DETAIL, "with prefix\n");
    }
    std::string longName(300, 'n');
    {
        HRESULT hr = S_OK;
        CDesktopLog withHr(longName.c_str(), &hr);
        CDesktopLog noHr(longName.c_str());
        std::printf("longlen=%u\n", static_cast<unsigned>(strlen(noHr.GetFunctionName())));
    }
    PrintState();
    return 0;
}

TEST(LogLifecycle, TraceLevelWritesEntryExitLinesAndTheExitHookCloses) {
    TempDir dir(L"trace");
    ScenarioResult r = RunLogged("LogTraceTour", 3, dir);
    ASSERT_EQ(0u, r.exitCode) << r.output;
    auto report = ParseReport(r.output);
    EXPECT_EQ("lf|", report["name"]);
    EXPECT_EQ("255", report["longlen"]); // 254 and the line feed
    auto files = LogFiles(dir);
    ASSERT_EQ(1u, files.size());
    EXPECT_EQ(Leaf(report["file"]), Narrow(files[0]));
    std::regex name(R"(sh_client_log_\d{14}\.txt)");
    EXPECT_TRUE(std::regex_match(Narrow(files[0]), name)) << Narrow(files[0]);

    auto lines = ParseLog(dir.File(files[0].c_str()));
    std::string n255(255, 'n'), n254(254, 'n');
    std::vector<std::string> expected = Framed(3, {
                                                      "Tour::WithResult: 0x0",
                                                      "~Tour::WithResult: 0x80004005",
                                                      "Tour::NoResult",
                                                      "~Tour::NoResult",
                                                      "CONTENT:STORE: with prefix",
                                                      n255 + ": 0x0",
                                                      n254,
                                                      "~" + n254,
                                                      "~" + n255 + ": 0x0",
                                                  });
    EXPECT_EQ(expected, Texts(lines));
    long thread = std::stol(report["thread"]);
    for (const auto& l : lines) {
        EXPECT_FALSE(l.stamp.empty()) << l.text;
        if (l.text.rfind("Stowhaven desktop", 0) != 0 && l.text != "Log file closed.") {
            EXPECT_EQ(thread, l.thread) << l.text;
        }
    }
}

template <typename Fn>
Fn Export(HMODULE module, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

// The exit hook runs when the library is unloaded, not only at process
// exit: a second copy of the library, loaded and freed while the process
// goes on, leaves its file closed behind it. (The program's own copy writes
// nothing: no named object of it is ever built here.)
HK_SCENARIO(LogUnloadCopy) {
    wchar_t temp[MAX_PATH + 1];
    ::GetTempPathW(MAX_PATH + 1, temp);
    std::wstring copy = std::wstring(temp) + L"HkUnloadCopy.dll";
    if (!::CopyFileW((hk::test::BinDir() + L"\\Hearthkit.dll").c_str(), copy.c_str(), FALSE)) {
        return 10;
    }
    HMODULE module = ::LoadLibraryW(copy.c_str());
    if (module == nullptr) {
        return 11;
    }
    using Construct = void (*)(void*, const char*, HRESULT*, const char*);
    using Destroy = void (*)(void*);
    using Text = HRESULT (*)(void*, LogLevel, const char*);
    auto construct = Export<Construct>(module, "_ZN11CDesktopLogC1EPKcPlS1_");
    auto destroy = Export<Destroy>(module, "_ZN11CDesktopLogD1Ev");
    auto text = Export<Text>(module, "_ZN11CDesktopLog7LogTextE8LogLevelPKc");
    if (construct == nullptr || destroy == nullptr || text == nullptr) {
        return 12;
    }
    alignas(CDesktopLog) unsigned char storage[sizeof(CDesktopLog)];
    construct(storage, "Unload::Run", nullptr, nullptr);
    text(storage, LOG_INFO, "written through the copy\n");
    destroy(storage);
    ::FreeLibrary(module);
    std::printf("unloaded=%d\n", ::GetModuleHandleW(L"HkUnloadCopy.dll") == nullptr ? 1 : 0);
    WIN32_FIND_DATAW found;
    HANDLE find = ::FindFirstFileW((std::wstring(temp) + L"sh_client_log_*.txt").c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) {
        std::printf("file=%s%s\n", Narrow(temp).c_str(), Narrow(found.cFileName).c_str());
        ::FindClose(find);
    }
    ::DeleteFileW(copy.c_str());
    std::fflush(stdout);
    // Ends without returning: nothing that runs at process exit may write.
    ::TerminateProcess(::GetCurrentProcess(), 0);
    return 0;
}

TEST(LogLifecycle, TheExitHookRunsWhenTheLibraryIsUnloaded) {
    TempDir dir(L"unload");
    ScenarioResult r = RunLogged("LogUnloadCopy", 1, dir);
    ASSERT_EQ(0u, r.exitCode) << r.output;
    auto report = ParseReport(r.output);
    EXPECT_EQ("1", report["unloaded"]);
    ASSERT_EQ(1u, LogFiles(dir).size());
    EXPECT_EQ(Framed(1, {"written through the copy"}), Texts(ParseLog(hk::test::Widen(report["file"]))));
}

// ---------------------------------------------------------------- records

HK_SCENARIO(LogRecordTour) {
    CDesktopLog log("Records::Tour");
    log.LogText(LOG_INFO, "narrow 100%% done\n");
    log.LogText(LOG_INFO, "two\n+lines\n");
    log.LogText(LOG_INFO, L"wide 100% d\u00e9j\u00e0 %s\n");
    log.LogText(LOG_INFO, "eight %s %s %s %s %s %s %s %s\n", "a", "b", "c", "d", "e", "f", "g", "h");
    log.LogText(LOG_INFO, "wide args %s|%s|%s\n", L"\u20ac", static_cast<const wchar_t*>(nullptr), L"z");
    log.LogText(LOG_INFO, "long %s\n", std::string(3000, 'y').c_str());
    log.LogText(LOG_INFO, "wide long %s\n", std::wstring(1000, L'\u20ac').c_str());
    log.LogInt(LOG_INFO, "ints %d %d %d %d %d %d %d %d\n", 1, 2, 3, 4, 5, 6, 7, -8);
    log.LogInt64(LOG_INFO, "int64 %I64d %I64x\n", -9000000000LL, 0x123456789abLL);
    log.LogTextInt(LOG_INFO, "textint %s=%d\n", "count", 42);
    log.LogHR(LOG_INFO, "ok 100%", S_OK);
    log.LogHR(LOG_INFO, L"fail", E_FAIL);
    FILETIME known = {0x4F6A8000u, 0x01C0D3F6u}; // 03/05/2001 17:27:21.416 UTC
    log.LogFileTime(LOG_INFO, "known", known);
    FILETIME bad = {0u, 0x80000000u};
    log.LogFileTime(LOG_INFO, "bad", bad);
    log.LogTextNoTimeStamp(LOG_INFO, "bare 50%%\n");
    log.LogTextNoTimeStamp(LOG_INFO, L"bare wide \u00e9\n");
    const char xml[] = "<a>text</a>tail";
    log.LogXML(LOG_INFO, reinterpret_cast<const BYTE*>(xml), 11);
    log.LogXML(LOG_INFO, reinterpret_cast<const BYTE*>("<x>\n</x>"), 8);
    const char zero[] = "<b>x\0hidden</b>";
    log.LogXML(LOG_INFO, reinterpret_cast<const BYTE*>(zero), sizeof(zero) - 1);
    const wchar_t utf16[] = L"\xFEFF<c>d</c>";
    log.LogXML(LOG_INFO, reinterpret_cast<const BYTE*>(utf16), 9);
    // One byte at the end of a page whose next page cannot be read: the
    // length is all LogXML may look at.
    BYTE* pages = static_cast<BYTE*>(::VirtualAlloc(nullptr, 8192, MEM_COMMIT, PAGE_READWRITE));
    DWORD old = 0;
    ::VirtualProtect(pages + 4096, 4096, PAGE_NOACCESS, &old);
    pages[4095] = 0xFF;
    log.LogXML(LOG_INFO, pages + 4095, 1);
    std::printf("xmlnull=%lx\n", static_cast<unsigned long>(log.LogXML(LOG_INFO, nullptr, 3)));
    std::printf("textnull=%lx\n",
                static_cast<unsigned long>(log.LogText(LOG_INFO, static_cast<const char*>(nullptr))));
    log.LogException(_com_error(E_OUTOFMEMORY));
    log.LogException(std::runtime_error("broken pipe"));
    log.LogText(LOG_DETAIL, "filtered out\n");
    log.LogHR(LOG_TRACE, "filtered out", S_OK);
    std::printf("filtered=%lx\n", static_cast<unsigned long>(log.LogXML(LOG_DETAIL, nullptr, -1)));
    PrintState();
    return 0;
}

// 100-nanosecond units since 1601 of a calendar time; -1 when it is none.
long long Ticks(const SYSTEMTIME& st) {
    FILETIME ft;
    if (!::SystemTimeToFileTime(&st, &ft)) {
        return -1;
    }
    return (static_cast<long long>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

// Every record kind's exact line; time stamps in UTC, within the child's
// life, never going back; the file's name in local time. The tests run at
// +05:30 (TZ in CMakeLists.txt), so either time in the other's place shows.
TEST(LogRecords, EveryRecordKindWritesItsExactLine) {
    TIME_ZONE_INFORMATION zone;
    ::GetTimeZoneInformation(&zone);
    ASSERT_EQ(-330, zone.Bias) << "the test process is not in the zone CMakeLists.txt sets";
    const long long localAhead = 330 * 60 * 10000000LL;
    TempDir dir(L"rec");
    auto utcNow = [] {
        FILETIME ft;
        ::GetSystemTimeAsFileTime(&ft);
        return (static_cast<long long>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    };
    long long before = utcNow();
    ScenarioResult r = RunLogged("LogRecordTour", 1, dir);
    long long after = utcNow();
    ASSERT_EQ(0u, r.exitCode) << r.output;
    auto report = ParseReport(r.output);
    EXPECT_EQ("80070057", report["xmlnull"]);
    EXPECT_EQ("80070057", report["textnull"]);
    EXPECT_EQ("0", report["filtered"]);
    auto files = LogFiles(dir);
    ASSERT_EQ(1u, files.size());
    SYSTEMTIME named = {};
    std::sscanf(Narrow(files[0]).c_str(), "sh_client_log_%4hu%2hu%2hu%2hu%2hu%2hu", &named.wYear,
                &named.wMonth, &named.wDay, &named.wHour, &named.wMinute, &named.wSecond);
    EXPECT_GE(Ticks(named), before + localAhead - 10000000) << Narrow(files[0]); // whole seconds
    EXPECT_LE(Ticks(named), after + localAhead) << Narrow(files[0]);
    auto lines = ParseLog(dir.File(files[0].c_str()));

    std::string euros;
    for (int i = 0; i < 1000; ++i) {
        euros += "\xE2\x82\xAC";
    }
    std::vector<std::string> expected = Framed(1, {
                                                      "narrow 100% done",
                                                      "two",
                                                      "+lines",
                                                      "wide 100% d\xC3\xA9j\xC3\xA0 %s",
                                                      "eight a b c d e f g h",
                                                      "wide args \xE2\x82\xAC|(null)|z",
                                                      "long " + std::string(3000, 'y'),
                                                      "wide long " + euros,
                                                      "ints 1 2 3 4 5 6 7 -8",
                                                      "int64 -9000000000 123456789ab",
                                                      "textint count=42",
                                                      "ok 100%: 0x0",
                                                      "fail: 0x80004005",
                                                      "known:03/05/2001 17:27:21.416 (126333844414169088)",
                                                      "bad: (-9223372036854775808)",
                                                      "bare 50%",
                                                      "bare wide \xC3\xA9",
                                                      "<a>text</a>",
                                                      "<x>",
                                                      "</x>",
                                                      "<b>x",
                                                      "?<c>d</c>",
                                                      "\xFF",
                                                      "(null)",
                                                      "(null)",
                                                      "A COM error exception has been caught: 8007000e",
                                                      "A std::exception has been caught: broken pipe",
                                                  });
    EXPECT_EQ(expected, Texts(lines));
    // Unheaded records carry no time stamp; every other line does.
    long long last = 0;
    for (const auto& l : lines) {
        bool bare = l.text.rfind("bare", 0) == 0 || std::strchr("<?+\xFF", l.text[0]) != nullptr;
        EXPECT_EQ(bare, l.stamp.empty()) << l.text;
        if (bare) {
            continue;
        }
        SYSTEMTIME st = {};
        std::sscanf(l.stamp.c_str(), "%hu/%hu/%hu %hu:%hu:%hu.%hu", &st.wDay, &st.wMonth, &st.wYear,
                    &st.wHour, &st.wMinute, &st.wSecond, &st.wMilliseconds);
        long long t = Ticks(st);
        EXPECT_GE(t, before - 10000) << l.stamp; // a millisecond of rounding
        EXPECT_LE(t, after + 10000) << l.stamp;
        EXPECT_GE(t, last) << l.stamp;
        last = t;
    }
}

// ---------------------------------------------------------------- the clock

// The platform as the clock sees it, moved by the test: a 10 MHz counter
// and a system clock that the test sets back and forward.
LONGLONG g_frequency = 0, g_counter = 0;
ULONGLONG g_systemTime = 0;
BOOL WINAPI FakeFrequency(LARGE_INTEGER* value) {
    value->QuadPart = g_frequency;
    return g_frequency != 0;
}
BOOL WINAPI FakeCounter(LARGE_INTEGER* value) {
    value->QuadPart = g_counter;
    return TRUE;
}
void WINAPI FakeSystemTime(FILETIME* value) {
    value->dwLowDateTime = static_cast<DWORD>(g_systemTime);
    value->dwHighDateTime = static_cast<DWORD>(g_systemTime >> 32);
}

TEST(LogClock, StampsAdvanceWithTheCounterWhateverTheSystemClockDoes) {
    const ULONGLONG start = 133541212290000000ULL; // 2024-03-05T14:07:09Z
    const LONGLONG hour = 36000000000LL;
    g_frequency = 10000000;
    g_counter = 5000;
    g_systemTime = start;
    hk::log::LogClock clock;
    clock.Anchor({FakeFrequency, FakeCounter, FakeSystemTime});
    // Each record a millisecond later; meanwhile the system clock is set
    // back an hour, forward a day, and back two days.
    const LONGLONG moves[] = {0, -hour, 0, 24 * hour, 0, -48 * hour, 0};
    for (int i = 0; i < 7; ++i) {
        g_counter += 10000;
        g_systemTime += 10000 + moves[i];
        EXPECT_EQ(start + (i + 1) * 10000ULL, clock.Now()) << i;
    }
    // Without a counter the clock can only read the system time.
    g_frequency = 0;
    hk::log::LogClock plain;
    plain.Anchor({FakeFrequency, FakeCounter, FakeSystemTime});
    g_systemTime = start - hour;
    EXPECT_EQ(start - hour, plain.Now());
}

// The date and time of day are worked out once a second: every stamp still
// reads as the full conversion of its time.
TEST(LogClock, StampsAreRightAcrossSecondsDaysAndYears) {
    const ULONGLONG ms = 10000, second = 1000 * ms;
    const ULONGLONG newYear = 133801631990000000ULL + 999 * ms; // 31/12/2024 23:59:59.999
    hk::log::StampRenderer stamps;
    for (ULONGLONG time :
         {newYear - second, newYear - 1, newYear, newYear + 1, newYear + ms, newYear + 2 * ms,
          newYear + second / 2, newYear + second + ms, newYear + 86400 * second}) {
        char rendered[64], expected[64];
        stamps.Render(time, rendered);
        FILETIME ft = {static_cast<DWORD>(time), static_cast<DWORD>(time >> 32)};
        ASSERT_TRUE(hk::log::RenderTimeStamp(ft, expected, sizeof(expected)));
        EXPECT_STREQ(expected, rendered) << time;
    }
}

// ---------------------------------------------------------------- opening, closing, retention

HK_SCENARIO(LogCloseAndReopen) {
    CDesktopLog log("Reopen::Run");
    log.LogText(LOG_INFO, "in the first file\n");
    std::printf("first=%s\n", Narrow(CDesktopLog::GetFilename()).c_str());
    std::printf("close=%lx\n", static_cast<unsigned long>(log.Close()));
    std::printf("closedEnabled=%d\nclosedFile=%s\n", CDesktopLog::IsEnabled() ? 1 : 0,
                Narrow(CDesktopLog::GetFilename()).c_str());
    std::printf("closeAgain=%lx\n", static_cast<unsigned long>(log.Close()));
    log.LogText(LOG_INFO, "in the second file\n");
    std::printf("second=%s\n", Narrow(CDesktopLog::GetFilename()).c_str());
    return 0;
}

TEST(LogFile, CloseThenARecordOpensASecondFileAndTheFirstSurvives) {
    TempDir dir(L"reopen");
    ScenarioResult r = RunLogged("LogCloseAndReopen", 1, dir);
    ASSERT_EQ(0u, r.exitCode) << r.output;
    auto report = ParseReport(r.output);
    EXPECT_EQ("0", report["close"]);
    EXPECT_EQ("0", report["closeAgain"]);
    EXPECT_EQ("0", report["closedEnabled"]);
    EXPECT_EQ("", report["closedFile"]);
    ASSERT_NE(report["first"], report["second"]);
    auto files = LogFiles(dir);
    ASSERT_EQ(2u, files.size());
    std::vector<std::string> first = {"Log file created (level 1).", "in the first file", "Log file closed."};
    EXPECT_EQ(first, Texts(ParseLog(hk::test::Widen(report["first"]))));
    EXPECT_EQ(Framed(1, {"in the second file"}), Texts(ParseLog(hk::test::Widen(report["second"]))));
    // Within one second the second name carries "_01" and sorts after the first.
    std::string a = Leaf(report["first"]), b = Leaf(report["second"]);
    if (a.substr(0, 28) == b.substr(0, 28)) {
        EXPECT_EQ(a.substr(0, 28) + "_01.txt", b);
    }
    EXPECT_LT(a, b);
}

// A file of the same second that already exists (another process's, or one
// left behind) is never truncated: the new file takes the next free suffix.
HK_SCENARIO(LogNameTaken) {
    wchar_t temp[MAX_PATH + 1];
    ::GetTempPathW(MAX_PATH + 1, temp);
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    FILETIME ft;
    ::SystemTimeToFileTime(&now, &ft);
    // Occupy this second and the next two, plain and "_01".
    for (int s = 0; s < 3; ++s) {
        ULARGE_INTEGER t = {{ft.dwLowDateTime, ft.dwHighDateTime}};
        t.QuadPart += s * 10000000ULL;
        FILETIME f = {t.LowPart, t.HighPart};
        SYSTEMTIME st;
        ::FileTimeToSystemTime(&f, &st);
        wchar_t name[MAX_PATH + 64];
        for (const wchar_t* suffix : {L"", L"_01"}) {
            _snwprintf(name, MAX_PATH + 64, L"%ssh_client_log_%04u%02u%02u%02u%02u%02u%s.txt", temp, st.wYear,
                       st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, suffix);
            hk::test::WriteFileBytes(name, "foreign\n", 8);
        }
    }
    CDesktopLog log("Taken::Run");
    log.LogText(LOG_INFO, "mine\n");
    PrintState();
    return 0;
}

TEST(LogFile, AnExistingFileOfTheSameSecondIsKept) {
    TempDir dir(L"taken");
    ScenarioResult r = RunLogged("LogNameTaken", 1, dir);
    ASSERT_EQ(0u, r.exitCode) << r.output;
    std::string mine = Leaf(ParseReport(r.output)["file"]);
    EXPECT_TRUE(std::regex_match(mine, std::regex(R"(sh_client_log_\d{14}_02\.txt)"))) << mine;
    auto files = LogFiles(dir);
    ASSERT_EQ(7u, files.size());
    for (const auto& f : files) {
        if (Narrow(f) != mine) {
            EXPECT_EQ("foreign\n", hk::test::ReadFileText(dir.File(f.c_str()))) << Narrow(f);
        }
    }
    EXPECT_EQ(Framed(1, {"mine"}), Texts(ParseLog(dir.File(hk::test::Widen(mine).c_str()))));
}

// Retention: 20 files are kept, and one open deletes at most one (the
// oldest by name).
TEST(LogFile, RetentionDeletesOnlyTheOldestFilePerOpen) {
    for (int older : {19, 20, 24}) {
        TempDir dir(L"keep");
        std::vector<std::wstring> planted;
        for (int i = 0; i < older; ++i) {
            wchar_t name[64];
            _snwprintf(name, 64, L"sh_client_log_200101010000%02d.txt", i);
            planted.push_back(name);
            hk::test::WriteFileBytes(dir.File(name), "old\n", 4);
        }
        hk::test::WriteFileBytes(dir.File(L"other.txt"), "x", 1);
        ScenarioResult r = RunLogged("LogLevelProbe", 1, dir);
        ASSERT_EQ(0u, r.exitCode) << r.output;
        auto files = LogFiles(dir);
        size_t total = older + 1;
        size_t kept = total > 20 ? total - 1 : total;
        ASSERT_EQ(kept, files.size()) << older;
        bool oldestGone = total > 20;
        EXPECT_EQ(oldestGone, std::find(files.begin(), files.end(), planted[0]) == files.end()) << older;
        EXPECT_TRUE(std::find(files.begin(), files.end(), planted[1]) != files.end()) << older;
        EXPECT_EQ(Leaf(ParseReport(r.output)["file"]), Narrow(files.back()));
        EXPECT_EQ(1u, hk::test::ReadFileBytes(dir.File(L"other.txt")).size());
    }
}

// A temporary directory that cannot take the file: the record answers
// E_FAIL and is lost; the next record tries again.
HK_SCENARIO(LogOpenFails) {
    CDesktopLog log("Fails::Run");
    std::printf("hr1=%lx\n", static_cast<unsigned long>(log.LogText(LOG_INFO, "lost\n")));
    std::printf("enabled1=%d\n", CDesktopLog::IsEnabled() ? 1 : 0);
    wchar_t temp[MAX_PATH + 1];
    ::GetTempPathW(MAX_PATH + 1, temp);
    ::CreateDirectoryW(temp, nullptr);
    std::printf("hr2=%lx\n", static_cast<unsigned long>(log.LogText(LOG_INFO, "kept\n")));
    PrintState();
    return 0;
}

TEST(LogFile, AFailedOpenDropsTheRecordAndTheNextRecordRetries) {
    TempDir dir(L"fail");
    std::wstring missing = dir.Path() + L"\\missing\\";
    ScenarioResult r;
    {
        LevelSetting setting(2);
        r = RunScenario("LogOpenFails", {}, 60000, {L"TMP=" + missing, L"TEMP=" + missing});
    }
    ASSERT_EQ(0u, r.exitCode) << r.output;
    auto report = ParseReport(r.output);
    EXPECT_EQ("80004005", report["hr1"]);
    EXPECT_EQ("0", report["enabled1"]);
    EXPECT_EQ("0", report["hr2"]);
    EXPECT_EQ(Framed(2, {"kept"}), Texts(ParseLog(hk::test::Widen(report["file"]))));
}

// ---------------------------------------------------------------- threads

HK_SCENARIO(LogEightThreads) {
    const int kThreads = 8, kRecords = 400;
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            std::printf("id%d=%lu\n", t, ::GetCurrentThreadId());
            ready.fetch_add(1);
            while (ready.load() < kThreads) {
            }
            // All arrive together at the level read, the clock and the open.
            CDesktopLog log("Threads::Write");
            for (int i = 0; i < kRecords; ++i) {
                log.LogTextInt(LOG_INFO, "thread %s record %d padding\n",
                               std::string(40 + (i % 50), 'x').c_str(), t * kRecords + i);
            }
        });
    }
    for (auto& th : threads) {
        th.join();
    }
    return 0;
}

TEST(LogThreads, EightWritersNeverMixWithinALine) {
    TempDir dir(L"threads");
    ScenarioResult r = RunLogged("LogEightThreads", 3, dir);
    ASSERT_EQ(0u, r.exitCode) << r.output;
    auto report = ParseReport(r.output);
    auto files = LogFiles(dir);
    ASSERT_EQ(1u, files.size()); // one open although eight threads came at once
    auto lines = ParseLog(dir.File(files[0].c_str()));
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ("Log file created (level 3).", lines[0].text);
    std::regex record(R"(thread (x+) record (\d+) padding)");
    std::set<int> seen;
    for (const auto& l : lines) {
        std::smatch m;
        if (!std::regex_match(l.text, m, record)) {
            EXPECT_TRUE(l.text == "Threads::Write" || l.text == "~Threads::Write" || &l == &lines[0] ||
                        l.text == "Stowhaven desktop exited successfully" || l.text == "Log file closed.")
                << l.text;
            continue;
        }
        int n = std::stoi(m[2]);
        EXPECT_EQ(40u + (n % 400 % 50), m[1].length());
        EXPECT_EQ(std::stol(report["id" + std::to_string(n / 400)]), l.thread);
        EXPECT_TRUE(seen.insert(n).second) << n;
    }
    EXPECT_EQ(8u * 400u, seen.size());
}

} // namespace
