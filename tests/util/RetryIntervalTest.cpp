// The retry wait: bounds, rounding of the random element, the infinite
// cases and a failing generator.
#include "Hearthkit.h"

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

} // namespace
