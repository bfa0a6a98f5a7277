// SyncCoordinator: the named kernel objects through which the processes that
// work on one MDC coordinate. Every process that builds a coordinator with the
// same unique name shares the same six objects, each named by the unique name
// followed directly by its suffix:
//
//   m_hSemaphoreMutex  "SH_MDCSemaphoreMutex"        mutex, not owned
//   m_hSyncSemaphore   "SH_MDCSyncSemaphore"         semaphore, count 0, maximum 1000
//   m_hGoAheadEvent    "SH_MDCSyncGoAhead"           auto-reset event, not signalled
//   m_hIntentEvent     "SH_MDCSyncIntent"            manual-reset event, not signalled
//   m_hFailedEvent     "SH_MDCSyncCoordinatorFailed" manual-reset event, not signalled
//   m_hIsolationMutex  "SH_MDCSyncIsolationMutex"    mutex, not owned
//
// The library itself uses only the isolation mutex (the shared lock on the
// MDC, held through AutoReleaseMDCSHMSPSharedLock tokens) and the failed
// event (a failed state shared by every process, never reset). The other four
// objects belong to the hand-over protocol of the derived classes.
//
// A creation that fails leaves its handle null; a wait on a null handle
// fails, so such a coordinator reports the failed state and cannot take the
// shared lock. Failures raise std::runtime_error.
#pragma once

#include "HearthkitExport.h"

#include <windows.h>
#include <string>

class SyncCoordinator;

// Holds the shared lock of one coordinator from construction to destruction:
// exactly one acquisition, released on the thread that took it. Returned by
// value (guaranteed elision); never copied, moved or assigned.
class HEARTHKIT_API AutoReleaseMDCSHMSPSharedLock {
public:
    // Takes the shared lock; raises std::runtime_error when it cannot, and
    // std::invalid_argument (nothing taken) for a null coordinator.
    explicit AutoReleaseMDCSHMSPSharedLock(SyncCoordinator* coordinator);
    ~AutoReleaseMDCSHMSPSharedLock();
    AutoReleaseMDCSHMSPSharedLock(const AutoReleaseMDCSHMSPSharedLock&) = delete;
    AutoReleaseMDCSHMSPSharedLock& operator=(const AutoReleaseMDCSHMSPSharedLock&) = delete;

private:
    SyncCoordinator* m_pCoordinator; // not owned
};

class HEARTHKIT_API SyncCoordinator {
public:
    // Opens (or creates) the six objects of uniqueName. Any namespace prefix
    // ("Local\", "Global\") or per-session uniqueness must be part of the name.
    explicit SyncCoordinator(const std::wstring& uniqueName);
    virtual ~SyncCoordinator();

    // Copying is forbidden: a member-wise copy would close the same handles
    // twice, and a coordinator whose handles were duplicated would still be a
    // second owner of one shared lock that tokens point at. Build a second
    // coordinator with the same name instead; it shares every object.
    SyncCoordinator(const SyncCoordinator&) = delete;
    SyncCoordinator& operator=(const SyncCoordinator&) = delete;

    // Waits at most 5000 ms for the shared lock. Raises std::runtime_error
    // "SyncCoordinator (Shared SHMSPMDCLock) is in a failed state." on a
    // time-out, an abandoned lock or a failed wait; no token is made then.
    AutoReleaseMDCSHMSPSharedLock GetSHMSPMDCSharedLockToken();

protected:
    // The callers' hand-over protocol, built by derived classes on the sync
    // semaphore, its mutex and the two events; the library never calls these.
    // RequestSyncTurn: announce the intent to work on the MDC and wait at
    // most timeoutMs for the go-ahead; true when it was given.
    virtual bool RequestSyncTurn(DWORD timeoutMs) = 0;
    // EndSyncTurn: hand the MDC back to the processes waiting for it.
    virtual void EndSyncTurn() = 0;

    void SetSHMSPMDCSharedLock();
    void ReleaseSHMSPMDCSharedLock();
    // True while no process has reported failure for this name. Otherwise
    // false, or std::runtime_error "SyncCoordinator is in a failed state."
    // when raiseIfFailed is set.
    bool CoordinationStateOK(bool raiseIfFailed);
    // Signals the failed state for every process of this name (it is never
    // reset), then raises as CoordinationStateOK does when raiseAfterwards.
    void NotifySyncCoordinationFailure(bool raiseAfterwards);

    std::wstring m_strUniqueName;
    HANDLE m_hSemaphoreMutex;
    HANDLE m_hSyncSemaphore;
    HANDLE m_hGoAheadEvent;
    HANDLE m_hIntentEvent;
    HANDLE m_hFailedEvent;
    HANDLE m_hIsolationMutex;

private:
    friend class AutoReleaseMDCSHMSPSharedLock;

    std::wstring GetUniqueHandleString(const wchar_t* suffix) const;
    // Closes five of the six handles: the failed event stays open for the
    // life of the process, so the failed state outlives this coordinator.
    void CloseAllHandles();
};
