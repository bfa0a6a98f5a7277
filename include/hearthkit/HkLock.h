// A critical section that lives for its owner's life and the scoped guard that
// holds it. The section is recursive, as Win32's are.
#pragma once

#include <windows.h>

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
