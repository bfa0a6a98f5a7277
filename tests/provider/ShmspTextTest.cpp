// The profile-name list and the MDC path parts, tested directly.
#include "provider/ShmspText.h"

#include <gtest/gtest.h>

using namespace hk::provider;

TEST(ProfileList, SplitsAppendsAndRemovesByExactName) {
    EXPECT_EQ((std::vector<std::wstring>{L"A", L"B"}), SplitProfileList(L"\\A\\\\B\\"));
    EXPECT_TRUE(SplitProfileList(L"").empty());
    EXPECT_TRUE(SplitProfileList(L"\\\\").empty());

    EXPECT_EQ(L"Outlook", AppendProfile(L"", L"Outlook"));
    EXPECT_EQ(L"A\\A", AppendProfile(L"A", L"A")) << "appended even when present";

    EXPECT_EQ(L"B\\C", RemoveProfile(L"A\\B\\\\A\\C\\A", L"A")) << "every occurrence goes";
    EXPECT_EQ(L"a\\B", RemoveProfile(L"a\\B", L"A")) << "names compare case-sensitively";
    EXPECT_EQ(L"", RemoveProfile(L"A\\\\A", L"A"));

    EXPECT_TRUE(ListHasProfile(L"X\\\\Outlook", L"Outlook"));
    EXPECT_FALSE(ListHasProfile(L"X\\outlook", L"Outlook"));
    EXPECT_FALSE(ListHasProfile(L"Outlook2", L"Outlook"));
}

TEST(MdcPath, NamesParentDirectoryAndBaseName) {
    std::wstring parent = L"x", base = L"x";
    EXPECT_TRUE(ParseMdcPath(L"C:\\Cache\\STORE\\a1.db", parent, base));
    EXPECT_EQ(L"STORE", parent);
    EXPECT_EQ(L"a1", base);
    EXPECT_TRUE(ParseMdcPath(L"\\\\server\\share\\S.1\\mdc.v2.db", parent, base));
    EXPECT_EQ(L"S.1", parent);
    EXPECT_EQ(L"mdc.v2", base);
}

TEST(MdcPath, RefusesWhatNamesNoClientKey) {
    const wchar_t* bad[] = {
        L"C:\\Cache\\STORE\\a1",   // no extension
        L"C:\\Cache\\STORE.d\\a1", // the only dot is a directory's
        L"C:\\a1.db",              // one directory level
        L"a1.db",                  // none
        L"C:\\Cache\\STORE\\.db",  // no base name
        L"C:\\Cache\\\\a1.db",     // no parent name
        L".db",
        L"",
    };
    for (const wchar_t* path : bad) {
        std::wstring parent = L"x", base = L"x";
        EXPECT_FALSE(ParseMdcPath(path, parent, base)) << path;
        EXPECT_TRUE(parent.empty() && base.empty()) << path;
    }
}
