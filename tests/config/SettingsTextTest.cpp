// The desktop settings text: each rule of the format with exact maps, hostile
// bytes, and a text of several megabytes.
#include "config/SettingsText.h"

#include "TestEnv.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <chrono>
#include <string>

using hk::config::ParseSettingsBytes;
using hk::config::ParseSettingsText;
using hk::config::SettingsMap;

namespace {

SettingsMap Parse(const std::wstring& text) {
    SettingsMap map;
    ParseSettingsText(text.data(), text.size(), map);
    return map;
}

} // namespace

TEST(SettingsTextLines, EachRuleOfTheFormat) {
    const struct {
        const wchar_t* text;
        SettingsMap expected;
    } cases[] = {
        // Only CR LF separates lines.
        {L"A=1\r\nB=2\r\n\r\nC=3", {{L"A", L"1"}, {L"B", L"2"}, {L"C", L"3"}}},
        {L"A=1\nB=2", {{L"A", L"1\nB=2"}}},
        {L"A=1\rB=2\r\n", {{L"A", L"1\rB=2"}}},
        {L"=1\r\n  =2\r\n;A=1\r\n \t;B=2\r\nno equals sign\r\n   \r\n\t\r\n\r\n", {}},
        // Keys are trimmed, upper case, and end at the first "=".
        {L"A=1\r\nb = yes ;note", {{L"A", L"1"}, {L"B", L"yes"}}},
        {L" \tMixed key\t =a=b=c", {{L"MIXED KEY", L"a=b=c"}}},
        {L"\x00e4pfel=\x00e4", {{L"\x00C4PFEL", L"\x00e4"}}},
        // Booleans only when the value is exactly true or false; the list keys
        // and the message take them too.
        {L"A=true\r\nb=FaLsE\r\nc= true", {{L"A", L"1"}, {L"B", L"0"}, {L"C", L"true"}}},
        {L"d=FALSE \r\ne=TRUE;x\r\nf=TRUEX\r\ng=1",
         {{L"D", L"FALSE"}, {L"E", L"TRUE"}, {L"F", L"TRUEX"}, {L"G", L"1"}}},
        {L"shservers=false\r\nCustomLoginMessage=TRUE",
         {{L"SHSERVERS", L"0"}, {L"CUSTOMLOGINMESSAGE", L"1"}}},
        // Comments cut ordinary values from the second character on.
        {L"A=x;y\r\nB=;x\r\nC=;x;y\r\nD= ;x\r\nE=",
         {{L"A", L"x"}, {L"B", L";x"}, {L"C", L";x"}, {L"D", L""}, {L"E", L""}}},
        // List keys are never cut.
        {L"AddServerToIntranetZone=a;b\r\nremoveserverfromintranetzone = c; d \r\nSHSERVERSX=srv1;srv2\r\n"
         L"HLMESSAGECLASSEXCLUDE=;x;",
         {{L"ADDSERVERTOINTRANETZONE", L"a;b"},
          {L"REMOVESERVERFROMINTRANETZONE", L"c; d"},
          {L"SHSERVERSX", L"srv1"},
          {L"HLMESSAGECLASSEXCLUDE", L";x;"}}},
        {L"SHSERVERS=srv1;srv2\r\nHLMessageClassInclude=a;b\r\nHLRootDirectorySearchPath=C:\\a;D:\\b",
         {{L"SHSERVERS", L"srv1;srv2"},
          {L"HLMESSAGECLASSINCLUDE", L"a;b"},
          {L"HLROOTDIRECTORYSEARCHPATH", L"C:\\a;D:\\b"}}},
        // The message takes the following lines without "=" whole (its first
        // line is cut at a comment); a blank first value starts it at its
        // first text; a second message replaces the first.
        {L"CUSTOMLOGINMESSAGE=Hello\r\nworld\r\n\r\nNEXT=1",
         {{L"CUSTOMLOGINMESSAGE", L"Hello\r\nworld"}, {L"NEXT", L"1"}}},
        {L"customloginmessage = Hi ;c\r\n\r\n ;not a comment; \r\n  x\r\n\r\n",
         {{L"CUSTOMLOGINMESSAGE", L"Hi\r\n\r\n ;not a comment; \r\n  x"}}},
        {L"CUSTOMLOGINMESSAGE=a\r\n;x=1\r\nB=b\r\nno equals", {{L"CUSTOMLOGINMESSAGE", L"a"}, {L"B", L"b"}}},
        {L"CUSTOMLOGINMESSAGE=\r\none\r\ntwo", {{L"CUSTOMLOGINMESSAGE", L"one\r\ntwo"}}},
        {L"CUSTOMLOGINMESSAGE=first\r\nmore\r\nA=1\r\nCUSTOMLOGINMESSAGE=second",
         {{L"CUSTOMLOGINMESSAGE", L"second"}, {L"A", L"1"}}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.expected, Parse(c.text)) << hk::test::Narrow(c.text);
    }
}

TEST(SettingsTextLines, ALaterLineReplacesAnEarlierOneAndOtherEntriesStay) {
    SettingsMap map{{L"KEEP", L"old"}, {L"A", L"old"}};
    std::wstring text = L"A=1\r\na=2";
    ParseSettingsText(text.data(), text.size(), map);
    EXPECT_EQ((SettingsMap{{L"A", L"2"}, {L"KEEP", L"old"}}), map);
}

TEST(SettingsTextBytes, ALeadingMarkSkippedAnOddByteDroppedTheTextEndsAtNul) {
    auto utf16 = [](const std::wstring& text) {
        return std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
    };
    const struct {
        std::string bytes;
        SettingsMap expected;
    } cases[] = {
        {utf16(L"\uFEFFA=1"), {{L"A", L"1"}}},
        {utf16(L"A=1"), {{L"A", L"1"}}},
        {utf16(L"A=1") + "2", {{L"A", L"1"}}},
        {utf16(std::wstring(L"A=1\0B=2", 7)), {{L"A", L"1"}}},
        {utf16(L"\uFEFF\uFEFFA=1"), {{L"\uFEFFA", L"1"}}},   // only the leading mark goes
        {utf16(L"\xD800=\xDC00"), {{L"\xD800", L"\xDC00"}}}, // unpaired surrogates
        {"A=1\r\nB=2\r\n", {}},                              // 8-bit text: pairs become single units
        {"\xFF", {}},
        {"\xFF\xFE", {}},
    };
    for (const auto& c : cases) {
        // Once aligned for 16-bit units, once not: both read the same.
        const std::string shifted = " " + c.bytes;
        for (const char* data : {c.bytes.data(), shifted.data() + 1}) {
            SettingsMap map;
            ParseSettingsBytes(data, c.bytes.size(), map);
            EXPECT_EQ(c.expected, map) << c.bytes.size();
        }
    }
    SettingsMap map;
    ParseSettingsBytes(nullptr, 10, map);
    EXPECT_TRUE(map.empty());
}

TEST(SettingsTextBytes, SeveralMegabytesInLinearTime) {
    std::wstring lines;
    for (int i = 0; i < 100000; ++i) {
        lines += L"Key" + std::to_wstring(i % 1000) + L" = value;comment\r\n";
    }
    std::wstring message = L"CUSTOMLOGINMESSAGE=start\r\n";
    for (int i = 0; i < 200000; ++i) {
        message += L"line without equals sign\r\n";
    }
    auto start = std::chrono::steady_clock::now();
    SettingsMap map = Parse(lines);
    EXPECT_EQ(1000u, map.size());
    EXPECT_EQ(L"value", map[L"KEY999"]);
    map = Parse(message);
    EXPECT_EQ(26u * 200000 + 5, map[L"CUSTOMLOGINMESSAGE"].size());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
}
