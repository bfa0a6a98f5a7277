// The pure path and version work of desktop-search indexing.
#include "search/WdsPaths.h"

#include <gtest/gtest.h>

using hk::wds::ParseVersion;
using hk::wds::RequestName;
using hk::wds::SplitPath;

TEST(WdsPaths, PiecesAndRequestNames) {
    EXPECT_EQ((std::vector<std::wstring>{L"SOFTWARE", L"Talvo", L"x y"}),
              SplitPath(L"\\\\SOFTWARE\\\\\\Talvo\\x y\\"));
    EXPECT_TRUE(SplitPath(L"\\\\\\").empty());
    // The rest of the naming is seen through the recorded requests.
    std::wstring name = L"unset";
    ASSERT_TRUE(RequestName(L"D:\\elsewhere\\Hoardlocal.db", name));
    EXPECT_EQ(L"Hoardlocal.db", name) << "only the whole name marks the whole cache";
}

TEST(WdsPaths, VersionIsTheLeadingDecimalNumber) {
    EXPECT_DOUBLE_EQ(4.0, ParseVersion(L"4.0.6001.16503"));
    EXPECT_DOUBLE_EQ(2.6, ParseVersion(L"2.6.5"));
    EXPECT_DOUBLE_EQ(10.25, ParseVersion(L"10.25 beta"));
    EXPECT_DOUBLE_EQ(3.0, ParseVersion(L"3e5")) << "no exponent form";
    EXPECT_DOUBLE_EQ(0.0, ParseVersion(L"v4.0"));
    EXPECT_DOUBLE_EQ(0.0, ParseVersion(L".5")) << "a version starts with a digit";
    EXPECT_DOUBLE_EQ(0.0, ParseVersion(nullptr));
}
