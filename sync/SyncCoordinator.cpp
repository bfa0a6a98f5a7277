#include "SyncCoordinator.h"

#include "CDesktopLog.h"
#include "HkHandle.h"
#include "HkResult.h"

#include <stdexcept>
#include <utility>

namespace {

const char kLockFailed[] = "SyncCoordinator (Shared SHMSPMDCLock) is in a failed state.";
const char kStateFailed[] = "SyncCoordinator is in a failed state.";
const DWORD kSharedLockWaitMs = 5000;
const LONG kSyncSemaphoreMaximum = 1000;

// Closes a handle field (if set) and leaves it null.
void CloseField(HANDLE& field) noexcept {
    hk::unique_handle(std::exchange(field, nullptr));
}

} // namespace

AutoReleaseMDCSHMSPSharedLock::AutoReleaseMDCSHMSPSharedLock(SyncCoordinator* coordinator)
    : m_pCoordinator(coordinator) {
    if (m_pCoordinator == nullptr) {
        CDesktopLog log("AutoReleaseMDCSHMSPSharedLock::AutoReleaseMDCSHMSPSharedLock");
        HkNullArgument(log, "coordinator");
        throw std::invalid_argument("No SyncCoordinator for the shared lock");
    }
    m_pCoordinator->SetSHMSPMDCSharedLock();
}

AutoReleaseMDCSHMSPSharedLock::~AutoReleaseMDCSHMSPSharedLock() {
    m_pCoordinator->ReleaseSHMSPMDCSharedLock();
}

SyncCoordinator::SyncCoordinator(const std::wstring& uniqueName)
    : m_strUniqueName(uniqueName), m_hSemaphoreMutex(nullptr), m_hSyncSemaphore(nullptr),
      m_hGoAheadEvent(nullptr), m_hIntentEvent(nullptr), m_hFailedEvent(nullptr), m_hIsolationMutex(nullptr) {
    // Creation results are deliberately not examined: an object that cannot
    // be created leaves its handle null, and the waits on it report that.
    try {
        m_hSyncSemaphore = ::CreateSemaphoreW(nullptr, 0, kSyncSemaphoreMaximum,
                                              GetUniqueHandleString(L"SH_MDCSyncSemaphore").c_str());
        m_hSemaphoreMutex =
            ::CreateMutexW(nullptr, FALSE, GetUniqueHandleString(L"SH_MDCSemaphoreMutex").c_str());
        m_hGoAheadEvent =
            ::CreateEventW(nullptr, FALSE, FALSE, GetUniqueHandleString(L"SH_MDCSyncGoAhead").c_str());
        m_hIntentEvent =
            ::CreateEventW(nullptr, TRUE, FALSE, GetUniqueHandleString(L"SH_MDCSyncIntent").c_str());
        m_hFailedEvent = ::CreateEventW(nullptr, TRUE, FALSE,
                                        GetUniqueHandleString(L"SH_MDCSyncCoordinatorFailed").c_str());
        m_hIsolationMutex =
            ::CreateMutexW(nullptr, FALSE, GetUniqueHandleString(L"SH_MDCSyncIsolationMutex").c_str());
    } catch (...) {
        CloseAllHandles();
        throw;
    }
}

SyncCoordinator::~SyncCoordinator() {
    CloseAllHandles();
}

AutoReleaseMDCSHMSPSharedLock SyncCoordinator::GetSHMSPMDCSharedLockToken() {
    return AutoReleaseMDCSHMSPSharedLock(this);
}

void SyncCoordinator::SetSHMSPMDCSharedLock() {
    const DWORD wait = ::WaitForSingleObject(m_hIsolationMutex, kSharedLockWaitMs);
    if (wait == WAIT_OBJECT_0) {
        return;
    }
    // An abandoned mutex is ours now although we raise and no token is made:
    // give it back, so the next taker (here or in another process) gets a
    // lock whose MDC has been reported unsafe once, instead of waiting for
    // this thread to end.
    if (wait == WAIT_ABANDONED) {
        ::ReleaseMutex(m_hIsolationMutex);
    }
    throw std::runtime_error(kLockFailed);
}

void SyncCoordinator::ReleaseSHMSPMDCSharedLock() {
    ::ReleaseMutex(m_hIsolationMutex);
}

bool SyncCoordinator::CoordinationStateOK(bool raiseIfFailed) {
    if (::WaitForSingleObject(m_hFailedEvent, 0) == WAIT_TIMEOUT) {
        return true;
    }
    if (raiseIfFailed) {
        throw std::runtime_error(kStateFailed);
    }
    return false;
}

void SyncCoordinator::NotifySyncCoordinationFailure(bool raiseAfterwards) {
    ::SetEvent(m_hFailedEvent);
    if (raiseAfterwards) {
        throw std::runtime_error(kStateFailed);
    }
}

std::wstring SyncCoordinator::GetUniqueHandleString(const wchar_t* suffix) const {
    return m_strUniqueName + suffix;
}

void SyncCoordinator::CloseAllHandles() {
    CloseField(m_hSemaphoreMutex);
    CloseField(m_hSyncSemaphore);
    CloseField(m_hGoAheadEvent);
    CloseField(m_hIntentEvent);
    CloseField(m_hIsolationMutex);
}
