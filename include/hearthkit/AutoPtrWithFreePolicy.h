// AutoPtrWithFreePolicy: an owning pointer whose buffer is freed by the free
// function its policy names (CoTaskMemFree, MAPIFreeBuffer, FreeProws).
// Move-only: handing one out transfers ownership.
#pragma once

#include <objbase.h>
#include <utility>

// Frees memory that COM handed out (strings from BITS, shell paths).
struct CoTaskMemFreePolicy {
    static void Free(void* p) noexcept { ::CoTaskMemFree(p); }
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

private:
    T* m_p = nullptr;
};

// A wide string allocated with CoTaskMemAlloc.
using CoTaskMemString = AutoPtrWithFreePolicy<wchar_t, CoTaskMemFreePolicy>;
