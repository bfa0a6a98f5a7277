// The desktop settings text: each rule of the format with exact maps, hostile
// bytes, and generated and mutated texts checked against the format's
// invariants.
#include "config/SettingsText.h"

#include "TestEnv.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <chrono>
#include <cstring>
#include <cwctype>
#include <random>
#include <string>
#include <vector>

using hk::config::ParseSettingsBytes;
using hk::config::ParseSettingsText;
using hk::config::SettingsMap;

namespace {

SettingsMap Parse(const std::wstring& text) {
    SettingsMap map;
    ParseSettingsText(text.data(), text.size(), map);
    return map;
}

std::vector<BYTE> Utf16Bytes(std::wstring text, bool bom = true) {
    if (bom) {
        text.insert(0, 1, L'\xFEFF');
    }
    const BYTE* bytes = reinterpret_cast<const BYTE*>(text.data());
    return std::vector<BYTE>(bytes, bytes + text.size() * sizeof(wchar_t));
}

SettingsMap ParseBytes(const std::vector<BYTE>& bytes) {
    SettingsMap map;
    ParseSettingsBytes(bytes.data(), bytes.size(), map);
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
        {L"A=x\n\r\n", {{L"A", L"x"}}},
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
        {L"AddServerToIntranetZone=a;b\r\nremoveserverfromintranetzone = c; d \r\nSHSERVERSX=srv1;srv2",
         {{L"ADDSERVERTOINTRANETZONE", L"a;b"},
          {L"REMOVESERVERFROMINTRANETZONE", L"c; d"},
          {L"SHSERVERSX", L"srv1"}}},
        {L"SHSERVERS=srv1;srv2\r\nHLMessageClassInclude=IPM.Note;IPM.Post",
         {{L"SHSERVERS", L"srv1;srv2"}, {L"HLMESSAGECLASSINCLUDE", L"IPM.Note;IPM.Post"}}},
        {L"HLMESSAGECLASSEXCLUDE=;x;\r\nHLRootDirectorySearchPath=C:\\a;D:\\b",
         {{L"HLMESSAGECLASSEXCLUDE", L";x;"}, {L"HLROOTDIRECTORYSEARCHPATH", L"C:\\a;D:\\b"}}},
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

TEST(SettingsTextBytes, ByteOrderMarkSkippedOddByteDroppedTextEndsAtNul) {
    EXPECT_EQ((SettingsMap{{L"A", L"1"}}), ParseBytes(Utf16Bytes(L"A=1")));
    EXPECT_EQ((SettingsMap{{L"A", L"1"}}), ParseBytes(Utf16Bytes(L"A=1", false)));
    std::vector<BYTE> odd = Utf16Bytes(L"A=12");
    odd.pop_back();
    EXPECT_EQ((SettingsMap{{L"A", L"1"}}), ParseBytes(odd));
    EXPECT_EQ((SettingsMap{{L"A", L"1"}}), ParseBytes(Utf16Bytes(std::wstring(L"A=1\0\r\nB=2", 10))));
    // Only a leading mark is skipped; one inside the text is a character.
    EXPECT_EQ((SettingsMap{{L"\xFEFF"
                            L"A",
                            L"1"}}),
              ParseBytes(Utf16Bytes(L"\xFEFF"
                                    L"A=1")));
}

TEST(SettingsTextBytes, HostileInputParsesWithoutHarm) {
    SettingsMap map;
    ParseSettingsBytes(nullptr, 10, map);
    ParseSettingsBytes("", 0, map);
    ParseSettingsBytes("\xFF", 1, map);
    ParseSettingsBytes("\xFF\xFE", 2, map);
    EXPECT_TRUE(map.empty());
    // Eight-bit text read as UTF-16: pairs of characters become single units.
    const char ascii[] = "A=1\r\nB=2\r\n";
    ParseSettingsBytes(ascii, sizeof(ascii) - 1, map);
    EXPECT_TRUE(map.empty());
    // Unpaired surrogates and an unaligned buffer.
    std::vector<BYTE> bytes = Utf16Bytes(L"\xD800=\xDC00\r\nK=\xDFFF");
    bytes.insert(bytes.begin(), 0);
    ParseSettingsBytes(bytes.data() + 1, bytes.size() - 1, map);
    EXPECT_EQ((SettingsMap{{L"\xD800", L"\xDC00"}, {L"K", L"\xDFFF"}}), map);
}

TEST(SettingsTextBytes, SeveralMegabytesInLinearTime) {
    std::wstring lines;
    for (int i = 0; i < 100000; ++i) {
        lines += L"Key" + std::to_wstring(i % 1000) + L" = value;comment\r\n";
    }
    std::wstring oneLine(3 * 1024 * 1024, L'x');
    std::wstring message = L"CUSTOMLOGINMESSAGE=start\r\n";
    for (int i = 0; i < 200000; ++i) {
        message += L"line without equals sign\r\n";
    }
    auto start = std::chrono::steady_clock::now();
    SettingsMap map = Parse(lines);
    EXPECT_EQ(1000u, map.size());
    EXPECT_EQ(L"value", map[L"KEY999"]);
    EXPECT_TRUE(Parse(oneLine).empty());
    EXPECT_EQ((SettingsMap{{L"X", oneLine}}), Parse(L"X=" + oneLine));
    map = Parse(message);
    EXPECT_EQ(26u * 200000 + 5, map[L"CUSTOMLOGINMESSAGE"].size());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
}

namespace {

// Fragments that touch every rule: separators, blanks, comments, booleans,
// list keys in mixed case, the message key and characters outside ASCII;
// separated by "|".
const wchar_t kFragments[] = L"=|;| |\t|\r\n|\n|\r|TRUE|false|tRuE|FALSE|1|key|Value|ShServers|"
                             L"HLRootDirectorySearchPath|addservertointranetzone|CUSTOMLOGINMESSAGE|"
                             L"CustomLoginMessage|\x00e4|\x3000|\xFEFF|\xD800|x;y|a=b";

struct ExpectedLine {
    std::wstring key; // trimmed, upper case
    std::wstring raw; // everything after the first "="
};

std::wstring TrimWhite(const std::wstring& s) {
    size_t b = 0, e = s.size();
    while (b < e && std::iswspace(s[b])) {
        ++b;
    }
    while (e > b && std::iswspace(s[e - 1])) {
        --e;
    }
    return s.substr(b, e - b);
}

bool IsTrimmed(const std::wstring& s) {
    return s.empty() || (!std::iswspace(s.front()) && !std::iswspace(s.back()));
}

// The lines of text that carry a setting, found the plain way: split at CR
// LF, then keep the lines whose first non-blank character is neither ";" nor
// "=" and that hold an "=".
std::vector<ExpectedLine> SettingLines(std::wstring text) {
    text.resize(std::min(text.size(), text.find(L'\0')));
    std::vector<ExpectedLine> out;
    size_t pos = 0;
    for (;;) {
        size_t crlf = text.find(L"\r\n", pos);
        std::wstring line = text.substr(pos, crlf == std::wstring::npos ? std::wstring::npos : crlf - pos);
        size_t lead = 0;
        while (lead < line.size() && std::iswspace(line[lead])) {
            ++lead;
        }
        size_t eq = line.find(L'=');
        if (lead < line.size() && line[lead] != L';' && line[lead] != L'=' && eq != std::wstring::npos) {
            out.push_back({hk::config::ToUpperKey(TrimWhite(line.substr(0, eq))), line.substr(eq + 1)});
        }
        if (crlf == std::wstring::npos) {
            return out;
        }
        pos = crlf + 2;
    }
}

// Checks one parse against the invariants; returns a description of the
// first violation, or an empty string.
std::wstring Violation(const std::wstring& text, const SettingsMap& map) {
    std::vector<ExpectedLine> lines = SettingLines(text);
    SettingsMap last;
    for (const ExpectedLine& line : lines) {
        last[line.key] = line.raw;
    }
    if (map.size() != last.size()) {
        return L"keys differ from the setting lines";
    }
    for (const auto& [key, value] : map) {
        auto found = last.find(key);
        if (found == last.end()) {
            return L"key not from a setting line: " + key;
        }
        if (!IsTrimmed(value)) {
            return L"value not trimmed: " + key;
        }
        const std::wstring& raw = found->second;
        std::wstring upperRaw = hk::config::ToUpperKey(raw);
        bool boolean = upperRaw == L"TRUE" || upperRaw == L"FALSE";
        std::wstring converted = upperRaw == L"TRUE" ? L"1" : L"0";
        if (key == L"CUSTOMLOGINMESSAGE") {
            // Lines after the first are whole lines without "=".
            size_t crlf = value.find(L"\r\n");
            if (crlf != std::wstring::npos && value.find(L'=', crlf) != std::wstring::npos) {
                return L"message took a line with an equals sign";
            }
            if (boolean && value.compare(0, 1, converted) != 0) {
                return L"message boolean not converted";
            }
            continue;
        }
        if (boolean) {
            if (value != converted) {
                return L"boolean not converted: " + key;
            }
            continue;
        }
        if (hk::config::IsSettingsListKey(key)) {
            if (value != TrimWhite(raw)) {
                return L"list value cut: " + key;
            }
            continue;
        }
        // An ordinary value is the raw value cut at a ";" after its first
        // character, then trimmed.
        size_t cut = raw.find(L';', 1);
        if (value != TrimWhite(raw.substr(0, cut))) {
            return L"ordinary value wrong: " + key;
        }
    }
    return {};
}

std::wstring Generate(std::mt19937& rng) {
    static const std::vector<std::wstring> fragments = [] {
        std::vector<std::wstring> out(1);
        for (const wchar_t* c = kFragments; *c != L'\0'; ++c) {
            if (*c == L'|') {
                out.emplace_back();
            } else {
                out.back() += *c;
            }
        }
        return out;
    }();
    std::wstring text;
    int pieces = static_cast<int>(rng() % 24);
    for (int i = 0; i < pieces; ++i) {
        switch (rng() % 8) {
        case 0:
            text += static_cast<wchar_t>(0x20 + rng() % 0x60);
            break;
        case 1:
            text += static_cast<wchar_t>(1 + rng() % 0xFFFF);
            break;
        default:
            text += fragments[rng() % fragments.size()];
            break;
        }
    }
    return text;
}

// A generated text as attachment bytes, then damaged: bytes flipped,
// dropped or repeated, the mark sometimes missing.
std::vector<BYTE> Mutate(const std::wstring& text, std::mt19937& rng) {
    std::vector<BYTE> bytes = Utf16Bytes(text, rng() % 4 != 0);
    int edits = static_cast<int>(rng() % 4);
    for (int i = 0; i < edits && !bytes.empty(); ++i) {
        size_t at = rng() % bytes.size();
        switch (rng() % 3) {
        case 0:
            bytes[at] = static_cast<BYTE>(rng());
            break;
        case 1:
            bytes.erase(bytes.begin() + static_cast<std::ptrdiff_t>(at));
            break;
        default:
            bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(at), bytes[at]);
            break;
        }
    }
    return bytes;
}

std::wstring Decode(const std::vector<BYTE>& bytes) {
    std::wstring text(bytes.size() / 2, L'\0');
    std::memcpy(&text[0], bytes.data(), text.size() * sizeof(wchar_t));
    return text.compare(0, 1, L"\xFEFF") == 0 ? text.substr(1) : text;
}

} // namespace

TEST(SettingsTextProperties, GeneratedAndMutatedTextsKeepTheInvariants) {
    std::mt19937 rng(20261205);
    const int kTexts = 100000;
    int withKeys = 0;
    for (int i = 0; i < kTexts; ++i) {
        std::wstring text = Generate(rng);
        SettingsMap map;
        if (i % 2 == 0) {
            ParseSettingsText(text.data(), text.size(), map);
        } else {
            std::vector<BYTE> bytes = Mutate(text, rng);
            ParseSettingsBytes(bytes.data(), bytes.size(), map);
            text = Decode(bytes);
        }
        std::wstring violation = Violation(text, map);
        if (!violation.empty()) {
            FAIL() << "text " << i << ": " << std::string(violation.begin(), violation.end());
        }
        withKeys += map.empty() ? 0 : 1;
    }
    // The generator must reach the rules, not only produce ignored lines.
    EXPECT_GT(withKeys, kTexts / 4);
}
