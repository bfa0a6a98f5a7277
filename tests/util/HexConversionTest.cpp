// Entry IDs and other binary values as hexadecimal text, both ways.
#include "Hearthkit.h"

#include <gtest/gtest.h>
#include <cstring>

namespace {

SBinary Bin(const BYTE* bytes, ULONG count) {
    SBinary b;
    b.cb = count;
    b.lpb = const_cast<BYTE*>(bytes);
    return b;
}

// Two upper-case digits a byte, cut at 250 bytes; the wchar form allocates
// for the caller.
TEST(EidText, TwoUpperCaseDigitsPerByteCutAt250Bytes) {
    std::vector<BYTE> big(300);
    for (size_t i = 0; i < big.size(); ++i) {
        big[i] = static_cast<BYTE>(i + 0xAB);
    }
    CComBSTR cut = HearthkitUtil::EidToBstr(Bin(big.data(), 300));
    ASSERT_EQ(500u, cut.Length());
    EXPECT_EQ(0, std::wcsncmp(L"ABACAD", cut, 6));
    EXPECT_STREQ(L"A2A3A4", cut.m_str + 494); // byte 249 is the last one
    EXPECT_EQ(0u, HearthkitUtil::EidToBstr(Bin(nullptr, 5)).Length());

    const BYTE bytes[] = {0x0E, 0xAD};
    wchar_t* text = nullptr;
    EXPECT_EQ(E_INVALIDARG, HearthkitUtil::EidToWchar(Bin(bytes, 2), nullptr));
    ASSERT_EQ(S_OK, HearthkitUtil::EidToWchar(Bin(bytes, 2), &text));
    EXPECT_STREQ(L"0EAD", text);
    delete[] text;
}

TEST(EidParse, StopsAtTheFirstIncompleteOrInvalidPair) {
    struct Case {
        const wchar_t* text;
        std::vector<BYTE> expected;
    } cases[] = {
        {L"0aB", {0x0A}},  {L"zz", {}},       {L"AbCdEf09", {0xAB, 0xCD, 0xEF, 0x09}},
        {L"0G12", {}},     {L"12:4", {0x12}}, {L"12@4", {0x12}},
        {L"12`4", {0x12}}, {L"", {}},
    };
    for (const auto& c : cases) {
        BYTE out[8];
        std::memset(out, 0xEE, sizeof(out));
        EXPECT_EQ(S_OK, HearthkitUtil::WcharToEid(const_cast<wchar_t*>(c.text), out)) << c.text;
        EXPECT_EQ(c.expected, std::vector<BYTE>(out, out + c.expected.size())) << c.text;
        EXPECT_EQ(0xEE, out[c.expected.size()]) << c.text; // nothing written past the last pair
    }
    BYTE out[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    EXPECT_EQ(E_INVALIDARG, HearthkitUtil::WcharToEid(nullptr, out));
    // The sized form stops when the buffer is full.
    size_t written = 0xdeadbeef;
    EXPECT_EQ(S_OK, HearthkitUtil::WcharToEid(L"A1B2C3", out, 2, &written));
    EXPECT_EQ(2u, written);
    EXPECT_EQ((std::vector<BYTE>{0xA1, 0xB2, 0xEE}), std::vector<BYTE>(out, out + 3));
    EXPECT_EQ(S_OK, HearthkitUtil::WcharToEid(L"A1x", out, 3, &written));
    EXPECT_EQ(1u, written);
}

TEST(HexIntoString, WritesIntoTheCallersSizedStringOnly) {
    const BYTE bytes[] = {0x01, 0xFE};
    std::wstring text(7, L'x');
    EXPECT_EQ(E_INVALIDARG, HearthkitUtil::HexStrToWchar(Bin(bytes, 2), text, 4));
    EXPECT_EQ(std::wstring(7, L'x'), text);
    EXPECT_EQ(E_INVALIDARG, HearthkitUtil::HexStrToWchar(Bin(bytes, 2), text, -1));

    ASSERT_EQ(S_OK, HearthkitUtil::HexStrToWchar(Bin(bytes, 2), text, 5));
    EXPECT_EQ(std::wstring(L"01FE\0xx", 7), text); // length kept, NUL after the digits
    EXPECT_STREQ(L"01FE", text.c_str());

    // A limit larger than the string cannot make it write past the end.
    std::wstring shortText(2, L'x');
    EXPECT_EQ(E_INVALIDARG, HearthkitUtil::HexStrToWchar(Bin(bytes, 2), shortText, 100));
    EXPECT_EQ(L"xx", shortText);
}

TEST(HexToBinary, EvenTextOfDigitsOnly) {
    // An odd length or no text leaves the bytes alone; a bad pair leaves
    // what was converted so far, then zeros.
    const HRESULT bad = static_cast<HRESULT>(0x80070057);
    struct Case {
        const wchar_t* text;
        HRESULT hr;
        std::vector<BYTE> bytes;
    } cases[] = {
        {L"0A1b", S_OK, {0x0A, 0x1B}},
        {L"0A1", bad, {7, 7, 7}},
        {nullptr, bad, {7, 7, 7}},
        {L"0AZZ", bad, {0x0A, 0x00}},
        {L"0A:0", bad, {0x0A, 0x00}},
        {L"0A0G", bad, {0x0A, 0x00}},
        {L"", S_OK, {}},
    };
    for (const auto& c : cases) {
        std::vector<BYTE> bytes = {7, 7, 7};
        EXPECT_EQ(c.hr, HearthkitUtil::HexStrToBinary(c.text, bytes)) << (c.text ? c.text : L"(null)");
        EXPECT_EQ(c.bytes, bytes) << (c.text ? c.text : L"(null)");
    }
}

} // namespace
