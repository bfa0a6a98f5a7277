// The log's pure pieces: file names, level decoding, line-feed expansion and
// the buffers that switch from their fixed space to the heap.
#include "log/LogFormat.h"

#include <gtest/gtest.h>
#include <string>

namespace {

TEST(LogFormat, FileNameIsFixedWidthAndTakesASuffixWhenTaken) {
    SYSTEMTIME t = {};
    t.wYear = 2026, t.wMonth = 3, t.wDay = 4, t.wHour = 5, t.wMinute = 6, t.wSecond = 7, t.wDayOfWeek = 3;
    wchar_t name[MAX_PATH];
    ASSERT_TRUE(hklog::BuildLogFileName(name, MAX_PATH, L"C:\\t\\", t, 0));
    EXPECT_STREQ(L"C:\\t\\sh_client_log_20260304050607.txt", name);
    ASSERT_TRUE(hklog::BuildLogFileName(name, MAX_PATH, L"C:\\t\\", t, 7));
    EXPECT_STREQ(L"C:\\t\\sh_client_log_20260304050607_07.txt", name);
    EXPECT_FALSE(hklog::BuildLogFileName(name, 20, L"C:\\t\\", t, 0));
    EXPECT_STREQ(L"", name);
}

TEST(LogFormat, LevelKeepsKnownLowBitsAndTheTracingBit) {
    EXPECT_EQ(3, hklog::DecodeLoggingLevel(0x80000003).level);
    EXPECT_TRUE(hklog::DecodeLoggingLevel(0x80000003).tracing);
    EXPECT_EQ(2, hklog::DecodeLoggingLevel(0x00010002).level);
    EXPECT_EQ(0, hklog::DecodeLoggingLevel(0x7FFF0000).level);
    EXPECT_FALSE(hklog::DecodeLoggingLevel(0x7FFF0000).tracing);
    for (DWORD v : {4u, 5u, 8u, 10u, 0xFFFFu}) {
        EXPECT_EQ(1, hklog::DecodeLoggingLevel(v).level) << v;
    }
}

TEST(LogFormat, RecordsStoreLineFeedsAsCrLfAndLongOnesGrow) {
    hklog::RecordBuffer small;
    small.Format("a\n\nb %d\n", 5);
    EXPECT_EQ("a\r\n\r\nb 5\r\n", std::string(small.data(), small.size()));

    std::string big(3000, 'y');
    hklog::RecordBuffer large;
    large.Format("%s\n%s", big.c_str(), "\n");
    EXPECT_EQ(big + "\r\n\r\n", std::string(large.data(), large.size()));

    // Exactly filling the fixed space, then needing room for the CRs.
    std::string edge(1023, '\n');
    hklog::RecordBuffer full;
    full.Format("%s", edge.c_str());
    EXPECT_EQ(2046u, full.size());
}

TEST(LogFormat, Utf8ConversionBeyondTheFixedBuffer) {
    EXPECT_EQ(nullptr, hklog::Utf8Text(nullptr).get());
    std::wstring shortText(64, L'\u00e9'), longText(1000, L'\u20ac');
    EXPECT_EQ(128u, std::string(hklog::Utf8Text(shortText.c_str()).get()).size());
    std::string converted(hklog::Utf8Text(longText.c_str()).get());
    ASSERT_EQ(3000u, converted.size());
    EXPECT_EQ("\xE2\x82\xAC", converted.substr(2997));
}

TEST(LogFormat, TimeStampPictureAndUnconvertibleValues) {
    SYSTEMTIME st = {2026, 12, 0, 4, 2, 48, 54, 7};
    FILETIME ft;
    ASSERT_TRUE(::SystemTimeToFileTime(&st, &ft));
    char text[64];
    ASSERT_TRUE(hklog::RenderTimeStamp(ft, text, sizeof(text)));
    EXPECT_STREQ("04/12/2026 02:48:54.007", text);
    FILETIME bad = {0, 0x80000000u};
    EXPECT_FALSE(hklog::RenderTimeStamp(bad, text, sizeof(text)));
    EXPECT_STREQ("", text);
}

TEST(LogFormat, ThreadFieldAndHeaderLayout) {
    char field[13];
    EXPECT_EQ(6u, hklog::FormatThreadField(field, 812));
    EXPECT_STREQ("[ 812]", field);
    hklog::FormatThreadField(field, 7);
    EXPECT_STREQ("[   7]", field);
    hklog::FormatThreadField(field, 4294967295u);
    EXPECT_STREQ("[4294967295]", field);

    char header[64];
    const char stamp[] = "04/12/2026 02:48:54.123";
    ASSERT_EQ(41u, hklog::ComposeHeader(header, sizeof(header), stamp, "[ 812]", "TAG: ", 5, "x %d\n"));
    EXPECT_STREQ("04/12/2026 02:48:54.123[ 812]: TAG: x %d\n", header);
    hklog::ComposeHeader(header, sizeof(header), stamp, "", "", 0, "y");
    EXPECT_STREQ("04/12/2026 02:48:54.123: y", header);
    // Too small: the size needed, nothing written.
    header[0] = 'z';
    EXPECT_EQ(27u, hklog::ComposeHeader(header, 26, stamp, "", "", 0, "y"));
    EXPECT_EQ('z', header[0]);
}

} // namespace
