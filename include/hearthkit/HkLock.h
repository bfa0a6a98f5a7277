// The library's locks and the scoped guards that hold them: a critical
// section (recursive, as Win32's are) and a slim reader/writer lock in the
// shape of WIL's srwlock (not recursive; constant-initialised, so a lock at
// namespace scope works before any constructor runs).
#pragma once

#include <windows.h>
#include <utility>

class CHkCriticalSection {
public:
    CHkCriticalSection() noexcept { ::InitializeCriticalSection(&m_cs); }
    ~CHkCriticalSection() { ::DeleteCriticalSection(&m_cs); }
    CHkCriticalSection(const CHkCriticalSection&) = delete;
    CHkCriticalSection& operator=(const CHkCriticalSection&) = delete;

    void Enter() noexcept { ::EnterCriticalSection(&m_cs); }
    void Leave() noexcept { ::LeaveCriticalSection(&m_cs); }

private:
    CRITICAL_SECTION m_cs;
};

class CHkCritSecLock {
public:
    explicit CHkCritSecLock(CHkCriticalSection& cs) noexcept : m_cs(cs) { m_cs.Enter(); }
    ~CHkCritSecLock() { m_cs.Leave(); }
    CHkCritSecLock(const CHkCritSecLock&) = delete;
    CHkCritSecLock& operator=(const CHkCritSecLock&) = delete;

private:
    CHkCriticalSection& m_cs;
};

class CHkSrwLock {
public:
    // Holds the lock exclusively until it is destroyed or reset; an empty
    // guard holds nothing.
    class [[nodiscard]] ExclusiveGuard {
    public:
        ExclusiveGuard() noexcept = default;
        explicit ExclusiveGuard(SRWLOCK* lock) noexcept : m_lock(lock) {}
        ExclusiveGuard(ExclusiveGuard&& other) noexcept : m_lock(std::exchange(other.m_lock, nullptr)) {}
        ExclusiveGuard& operator=(ExclusiveGuard&& other) noexcept {
            if (this != &other) {
                reset();
                m_lock = std::exchange(other.m_lock, nullptr);
            }
            return *this;
        }
        ~ExclusiveGuard() { reset(); }

        explicit operator bool() const noexcept { return m_lock != nullptr; }
        void reset() noexcept {
            if (m_lock != nullptr) {
                ::ReleaseSRWLockExclusive(std::exchange(m_lock, nullptr));
            }
        }

    private:
        SRWLOCK* m_lock = nullptr;
    };

    constexpr CHkSrwLock() noexcept = default;
    CHkSrwLock(const CHkSrwLock&) = delete;
    CHkSrwLock& operator=(const CHkSrwLock&) = delete;

    ExclusiveGuard lock_exclusive() noexcept {
        ::AcquireSRWLockExclusive(&m_lock);
        return ExclusiveGuard(&m_lock);
    }
    // An empty guard when another thread holds the lock.
    ExclusiveGuard try_lock_exclusive() noexcept {
        return ::TryAcquireSRWLockExclusive(&m_lock) ? ExclusiveGuard(&m_lock) : ExclusiveGuard();
    }

private:
    SRWLOCK m_lock = SRWLOCK_INIT;
};
