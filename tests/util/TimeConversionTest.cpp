// Time conversions: FILETIME arithmetic, ISO 8601 text both ways.
#include "Hearthkit.h"

#include <gtest/gtest.h>

namespace {

// 2024-03-05T14:07:09Z and 1999-12-31T23:59:59Z as FILETIME counts, worked
// out from their Unix times (+ 11644473600 s).
const __int64 k20240305 = 133541212290000000LL;
const __int64 k19991231 = 125911583990000000LL;

FILETIME Poisoned() {
    return FILETIME{0xdeadbeef, 0xdeadbeef};
}

__int64 Parse(const wchar_t* text, HRESULT* hr) {
    FILETIME ft = Poisoned();
    *hr = HearthkitUtil::ConvertISO8601ToFileTime(text, &ft);
    return HearthkitUtil::FileTimeToInt64(ft);
}

std::wstring Format(__int64 value, int englishLocale, HRESULT* hr) {
    BSTR text = reinterpret_cast<BSTR>(static_cast<ULONG_PTR>(0xdeadbeef));
    *hr =
        HearthkitUtil::ConvertFileTimeToISO8601(HearthkitUtil::Int64ToFileTime(value), &text, englishLocale);
    if (text == reinterpret_cast<BSTR>(static_cast<ULONG_PTR>(0xdeadbeef))) {
        return L"<untouched>";
    }
    std::wstring result(text, ::SysStringLen(text));
    ::SysFreeString(text);
    return result;
}

TEST(TimeArithmetic, UnitsAndFileTimeHalves) {
    EXPECT_EQ(600000000LL, HearthkitUtil::MinsTo100NS(1));
    // Minutes are widened without sign.
    EXPECT_EQ(4294967295LL * 600000000LL, HearthkitUtil::MinsTo100NS(0xFFFFFFFF));
    EXPECT_EQ(60000u, HearthkitUtil::NS100ToMS(600000000));
    // Truncation toward zero, then the low 32 bits.
    EXPECT_EQ(0xFFFFFFFFu, HearthkitUtil::NS100ToMS(-15000));
    EXPECT_EQ(0u, HearthkitUtil::NS100ToMS(-9999));
    EXPECT_EQ(0u, HearthkitUtil::NS100ToMS(10000LL << 32));

    FILETIME ft = HearthkitUtil::Int64ToFileTime(0x0123456789ABCDEFLL);
    EXPECT_EQ(0x89ABCDEFu, ft.dwLowDateTime);
    EXPECT_EQ(0x01234567u, ft.dwHighDateTime);
    EXPECT_EQ(0x0123456789ABCDEFLL, HearthkitUtil::FileTimeToInt64(ft));
    FILETIME all = {0xFFFFFFFF, 0xFFFFFFFF};
    EXPECT_EQ(-1LL, HearthkitUtil::FileTimeToInt64(all));
}

// Every conversion here is in UTC; the tests run at +05:30 (TZ in
// CMakeLists.txt), so one made through local time shows.
TEST(TimeArithmetic, NowIsTheSystemTimeInMilliseconds) {
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

TEST(Iso8601Parse, AcceptsTheTwoShapesAndEitherCaseOfT) {
    // The hyphens are not examined.
    for (const wchar_t* text : {L"2024-03-05T14:07:09Z", L"2024-03-05t14:07:09", L"2024/03/05T14:07:09"}) {
        HRESULT hr = 0xdeadbeef;
        EXPECT_EQ(k20240305, Parse(text, &hr)) << text;
        EXPECT_EQ(S_OK, hr) << text;
    }
    HRESULT hr = 0xdeadbeef;
    EXPECT_EQ(k19991231, Parse(L"1999-12-31T23:59:59", &hr));
    EXPECT_EQ(S_OK, hr);
}

TEST(Iso8601Parse, RejectsOtherShapesAndInvalidDatesWithoutWriting) {
    const wchar_t* bad[] = {
        L"2024-03-05T14:07:09z", L"2024-03-05 14:07:09",   L"2024-03-05T14:07:09.000Z",
        L"2024-03-05T14:07:0",   L"2024-03-05T14:07:09ZZ", L"",
        L"2024-03-05T14-07:09",  L"2024-03-05T14:07-09",   L"2024-00-05T14:07:09",
        L"2024-03-32T14:07:09",  L"2024-13-05T14:07:09",   L"2024-xx-05T14:07:09",
        L"2024-03-05T24:00:00",  L"0000-03-05T14:07:09",
    };
    for (const wchar_t* text : bad) {
        HRESULT hr = 0xdeadbeef;
        EXPECT_EQ(static_cast<__int64>(0xdeadbeefdeadbeefULL), Parse(text, &hr)) << text;
        EXPECT_EQ(E_FAIL, hr) << text;
    }
    FILETIME ft = Poisoned();
    EXPECT_EQ(E_INVALIDARG, HearthkitUtil::ConvertISO8601ToFileTime(nullptr, &ft));
    EXPECT_EQ(0xdeadbeefu, ft.dwLowDateTime);
    EXPECT_EQ(E_INVALIDARG, HearthkitUtil::ConvertISO8601ToFileTime(L"2024-03-05T14:07:09", nullptr));
}

TEST(Iso8601Format, WritesTwentyFourHourUtcWithEitherLocale) {
    HRESULT hr = 0xdeadbeef;
    for (int english : {1, 0}) {
        EXPECT_EQ(L"2024-03-05T14:07:09", Format(k20240305, english, &hr)) << english;
        EXPECT_EQ(S_OK, hr);
        EXPECT_EQ(L"1999-12-31T23:59:59", Format(k19991231, english, &hr)) << english;
        EXPECT_EQ(L"2024-03-05T00:00:00",
                  Format(k20240305 - (14 * 3600 + 7 * 60 + 9) * 10000000LL, english, &hr));
    }
    // Milliseconds are dropped, not rounded.
    EXPECT_EQ(L"2024-03-05T14:07:09", Format(k20240305 + 9990000, 1, &hr));
}

TEST(Iso8601Format, ZeroOrInvalidTimeLeavesTheOutputAlone) {
    HRESULT hr = 0xdeadbeef;
    for (__int64 value : {0LL, -1LL}) {
        EXPECT_EQ(L"<untouched>", Format(value, 1, &hr)) << value;
        EXPECT_EQ(S_OK, hr) << value;
    }
    EXPECT_EQ(E_INVALIDARG,
              HearthkitUtil::ConvertFileTimeToISO8601(HearthkitUtil::Int64ToFileTime(k20240305), nullptr, 1));
}

} // namespace
