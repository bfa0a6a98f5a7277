// Trimming and splitting.
#include "Hearthkit.h"

#include <gtest/gtest.h>

namespace {

using Pieces = std::list<std::wstring>;

TEST(Trim, RemovesWhiteSpaceAtBothEndsOnly) {
    const std::pair<std::wstring, std::wstring> cases[] = {
        {L"\t\r\n\v\f ab \t\r\n\v\f", L"ab"},
        {L" a b ", L"a b"},
        {L"a ", L"a"},
        {L" a", L"a"},
        {L" \t ", L""},
        {L"", L""},
        {std::wstring(L" a\0b ", 5), std::wstring(L"a\0b", 3)},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.second, StdWStringUtil::trim(c.first)) << c.first;
    }
}

TEST(Split, EmptyPiecesExceptAtTheEnd) {
    EXPECT_EQ((Pieces{L"a", L"", L"b"}), StdWStringUtil::split(L"a,,b,", L','));
    EXPECT_EQ((Pieces{L"", L"a"}), StdWStringUtil::split(L",a", L','));
    EXPECT_EQ((Pieces{L"", L""}), StdWStringUtil::split(L",,", L','));
    EXPECT_EQ((Pieces{L"a b", L"c"}), StdWStringUtil::split(L"a b;c", L';'));
    EXPECT_TRUE(StdWStringUtil::split(L"", L',').empty());
}

} // namespace
