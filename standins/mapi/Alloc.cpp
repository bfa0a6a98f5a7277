// MAPI memory: a buffer from MAPIAllocateBuffer owns every buffer that
// MAPIAllocateMore hangs on it, and MAPIFreeBuffer of the first frees them
// all. Live buffers are kept in a set so that any other pointer is refused
// and counted instead of freed; freed blocks wait a while before they go
// back to the heap, so that a second free of one is not taken for a free of
// a new buffer at the same address.
#include "Standin.h"

#include <deque>
#include <mutex>
#include <unordered_set>

namespace standin {
namespace {

struct alignas(16) Header {
    Header* nextMore; // chain of MAPIAllocateMore buffers of a root
    Header* root;     // null for a root
    ULONG size;
};

std::mutex g_lock;
std::unordered_set<Header*> g_roots;
std::unordered_set<Header*> g_mores;
std::deque<Header*> g_quarantine; // freed, not yet given back to the heap
const size_t kQuarantineBlocks = 1024;
LONG g_badFrees = 0;

void* Payload(Header* h) {
    return h + 1;
}
Header* HeaderOf(void* p) {
    return static_cast<Header*>(p) - 1;
}

Header* NewBlock(ULONG size) {
    void* raw = HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(Header) + size);
    if (!raw)
        return nullptr;
    Header* h = static_cast<Header*>(raw);
    h->size = size;
    return h;
}

} // namespace

SCODE AllocateBuffer(ULONG size, void** out) {
    if (!out)
        return MAPI_E_INVALID_PARAMETER;
    Header* h = NewBlock(size);
    if (!h)
        return MAPI_E_NOT_ENOUGH_MEMORY;
    std::lock_guard<std::mutex> lock(g_lock);
    g_roots.insert(h);
    *out = Payload(h);
    return S_OK;
}

SCODE AllocateMore(ULONG size, void* parent, void** out) {
    if (!out || !parent)
        return MAPI_E_INVALID_PARAMETER;
    std::lock_guard<std::mutex> lock(g_lock);
    Header* p = HeaderOf(parent);
    Header* root = nullptr;
    if (g_roots.count(p))
        root = p;
    else if (g_mores.count(p))
        root = p->root; // a More buffer as parent means its root
    if (!root)
        return MAPI_E_INVALID_PARAMETER;
    Header* h = NewBlock(size);
    if (!h)
        return MAPI_E_NOT_ENOUGH_MEMORY;
    h->root = root;
    h->nextMore = root->nextMore;
    root->nextMore = h;
    g_mores.insert(h);
    *out = Payload(h);
    return S_OK;
}

ULONG FreeBuffer(void* buffer) {
    if (!buffer)
        return 0;
    std::lock_guard<std::mutex> lock(g_lock);
    Header* h = HeaderOf(buffer);
    // Only live roots are freed; a More buffer goes with its root.
    if (!g_roots.erase(h)) {
        ++g_badFrees;
        return 0;
    }
    for (Header* m = h->nextMore; m; m = m->nextMore)
        g_mores.erase(m);
    g_quarantine.push_back(h);
    while (g_quarantine.size() > kQuarantineBlocks) {
        Header* old = g_quarantine.front();
        g_quarantine.pop_front();
        for (Header* m = old->nextMore; m;) {
            Header* next = m->nextMore;
            HeapFree(GetProcessHeap(), 0, m);
            m = next;
        }
        HeapFree(GetProcessHeap(), 0, old);
    }
    return 0;
}

LONG BadFrees() {
    std::lock_guard<std::mutex> lock(g_lock);
    return g_badFrees;
}

LONG LiveBuffers() {
    std::lock_guard<std::mutex> lock(g_lock);
    return static_cast<LONG>(g_roots.size());
}

} // namespace standin
