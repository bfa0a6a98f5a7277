// Trimming and splitting.
#include "Hearthkit.h"

#include <gtest/gtest.h>

namespace {

using Pieces = std::list<std::wstring>;

TEST(Trim, RemovesWhiteSpaceAtBothEndsOnly) {
    EXPECT_EQ(L"ab", StdWStringUtil::trim(L"  ab  "));
    EXPECT_EQ(L"ab", StdWStringUtil::trim(L"\t\r\n\v\f ab \t\r\n\v\f"));
    EXPECT_EQ(L"a b", StdWStringUtil::trim(L" a b "));
    EXPECT_EQ(L"ab", StdWStringUtil::trim(L"ab"));
    EXPECT_EQ(L"a", StdWStringUtil::trim(L"a "));
    EXPECT_EQ(L"a", StdWStringUtil::trim(L" a"));
    EXPECT_EQ(L"", StdWStringUtil::trim(L" \t "));
    EXPECT_EQ(L"", StdWStringUtil::trim(L""));
    EXPECT_EQ(std::wstring(L"a\0b", 3), StdWStringUtil::trim(std::wstring(L" a\0b ", 5)));
}

TEST(Split, EmptyPiecesExceptAtTheEnd) {
    EXPECT_EQ((Pieces{L"a", L"", L"b"}), StdWStringUtil::split(L"a,,b,", L','));
    EXPECT_EQ((Pieces{L"", L"a"}), StdWStringUtil::split(L",a", L','));
    EXPECT_EQ((Pieces{L""}), StdWStringUtil::split(L",", L','));
    EXPECT_EQ((Pieces{L"", L""}), StdWStringUtil::split(L",,", L','));
    EXPECT_EQ((Pieces{L"abc"}), StdWStringUtil::split(L"abc", L','));
    EXPECT_EQ((Pieces{L"a b", L"c"}), StdWStringUtil::split(L"a b;c", L';'));
    EXPECT_TRUE(StdWStringUtil::split(L"", L',').empty());
}

} // namespace
