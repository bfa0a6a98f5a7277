// The retry wait: bounds, rounding of the random element, the infinite
// cases and a failing generator.
#include "Hearthkit.h"
#include "LoggedRun.h"

#include <gtest/gtest.h>
#include <cerrno>
#include <cstdlib>
#include <ctime>
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

TEST(RetryInterval, NoRandomElementIsTheBaseExactly) {
    ControlledRetry retry(60, 0);
    EXPECT_EQ(60000u, retry.GetRetryIntervalInMilliSeconds());
    EXPECT_EQ(60000u, retry.With(FixedDraw));
    EXPECT_EQ(0, g_calls); // the generator is not asked
    EXPECT_EQ(10000000LL, RetryInterval(1, 0).GetRetryIntervalIn100NS());
}

TEST(RetryInterval, DrawIsScaledToTheNearestSecond) {
    ControlledRetry retry(60, 30);
    EXPECT_EQ(60000u, retry.Drawing(0));
    EXPECT_EQ(1, g_calls);
    EXPECT_EQ(90000u, retry.Drawing(0xFFFFFFFF));
    EXPECT_EQ(75000u, retry.Drawing(0x80000000));
    ControlledRetry one(60, 1);
    EXPECT_EQ(60000u, one.Drawing(0x7FFFFFFF)); // just under half a second
    EXPECT_EQ(61000u, one.Drawing(0x80000000)); // just over
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

TEST(RetryInterval, FailingGeneratorLeavesTheRandomElementOut) {
    ControlledRetry retry(60, 30);
    EXPECT_EQ(60000u, retry.With(FailingDraw));
    EXPECT_EQ(1, g_calls);
}

TEST(RetryInterval, FourMillionSecondsAndMoreAreInfinite) {
    EXPECT_EQ(INFINITE, ControlledRetry(4294967, 0).With(FixedDraw));
    EXPECT_EQ(INFINITE, ControlledRetry(0, 4294967).With(FixedDraw));
    EXPECT_EQ(0, g_calls);
    EXPECT_EQ(INFINITE, RetryInterval(0xFFFFFFFF, 0xFFFFFFFF).GetRetryIntervalInMilliSeconds());
    EXPECT_EQ(4294966000u, RetryInterval(4294966, 0).GetRetryIntervalInMilliSeconds());

    ControlledRetry edge(4294966, 2);
    EXPECT_EQ(4294966000u, edge.Drawing(0));
    EXPECT_EQ(INFINITE, edge.Drawing(0x80000000)); // element 1
    EXPECT_EQ(INFINITE, edge.Drawing(0xFFFFFFFF)); // element 2
    EXPECT_EQ(4294966000u, edge.With(FailingDraw));

    // Infinite in 100 ns units is a plain, finite number.
    EXPECT_EQ(42949672950000LL, RetryInterval(4294967, 0).GetRetryIntervalIn100NS());
}

TEST(RetryInterval, ConstructionSeedsRandWithTheTime) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        srand(12345);
        __time64_t before = _time64(nullptr);
        RetryInterval retry(1, 1);
        int first = rand(), second = rand();
        if (_time64(nullptr) != before) {
            continue; // the second changed under us: try again
        }
        srand(static_cast<unsigned int>(before));
        EXPECT_EQ(rand(), first);
        EXPECT_EQ(rand(), second);
        return;
    }
    FAIL() << "the clock kept moving";
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
