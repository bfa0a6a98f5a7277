// The store replies are collected in: the bytes and their NUL, growth in
// time proportional to the size, and the two ways it refuses to grow.
#include "http/ReplyStore.h"

#include <gtest/gtest.h>
#include <string>

using namespace hk::reply;

namespace {

int g_allocations = 0;
void* Counted(void* block, size_t size) {
    ++g_allocations;
    return std::realloc(block, size);
}
void* Failing(void*, size_t) {
    ++g_allocations;
    return nullptr;
}

struct Store {
    ~Store() { std::free(p); }
    std::string Text() const { return p ? std::string(p, length - 1) : std::string(); }
    char* p = nullptr;
    DWORD length = 0;
};

TEST(ReplyStore, KeepsOneNulBehindTheBytesAndGrowsGeometrically) {
    Store s;
    g_allocations = 0;
    ASSERT_EQ(S_OK, Append("ab", 2, &s.p, &s.length, Counted));
    ASSERT_EQ(S_OK, Append("c", 1, &s.p, &s.length, Counted));
    EXPECT_EQ(4u, s.length);
    EXPECT_EQ(std::string("abc", 4), std::string(s.p, 4));
    std::string expected = "abc";
    for (int i = 0; i < 200000; ++i) {
        char c = static_cast<char>('a' + i % 26);
        ASSERT_EQ(S_OK, Append(&c, 1, &s.p, &s.length, Counted));
        expected += c;
    }
    EXPECT_EQ(expected, s.Text());
    EXPECT_EQ('\0', s.p[s.length - 1]);
    EXPECT_LT(g_allocations, 64); // one per doubling, not one per append
}

TEST(ReplyStore, RefusesToGrowWithoutLosingWhatItHolds) {
    Store s;
    ASSERT_EQ(S_OK, Append("abc", 3, &s.p, &s.length));
    char* before = s.p;
    EXPECT_EQ(E_OUTOFMEMORY, Append("defgh", 5, &s.p, &s.length, Failing));
    EXPECT_EQ(before, s.p);
    EXPECT_EQ("abc", s.Text());

    // The length is a DWORD: a reply that would pass it is refused before
    // anything is allocated; one that just fits is tried.
    const DWORD nearLimit = 0xFFFFFF00u;
    s.length = nearLimit;
    g_allocations = 0;
    std::string more(0x100, 'x');
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE), Append(more.data(), 0x100, &s.p, &s.length, Failing));
    EXPECT_EQ(0, g_allocations);
    EXPECT_EQ(E_OUTOFMEMORY, Append(more.data(), 0xFF, &s.p, &s.length, Failing));
    EXPECT_EQ(nearLimit, s.length);
    EXPECT_EQ(before, s.p);
    s.length = 4;
}

} // namespace
