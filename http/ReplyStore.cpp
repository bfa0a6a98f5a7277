#include "http/ReplyStore.h"

#include <malloc.h>
#include <algorithm>
#include <cstring>

namespace hk {
namespace reply {

namespace {
size_t BlockSize(const char* store) {
    return store == nullptr ? 0 : _msize(const_cast<char*>(store));
}
} // namespace

HRESULT Reserve(ULONGLONG extra, char** ppStore, DWORD* pdwLength, Realloc grow) {
    ULONGLONG need = static_cast<ULONGLONG>(ContentOf(*pdwLength)) + extra + 1;
    if (need > MAXDWORD) {
        return HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);
    }
    size_t size = BlockSize(*ppStore);
    if (need <= size) {
        return S_OK;
    }
    // Doubling: everything copied while growing stays below the final size.
    size_t wanted =
        static_cast<size_t>(std::min<ULONGLONG>(std::max<ULONGLONG>(need, 2ull * size), MAXDWORD));
    void* block = grow(*ppStore, wanted);
    if (block == nullptr && wanted > need) {
        block = grow(*ppStore, static_cast<size_t>(need));
    }
    if (block == nullptr) {
        return E_OUTOFMEMORY;
    }
    *ppStore = static_cast<char*>(block);
    return S_OK;
}

DWORD Room(const char* store, DWORD length) {
    size_t size = BlockSize(store);
    size_t used = static_cast<size_t>(ContentOf(length)) + 1;
    return size > used ? static_cast<DWORD>(std::min<size_t>(size - used, MAXDWORD)) : 0;
}

void Commit(DWORD size, char* store, DWORD* pdwLength) {
    DWORD content = ContentOf(*pdwLength) + size;
    store[content] = '\0';
    *pdwLength = content + 1;
}

void Settle(char** ppStore, DWORD* pdwLength) {
    if (*ppStore == nullptr) {
        return;
    }
    if (*pdwLength == 0) {
        std::free(*ppStore);
        *ppStore = nullptr;
        return;
    }
    (*ppStore)[*pdwLength - 1] = '\0';
    if (BlockSize(*ppStore) > *pdwLength) {
        // Shrinking keeps the block where it is; a failure keeps it larger.
        if (void* block = std::realloc(*ppStore, *pdwLength)) {
            *ppStore = static_cast<char*>(block);
        }
    }
}

HRESULT Append(const char* data, DWORD size, char** ppStore, DWORD* pdwLength, Realloc grow) {
    HRESULT hr = Reserve(size, ppStore, pdwLength, grow);
    if (FAILED(hr)) {
        return hr;
    }
    std::memcpy(*ppStore + ContentOf(*pdwLength), data, size);
    Commit(size, *ppStore, pdwLength);
    return S_OK;
}

} // namespace reply
} // namespace hk
