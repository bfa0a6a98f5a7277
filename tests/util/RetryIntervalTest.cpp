// The retry wait: bounds, rounding of the random element, the infinite
// cases and a failing generator.
#include "Hearthkit.h"
#include "LoggedRun.h"

#include <gtest/gtest.h>
#include <cerrno>
#include <cstdlib>
#include <set>

namespace {

static_assert(sizeof(RetryInterval) == 2 * sizeof(DWORD), "RetryInterval holds its two DWORDs only");

unsigned int g_draw = 0;
int g_calls = 0;

int __cdecl FixedDraw(unsigned int* value) {
    ++g_calls;
    *value = g_draw;
    return 0;
}

int __cdecl FailingDraw(unsigned int* value) {
    ++g_calls;
    *value = 0xFFFFFFFF; // a failing source's output must not be used
    return EINVAL;
}

// Runs the computation on a source of the test's choosing.
class ControlledRetry : public RetryInterval {
public:
    using RetryInterval::RetryInterval;
    DWORD With(RandomSource source) const {
        g_calls = 0;
        return GetRetryIntervalInMilliSeconds(source);
    }
    DWORD Drawing(unsigned int draw) const {
        g_draw = draw;
        return With(FixedDraw);
    }
};

// The draw is scaled to the nearest second and asked for only when there is
// a random element; a failing source leaves it out; four million seconds
// and more are infinite.
TEST(RetryInterval, WaitFromBaseAndDraw) {
    const struct {
        DWORD base, random;
        bool failing;
        unsigned int draw;
        DWORD ms;
        int calls;
    } cases[] = {
        {60, 0, false, 0, 60000, 0},
        {60, 30, false, 0, 60000, 1},
        {60, 30, false, 0xFFFFFFFF, 90000, 1},
        {60, 30, false, 0x80000000, 75000, 1},
        {60, 1, false, 0x7FFFFFFF, 60000, 1}, // just under half a second
        {60, 1, false, 0x80000000, 61000, 1}, // just over
        {60, 30, true, 0, 60000, 1},
        {4294967, 0, false, 0, INFINITE, 0},
        {0, 4294967, false, 0, INFINITE, 0},
        {4294966, 2, false, 0, 4294966000u, 1},
        {4294966, 2, false, 0x80000000, INFINITE, 1},
        {4294966, 2, false, 0xFFFFFFFF, INFINITE, 1},
        {4294966, 2, true, 0, 4294966000u, 1},
    };
    for (const auto& c : cases) {
        ControlledRetry retry(c.base, c.random);
        g_draw = c.draw;
        EXPECT_EQ(c.ms, retry.With(c.failing ? FailingDraw : FixedDraw)) << c.base << "+" << c.random;
        EXPECT_EQ(c.calls, g_calls) << c.base << "+" << c.random;
    }
    EXPECT_EQ(INFINITE, RetryInterval(0xFFFFFFFF, 0xFFFFFFFF).GetRetryIntervalInMilliSeconds());
    // Infinite in 100 ns units is a plain, finite number.
    EXPECT_EQ(10000000LL, RetryInterval(1, 0).GetRetryIntervalIn100NS());
    EXPECT_EQ(42949672950000LL, RetryInterval(4294967, 0).GetRetryIntervalIn100NS());
}

TEST(RetryInterval, SystemGeneratorStaysInRangeAndVaries) {
    RetryInterval retry(60, 30);
    std::set<DWORD> seen;
    for (int i = 0; i < 64; ++i) {
        DWORD ms = retry.GetRetryIntervalInMilliSeconds();
        ASSERT_GE(ms, 60000u);
        ASSERT_LE(ms, 90000u);
        ASSERT_EQ(0u, ms % 1000);
        seen.insert(ms);
    }
    EXPECT_GT(seen.size(), 4u);
}

// The decisions above and the utilities' failures as logged by a fresh
// process (the level is read once per process).
HK_SCENARIO(UtilLogLines) {
    RetryInterval(60, 0).GetRetryIntervalInMilliSeconds();
    ControlledRetry(60, 30).Drawing(0x80000000);
    RetryInterval(4294967, 0).GetRetryIntervalInMilliSeconds();
    ControlledRetry(4294966, 2).Drawing(0xFFFFFFFF);
    DiskUtil::HCStoreSize(L"C:\\no such store\\");
    DiskUtil::GetFreeSpaceInMb(L"Q:\\");
    Directory::GetFiles(L"C:\\windows", L"*.none");
    FILETIME ft;
    HearthkitUtil::ConvertISO8601ToFileTime(L"2024-03-05 14:07:09", &ft);
    return 0;
}

TEST(UtilLog, DecisionsAndFailuresAreLogged) {
    auto run = hk::test::RunLoggedScenario("UtilLogLines");
    ASSERT_EQ(0u, run.result.exitCode) << run.result.output;
    const std::string& text = run.log;

    const char* expected[] = {
        ": Random element of retry interval is turned off (0)\r\n",
        ": Retry interval of '60' seconds\r\n",
        ": Random element of retry interval is '15'\r\n",
        ": Retry interval of '75' seconds\r\n",
        ": Infinite retry being used\r\n",
        ": Retry with random element exceeds maximum\r\n",
        ": CONTENT:STORE: HC byte count reset to 0 during sync (received INVALID_HANDLE_VALUE)\r\n",
        ": Failed to acquire free space",
        ": Search:\\\\?\\C:\\windows\\*.none\r\n",
        ": Not an ISO 8601 date and time: '2024-03-05 14:07:09'\r\n",
    };
    size_t from = 0;
    for (const char* line : expected) {
        size_t found = text.find(line, from);
        EXPECT_NE(std::string::npos, found) << "missing or out of order: " << line << "\n--- log ---\n"
                                            << text;
        if (found != std::string::npos) {
            from = found;
        }
    }
}

} // namespace
