// AutoPtrWithFreePolicy: an owning pointer whose buffer is freed by the free
// function its policy names (CoTaskMemFree, MAPIFreeBuffer, FreeProws).
// Move-only: handing one out transfers ownership, and the buffer is freed
// exactly once, by its last owner.
//
//   AutoPtrWithFreePolicy<SPropTagArray, MAPIFreeBufferPolicy> GetTags();
//   auto tags = GetTags();                        // tags owns the array now
//   AutoPtrWithFreePolicy<SRowSet, FreeProwsPolicy> rows;
//   check = HrQueryAllRows(table, columns, nullptr, nullptr, 0, rows.put());
#pragma once

#include "MAPILoader.h"

#include <objbase.h>
#include <utility>

// Frees memory that COM handed out (strings from BITS, shell paths).
struct CoTaskMemFreePolicy {
    static void Free(void* p) noexcept { ::CoTaskMemFree(p); }
};

// Frees a MAPI buffer with the library's forwarding MAPIFreeBuffer.
struct MAPIFreeBufferPolicy {
    static void Free(void* p) noexcept { ::MAPIFreeBuffer(p); }
};

// Frees a row set's rows and the set with the library's forwarding FreeProws.
struct FreeProwsPolicy {
    static void Free(SRowSet* p) noexcept { ::FreeProws(p); }
};

template <typename T, typename FreePolicy>
class AutoPtrWithFreePolicy {
public:
    AutoPtrWithFreePolicy() noexcept = default;
    explicit AutoPtrWithFreePolicy(T* p) noexcept : m_p(p) {}
    AutoPtrWithFreePolicy(AutoPtrWithFreePolicy&& other) noexcept : m_p(other.release()) {}
    AutoPtrWithFreePolicy& operator=(AutoPtrWithFreePolicy&& other) noexcept {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }
    AutoPtrWithFreePolicy(const AutoPtrWithFreePolicy&) = delete;
    AutoPtrWithFreePolicy& operator=(const AutoPtrWithFreePolicy&) = delete;
    ~AutoPtrWithFreePolicy() { reset(); }

    T* get() const noexcept { return m_p; }
    T* operator->() const noexcept { return m_p; }
    explicit operator bool() const noexcept { return m_p != nullptr; }
    T* release() noexcept { return std::exchange(m_p, nullptr); }
    void reset(T* p = nullptr) noexcept {
        T* old = std::exchange(m_p, p);
        if (old != nullptr && old != p) {
            FreePolicy::Free(old);
        }
    }
    // For out-parameters: frees what is held first.
    T** put() noexcept {
        reset();
        return &m_p;
    }

private:
    T* m_p = nullptr;
};

// A wide string allocated with CoTaskMemAlloc.
using CoTaskMemString = AutoPtrWithFreePolicy<wchar_t, CoTaskMemFreePolicy>;
