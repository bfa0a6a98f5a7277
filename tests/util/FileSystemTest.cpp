// File existence, directory listings and handle closing on the real file
// system.
#include "Hearthkit.h"
#include "TestEnv.h"
#include "util/DirectorySearch.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <stdexcept>

namespace {

using hk::test::TempDir;

std::vector<std::wstring> Names(const std::vector<WIN32_FIND_DATAW>& files) {
    std::vector<std::wstring> names;
    for (const auto& f : files) {
        names.push_back(f.cFileName);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Raises what GetFiles raised, as text; "" when it returned.
std::string GetFilesError(const std::wstring& directory, const wchar_t* pattern) {
    try {
        Directory::GetFiles(directory.c_str(), pattern);
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "";
}

TEST(FileExists, OnlyAMissingNameCountsAsAbsent) {
    TempDir dir(L"exists");
    ASSERT_TRUE(hk::test::WriteFileBytes(dir.File(L"a.db"), "x", 1));
    EXPECT_TRUE(File::Exists(dir.File(L"a.db")));
    EXPECT_TRUE(File::Exists(dir.Path().c_str()));
    EXPECT_FALSE(File::Exists(dir.File(L"missing.db")));            // ERROR_FILE_NOT_FOUND
    EXPECT_FALSE(File::Exists(dir.File(L"missing\\a.db").c_str())); // ERROR_PATH_NOT_FOUND

    // A name the file system cannot even look up is not proof of absence.
    std::wstring badName = dir.File(L"a\"b|c<d>.db");
    ::SetLastError(0xdeadbeef);
    DWORD attributes = ::GetFileAttributesW(badName.c_str());
    DWORD error = ::GetLastError();
    ASSERT_EQ(INVALID_FILE_ATTRIBUTES, attributes);
    ASSERT_NE(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), error);
    ASSERT_NE(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), error);
    EXPECT_TRUE(File::Exists(badName));
}

TEST(DirectorySearchText, OneLongPrefixAndOneSeparator) {
    using hk::util::DirectorySearchText;
    const std::wstring expected = L"\\\\?\\C:\\cache\\*.db";
    EXPECT_EQ(expected, DirectorySearchText(L"C:\\cache", L"*.db"));
    EXPECT_EQ(expected, DirectorySearchText(L"C:\\cache\\", L"*.db"));
    EXPECT_EQ(expected, DirectorySearchText(L"\\\\?\\C:\\cache", L"*.db"));
    EXPECT_EQ(expected, DirectorySearchText(L"\\\\?\\C:\\cache\\", L"*.db"));
    EXPECT_EQ(L"\\\\?\\\\\\?\\*", DirectorySearchText(L"\\\\?", L"*")); // shorter than the prefix
}

class DirectoryListing : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(hk::test::WriteFileBytes(dir.File(L"a.db"), "aa", 2));
        ASSERT_TRUE(hk::test::WriteFileBytes(dir.File(L"b.txt"), "b", 1));
        ASSERT_TRUE(::CreateDirectoryW(dir.File(L"plain").c_str(), nullptr));
        ASSERT_TRUE(hk::test::WriteFileBytes(dir.File(L"plain\\inner.db"), "i", 1));
        // A directory with a further attribute is listed (Wine also shows a
        // name with a leading dot as hidden, whether or not the attribute is
        // stored).
        ASSERT_TRUE(::CreateDirectoryW(dir.File(L".marked").c_str(), nullptr));
        ASSERT_TRUE(::SetFileAttributesW(dir.File(L".marked").c_str(),
                                         FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN));
        DWORD marked = ::GetFileAttributesW(dir.File(L".marked").c_str());
        ASSERT_NE(0u, marked & FILE_ATTRIBUTE_HIDDEN) << "the file system keeps no hidden attribute";
    }
    TempDir dir{L"listing"};
};

TEST_F(DirectoryListing, SkipsPlainDirectoriesAndDoesNotDescend) {
    EXPECT_EQ((std::vector<std::wstring>{L".marked", L"a.db", L"b.txt"}),
              Names(Directory::GetFiles(dir.Path().c_str(), L"*")));
}

TEST_F(DirectoryListing, NoMatchIsEmptyButAMissingDirectoryRaises) {
    EXPECT_TRUE(Directory::GetFiles(dir.Path().c_str(), L"*.nothing").empty());
    EXPECT_EQ("FindNextFile()", GetFilesError(dir.File(L"missing"), L"*"));
    EXPECT_EQ("FindNextFile()", GetFilesError(dir.File(L"missing\\deeper"), L"*.db"));
}

TEST(Blob, ClosesTheHandleAndReportsTheResult) {
    HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(nullptr, event);
    EXPECT_NE(0, Blob(event));
    DWORD flags = 0;
    EXPECT_FALSE(::GetHandleInformation(event, &flags)); // really closed
    EXPECT_EQ(0, Blob(event));
}

} // namespace
