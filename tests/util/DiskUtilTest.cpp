// The cache store's size and a disk's free space: the roundings on any byte
// count, then the platform calls on the real disk.
#include "Hearthkit.h"
#include "TestEnv.h"
#include "util/DiskSpace.h"

#include <gtest/gtest.h>

namespace {

using hk::test::TempDir;
const ULONGLONG kMb = 1048576;

// Free space rounds down to whole megabytes, past 32 bits of bytes and of
// megabytes times percent. (Store sizes round up: StoreSize below.)
TEST(FreeSpaceRounding, WholeMegabytesGigabytesAndPercent) {
    using namespace hk::util;
    EXPECT_EQ(1u, FreeMbFromBytes(2 * kMb - 1));
    EXPECT_EQ(3000000u, FreeMbFromBytes(3000000 * kMb));
    EXPECT_EQ(1024u, FreeMbRoundedToGb(1023)); // never less than a gigabyte
    EXPECT_EQ(4096u, FreeMbRoundedToGb(5000));
    EXPECT_EQ(200u, FreeMbPercent(2000 * kMb, 0));        // 0 stands for 10
    EXPECT_EQ(1u, FreeMbPercent(19 * kMb + kMb / 2, 10)); // the megabytes are whole first
    EXPECT_EQ(50000000u, FreeMbPercent(50000000 * kMb, 100));
}

TEST(StoreSize, OneKilobyteOverAMegabyteTakesTwoAndAMissingDirectoryZero) {
    TempDir dir{L"store"};
    auto Write = [&](const wchar_t* name, size_t bytes) {
        std::vector<char> data(bytes, 's');
        ASSERT_TRUE(hk::test::WriteFileBytes(dir.File(name), data.data(), data.size()));
    };
    auto Size = [&] { return DiskUtil::HCStoreSize((dir.Path() + L"\\").c_str()); };
    EXPECT_EQ(0u, Size()); // only "." and ".."
    Write(L"store.db", kMb);
    EXPECT_EQ(1u, Size());
    // Sub directories count 0 and are not descended into.
    ASSERT_TRUE(::CreateDirectoryW(dir.File(L"sub").c_str(), nullptr));
    Write(L"sub\\inner.db", 4096);
    EXPECT_EQ(1u, Size());
    Write(L"index.db", 1024);
    EXPECT_EQ(2u, Size());
    EXPECT_EQ(0u, DiskUtil::HCStoreSize(dir.File(L"missing\\").c_str()));
    EXPECT_EQ(0u, DiskUtil::HCStoreSize(nullptr));
}

TEST(FreeSpace, RealDiskAgreesWithThePlatform) {
    TempDir dir(L"free");
    ULARGE_INTEGER available, total, free;
    ASSERT_TRUE(::GetDiskFreeSpaceExW(dir.Path().c_str(), &available, &total, &free));
    const unsigned long expected = static_cast<unsigned long>(free.QuadPart / kMb);
    // Other programs write to the same disk meanwhile.
    const unsigned long slack = 256;
    unsigned long mb = DiskUtil::GetFreeSpaceInMb(dir.Path().c_str());
    EXPECT_NEAR(expected, mb, slack);
    unsigned long gb = DiskUtil::GetFreeSpaceInMbRoundedToNearestGb(dir.Path().c_str());
    EXPECT_EQ(0u, gb % 1024);
    EXPECT_GE(gb, 1024u);
    EXPECT_NEAR(expected / 4, DiskUtil::GetFreeSpacePercentInMb(dir.Path().c_str(), 25), slack);
}

TEST(FreeSpace, UnreadableDiskGivesTheFixedAnswers) {
    const wchar_t* missing = L"Q:\\";
    ASSERT_EQ(DRIVE_NO_ROOT_DIR, ::GetDriveTypeW(missing)) << "drive Q: exists here";
    EXPECT_EQ(0u, DiskUtil::GetFreeSpaceInMb(missing));
    EXPECT_EQ(1024u, DiskUtil::GetFreeSpaceInMbRoundedToNearestGb(missing));
    EXPECT_EQ(1023000u, DiskUtil::GetFreeSpacePercentInMb(missing, 50));
}

} // namespace
