// One owning holder for every kind of platform resource. A kind is a traits
// struct naming its type, its invalid value and how it is closed; the named
// holders below are one-line aliases. Operation code never closes by hand.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <utility>

namespace hk {

template <typename Traits>
class unique_any {
public:
    using pointer = typename Traits::type;

    unique_any() noexcept = default;
    explicit unique_any(pointer value) noexcept : m_value(value) {}
    unique_any(const unique_any&) = delete;
    unique_any& operator=(const unique_any&) = delete;
    unique_any(unique_any&& other) noexcept : m_value(other.release()) {}
    unique_any& operator=(unique_any&& other) noexcept {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }
    ~unique_any() { reset(); }

    pointer get() const noexcept { return m_value; }
    explicit operator bool() const noexcept { return m_value != Traits::invalid(); }

    // Gives up ownership without closing.
    pointer release() noexcept { return std::exchange(m_value, Traits::invalid()); }

    // Closes what is held (if anything) and takes ownership of value.
    void reset(pointer value = Traits::invalid()) noexcept {
        pointer old = std::exchange(m_value, value);
        if (old != Traits::invalid() && old != value) {
            Traits::close(old);
        }
    }

    // For out-parameters: closes what is held first.
    pointer* put() noexcept {
        reset();
        return &m_value;
    }

private:
    pointer m_value = Traits::invalid();
};

namespace traits {
struct handle {
    using type = HANDLE;
    static type invalid() { return nullptr; }
    static void close(type h) { ::CloseHandle(h); }
};
struct file_handle {
    using type = HANDLE;
    static type invalid() { return INVALID_HANDLE_VALUE; }
    static void close(type h) { ::CloseHandle(h); }
};
struct find_handle {
    using type = HANDLE;
    static type invalid() { return INVALID_HANDLE_VALUE; }
    static void close(type h) { ::FindClose(h); }
};
struct hmodule {
    using type = HMODULE;
    static type invalid() { return nullptr; }
    static void close(type h) { ::FreeLibrary(h); }
};
// A mutex this thread owns: released, not closed (the handle has a holder
// of its own).
struct mutex_release {
    using type = HANDLE;
    static type invalid() { return nullptr; }
    static void close(type h) { ::ReleaseMutex(h); }
};
} // namespace traits

using unique_handle = unique_any<traits::handle>;
using unique_file = unique_any<traits::file_handle>;
using unique_find = unique_any<traits::find_handle>;
using unique_hmodule = unique_any<traits::hmodule>;
using unique_mutex_release = unique_any<traits::mutex_release>;

} // namespace hk
