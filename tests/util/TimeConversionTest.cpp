// Time conversions: units, the current time, ISO 8601 text both ways. Every
// conversion is in UTC; the tests run at +05:30 (TZ in CMakeLists.txt), so
// one made through local time shows.
#include "Hearthkit.h"

#include <gtest/gtest.h>

namespace {

// 2024-03-05T14:07:09Z and 1999-12-31T23:59:59Z as FILETIME counts, worked
// out from their Unix times (+ 11644473600 s).
const __int64 k20240305 = 133541212290000000LL;
const __int64 k19991231 = 125911583990000000LL;
const __int64 kUntouched = static_cast<__int64>(0xdeadbeefdeadbeefULL);

TEST(TimeUnits, MinutesWidenWithoutSignAndMillisecondsTruncate) {
    EXPECT_EQ(4294967295LL * 600000000LL, HearthkitUtil::MinsTo100NS(0xFFFFFFFF));
    EXPECT_EQ(60000u, HearthkitUtil::NS100ToMS(600000000));
    // Truncation toward zero, then the low 32 bits.
    EXPECT_EQ(0xFFFFFFFFu, HearthkitUtil::NS100ToMS(-15000));
    EXPECT_EQ(0u, HearthkitUtil::NS100ToMS(-9999));
    EXPECT_EQ(0u, HearthkitUtil::NS100ToMS(10000LL << 32));
}

TEST(TimeUnits, NowIsTheSystemTimeInWholeMilliseconds) {
    TIME_ZONE_INFORMATION zone;
    ::GetTimeZoneInformation(&zone);
    ASSERT_EQ(-330, zone.Bias) << "the test process is not in the zone CMakeLists.txt sets";
    FILETIME before, after;
    ::GetSystemTimeAsFileTime(&before);
    __int64 now = HearthkitUtil::Now();
    ::GetSystemTimeAsFileTime(&after);
    EXPECT_EQ(0, now % 10000);
    EXPECT_GE(now, HearthkitUtil::FileTimeToInt64(before) / 10000 * 10000);
    EXPECT_LE(now, HearthkitUtil::FileTimeToInt64(after));
}

// Two shapes, either case of T, hyphens not examined; anything else, or an
// invalid date, fails without writing.
TEST(Iso8601, ParsesTheTwoShapesOnly) {
    const struct {
        const wchar_t* text;
        HRESULT hr;
        __int64 time;
    } cases[] = {
        {L"2024-03-05T14:07:09Z", S_OK, k20240305},
        {L"2024-03-05t14:07:09", S_OK, k20240305},
        {L"2024/03/05T14:07:09", S_OK, k20240305},
        {L"1999-12-31T23:59:59", S_OK, k19991231},
        {L"2024-03-05T14:07:09z", E_FAIL, kUntouched},
        {L"2024-03-05 14:07:09", E_FAIL, kUntouched},
        {L"2024-03-05T14:07:09.000Z", E_FAIL, kUntouched},
        {L"2024-03-05T14:07:0", E_FAIL, kUntouched},
        {L"2024-03-05T14:07:09ZZ", E_FAIL, kUntouched},
        {L"", E_FAIL, kUntouched},
        {L"2024-03-05T14-07:09", E_FAIL, kUntouched},
        {L"2024-03-05T14:07-09", E_FAIL, kUntouched},
        {L"2024-00-05T14:07:09", E_FAIL, kUntouched},
        {L"2024-03-32T14:07:09", E_FAIL, kUntouched},
        {L"2024-13-05T14:07:09", E_FAIL, kUntouched},
        {L"2024-xx-05T14:07:09", E_FAIL, kUntouched},
        {L"2024-03-05T24:00:00", E_FAIL, kUntouched},
        {L"0000-03-05T14:07:09", E_FAIL, kUntouched},
        {nullptr, E_INVALIDARG, kUntouched},
    };
    for (const auto& c : cases) {
        FILETIME ft = {0xdeadbeef, 0xdeadbeef};
        EXPECT_EQ(c.hr, HearthkitUtil::ConvertISO8601ToFileTime(c.text, &ft)) << (c.text ? c.text : L"null");
        EXPECT_EQ(c.time, HearthkitUtil::FileTimeToInt64(ft)) << (c.text ? c.text : L"null");
    }
    EXPECT_EQ(E_INVALIDARG, HearthkitUtil::ConvertISO8601ToFileTime(L"2024-03-05T14:07:09", nullptr));
}

// 24-hour UTC whatever the locale; milliseconds dropped, not rounded; a zero
// or invalid time leaves the output alone.
TEST(Iso8601, FormatsTwentyFourHourUtc) {
    const struct {
        __int64 time;
        const wchar_t* text;
    } cases[] = {
        {k20240305, L"2024-03-05T14:07:09"},
        {k19991231, L"1999-12-31T23:59:59"},
        {k20240305 - (14 * 3600 + 7 * 60 + 9) * 10000000LL, L"2024-03-05T00:00:00"},
        {k20240305 + 9990000, L"2024-03-05T14:07:09"},
        {0, nullptr},
        {-1, nullptr},
    };
    for (int english : {1, 0}) {
        for (const auto& c : cases) {
            BSTR text = reinterpret_cast<BSTR>(static_cast<ULONG_PTR>(0xdeadbeef));
            EXPECT_EQ(S_OK, HearthkitUtil::ConvertFileTimeToISO8601(HearthkitUtil::Int64ToFileTime(c.time),
                                                                    &text, english));
            if (c.text == nullptr) {
                EXPECT_EQ(reinterpret_cast<BSTR>(static_cast<ULONG_PTR>(0xdeadbeef)), text) << c.time;
                continue;
            }
            EXPECT_STREQ(c.text, text) << english;
            ::SysFreeString(text);
        }
    }
    EXPECT_EQ(E_INVALIDARG,
              HearthkitUtil::ConvertFileTimeToISO8601(HearthkitUtil::Int64ToFileTime(k20240305), nullptr, 1));
}

} // namespace
