// The store a reply's body or header block is collected in: a C-heap block
// (malloc, released with free) holding the bytes received followed by one
// NUL, described by a (pointer, length) pair whose length counts that NUL; a
// length of 0 means empty, with no block.
//
// The block may be larger than the length: it grows by doubling, and its
// real size (_msize) is the room behind the content, so collecting a reply
// costs time in proportion to its size rather than to its square. Pure
// memory work, no I/O, shared by the engine's readers and the tests.
#pragma once

#include <windows.h>
#include <cstddef>
#include <cstdlib>

namespace hk {
namespace reply {

// The allocation the store grows with; a test hands in one that fails.
using Realloc = void* (*)(void* block, size_t size);

// Bytes of content in a store of that length.
inline DWORD ContentOf(DWORD length) {
    return length == 0 ? 0 : length - 1;
}

// Makes room for extra more bytes behind the content. The length is a DWORD:
// a store that would pass 4 GiB is refused with ERROR_FILE_TOO_LARGE before
// anything is allocated; a block that cannot grow gives E_OUTOFMEMORY. Either
// way the store is left as it was.
HRESULT Reserve(ULONGLONG extra, char** ppStore, DWORD* pdwLength, Realloc grow = std::realloc);

// The room Reserve made behind the content, in bytes (0 without a block).
DWORD Room(const char* store, DWORD length);

// Counts size bytes written behind the content (at store + ContentOf(length))
// as content and puts the NUL behind them.
void Commit(DWORD size, char* store, DWORD* pdwLength);

// Ends a reading: the NUL back behind the content, a block that holds no
// content released, the room nobody used given back.
void Settle(char** ppStore, DWORD* pdwLength);

// Reserve, copy, Commit.
HRESULT Append(const char* data, DWORD size, char** ppStore, DWORD* pdwLength, Realloc grow = std::realloc);

} // namespace reply
} // namespace hk
