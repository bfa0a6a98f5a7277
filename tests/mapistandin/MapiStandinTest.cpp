// What the library's tests take on trust from the MAPI stand-in and never
// drive themselves: its MAPI memory, whose count of bad frees is how every
// MAPI test (hk::test::MapiTest) catches a buffer freed twice or freed
// without being MAPI's.
#include "MapiStandin.h"

#include <cstring>

namespace {

using MapiStandinMemory = hk::test::MapiTest;

TEST_F(MapiStandinMemory, MoreBuffersGoWithTheirParentAndBadFreesAreCounted) {
    void* root = nullptr;
    ASSERT_EQ(S_OK, MAPIAllocateBuffer(64, &root));
    void* more = nullptr;
    ASSERT_EQ(S_OK, MAPIAllocateMore(32, root, &more));
    void* moreOfMore = nullptr;
    ASSERT_EQ(S_OK, MAPIAllocateMore(16, more, &moreOfMore)); // hangs on the same root
    std::memset(more, 0xAB, 32);
    EXPECT_EQ(m_buffers + 1, MapiStandinLiveBuffers());
    EXPECT_EQ(0u, MAPIFreeBuffer(root));
    EXPECT_EQ(m_buffers, MapiStandinLiveBuffers());

    // Counted and not freed: a More buffer, a second free, a pointer MAPI
    // never handed out; a null pointer is no bad free.
    static BYTE notMapi[64];
    EXPECT_EQ(0u, MAPIFreeBuffer(nullptr));
    for (void* bad : {more, root, static_cast<void*>(notMapi + 32)}) {
        EXPECT_EQ(0u, MAPIFreeBuffer(bad));
    }
    EXPECT_EQ(m_badFrees + 3, MapiStandinBadFrees());
    m_badFrees += 3; // made on purpose
    void* out = reinterpret_cast<void*>(0xdeadbeef);
    EXPECT_EQ(MAPI_E_INVALID_PARAMETER, MAPIAllocateMore(8, notMapi + 32, &out));
    EXPECT_EQ(reinterpret_cast<void*>(0xdeadbeef), out);
}

} // namespace
