// SyncCoordinator: the six shared objects, the shared lock and the failed
// state, within one process and as another process sees them by name.
#include "Hearthkit.h"
#include "Scenario.h"
#include "TestEnv.h"

#include <gtest/gtest.h>
#include <stdexcept>
#include <string>
#include <thread>

namespace {

const char kLockFailed[] = "SyncCoordinator (Shared SHMSPMDCLock) is in a failed state.";
const char kStateFailed[] = "SyncCoordinator is in a failed state.";
const char kNothing[] = "(nothing raised)";

// Opens the protected interface for the tests; the hand-over protocol is not
// the library's, so its two operations do nothing here.
class TestCoordinator : public SyncCoordinator {
public:
    using SyncCoordinator::CoordinationStateOK;
    using SyncCoordinator::m_hFailedEvent;
    using SyncCoordinator::m_hGoAheadEvent;
    using SyncCoordinator::m_hIntentEvent;
    using SyncCoordinator::m_hIsolationMutex;
    using SyncCoordinator::m_hSemaphoreMutex;
    using SyncCoordinator::m_hSyncSemaphore;
    using SyncCoordinator::NotifySyncCoordinationFailure;
    using SyncCoordinator::SyncCoordinator;

    bool RequestSyncTurn(DWORD) override { return false; }
    void EndSyncTurn() override {}
};

// The failed event is never closed, so every test uses names of its own.
std::wstring UniqueName(const char* tag) {
    return L"HkSyncTest_" + std::to_wstring(::GetCurrentProcessId()) + L"_" + hk::test::Widen(tag) + L"_";
}

template <typename F>
std::string RaisedText(F&& f) {
    try {
        f();
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return kNothing;
}

DWORD Probe(HANDLE h) {
    return ::WaitForSingleObject(h, 0);
}

// Whether an object exists under exactly this name (any kind).
bool NameInUse(const std::wstring& name) {
    hk::unique_handle h(::OpenEventW(SYNCHRONIZE, FALSE, name.c_str()));
    return static_cast<bool>(h) || ::GetLastError() == ERROR_INVALID_HANDLE;
}

// Child: opens the objects of args[0] by their published names alone and
// checks the state the parent left each one in (see the test below).
HK_SCENARIO(SyncCheckObjectsByName) {
    auto open = [&](auto opener, DWORD access, const wchar_t* suffix) {
        return hk::unique_handle(opener(access, FALSE, (args.at(0) + suffix).c_str()));
    };
    hk::unique_handle sem = open(::OpenSemaphoreW, SEMAPHORE_ALL_ACCESS, L"SH_MDCSyncSemaphore");
    LONG count = -1;
    EXPECT_TRUE(::ReleaseSemaphore(sem.get(), 1, &count) && count == 3) << "the parent's 3";
    EXPECT_TRUE(::ReleaseSemaphore(sem.get(), 996, nullptr) && !::ReleaseSemaphore(sem.get(), 1, nullptr))
        << "the semaphore stops at 1000";
    const DWORD access = SYNCHRONIZE | MUTEX_MODIFY_STATE | EVENT_MODIFY_STATE;
    hk::unique_handle guard = open(::OpenMutexW, access, L"SH_MDCSemaphoreMutex");
    EXPECT_TRUE(guard && Probe(guard.get()) == WAIT_OBJECT_0) << "the semaphore mutex is free";
    hk::unique_handle isolation = open(::OpenMutexW, access, L"SH_MDCSyncIsolationMutex");
    EXPECT_TRUE(isolation && Probe(isolation.get()) == WAIT_TIMEOUT) << "the isolation mutex is the lock";
    hk::unique_handle goAhead = open(::OpenEventW, access, L"SH_MDCSyncGoAhead");
    EXPECT_TRUE(goAhead && Probe(goAhead.get()) == WAIT_OBJECT_0 && Probe(goAhead.get()) == WAIT_TIMEOUT)
        << "the go-ahead is set and resets itself";
    hk::unique_handle intent = open(::OpenEventW, access, L"SH_MDCSyncIntent");
    EXPECT_TRUE(intent && Probe(intent.get()) == WAIT_TIMEOUT && ::SetEvent(intent.get()) &&
                Probe(intent.get()) == WAIT_OBJECT_0 && Probe(intent.get()) == WAIT_OBJECT_0)
        << "the intent starts clear and stays set";
    hk::unique_handle failed = open(::OpenEventW, access, L"SH_MDCSyncCoordinatorFailed");
    EXPECT_TRUE(failed && Probe(failed.get()) == WAIT_OBJECT_0 && Probe(failed.get()) == WAIT_OBJECT_0)
        << "the failed state is set and stays set";
    EXPECT_FALSE(TestCoordinator(args.at(0)).CoordinationStateOK(false)) << "a coordinator built here";
    return 0;
}

TEST(SyncCoordinatorObjects, EachRoleHasItsNameKindAndStateInAnotherProcess) {
    const std::wstring name = UniqueName("roles");
    TestCoordinator unrelated(UniqueName("roles_other"));
    {
        TestCoordinator c(name);
        // Every object in a state of its own: a swap of two names shows.
        LONG count = -1;
        ASSERT_TRUE(::ReleaseSemaphore(c.m_hSyncSemaphore, 3, &count));
        EXPECT_EQ(0, count);
        ASSERT_TRUE(::SetEvent(c.m_hGoAheadEvent));
        EXPECT_TRUE(c.CoordinationStateOK(true));
        c.NotifySyncCoordinationFailure(false);
        auto token = c.GetSHMSPMDCSharedLockToken();
        auto r = hk::test::RunScenario("SyncCheckObjectsByName", {name}, 30000);
        EXPECT_EQ(0u, r.exitCode) << r.output;
        EXPECT_EQ(kStateFailed, RaisedText([&] { c.CoordinationStateOK(true); }));
        EXPECT_EQ(kStateFailed, RaisedText([&] { c.NotifySyncCoordinationFailure(true); }));
    }
    EXPECT_TRUE(unrelated.CoordinationStateOK(true));
    // Destruction closes five objects; the failed state stays, never reset.
    for (const wchar_t* suffix : {L"SH_MDCSyncSemaphore", L"SH_MDCSemaphoreMutex", L"SH_MDCSyncGoAhead",
                                  L"SH_MDCSyncIntent", L"SH_MDCSyncIsolationMutex"}) {
        EXPECT_FALSE(NameInUse(name + suffix)) << hk::test::Narrow(suffix);
    }
    EXPECT_FALSE(TestCoordinator(name).CoordinationStateOK(false));
}

TEST(SyncCoordinatorObjects, ThoseThatCannotBeCreatedLeaveNullHandlesAndAFailedCoordinator) {
    // A backslash outside a namespace prefix makes every creation fail.
    TestCoordinator c(L"NoSuchNamespace\\" + UniqueName("bad"));
    for (HANDLE h : {c.m_hSyncSemaphore, c.m_hSemaphoreMutex, c.m_hGoAheadEvent, c.m_hIntentEvent,
                     c.m_hFailedEvent, c.m_hIsolationMutex}) {
        EXPECT_EQ(nullptr, h);
    }
    EXPECT_FALSE(c.CoordinationStateOK(false));
    EXPECT_EQ(kLockFailed, RaisedText([&] { c.GetSHMSPMDCSharedLockToken(); }));
}

// Whether a thread of its own could take the shared lock of name now.
bool OthersCanTake(const std::wstring& name) {
    DWORD wait = 0xdeadbeef;
    std::thread([&] {
        TestCoordinator other(name);
        wait = Probe(other.m_hIsolationMutex);
        if (wait == WAIT_OBJECT_0) {
            ::ReleaseMutex(other.m_hIsolationMutex);
        }
    }).join();
    return wait == WAIT_OBJECT_0;
}

TEST(SyncCoordinatorLock, IsRecursiveForItsThreadAndEachTokenReleasesOnce) {
    const std::wstring name = UniqueName("recursive");
    TestCoordinator c(name);
    {
        auto first = c.GetSHMSPMDCSharedLockToken();
        {
            auto second = c.GetSHMSPMDCSharedLockToken();
            EXPECT_FALSE(OthersCanTake(name));
        }
        EXPECT_FALSE(OthersCanTake(name)); // the first token still holds it
    }
    EXPECT_TRUE(OthersCanTake(name));
}

TEST(SyncCoordinatorLock, WaitsFiveSecondsForAnotherHolder) {
    const std::wstring name = UniqueName("limit");
    TestCoordinator c(name);
    // Another thread takes the lock, then lets it go after holdMs.
    auto takeWhileHeld = [&](DWORD holdMs) {
        hk::unique_handle held(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
        std::thread holder([&] {
            TestCoordinator other(name);
            auto token = other.GetSHMSPMDCSharedLockToken();
            ::SetEvent(held.get());
            ::Sleep(holdMs);
        });
        EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(held.get(), 10000));
        std::string raised = RaisedText([&] { c.GetSHMSPMDCSharedLockToken(); });
        holder.join();
        return raised;
    };
    EXPECT_EQ(kNothing, takeWhileHeld(4300));
    EXPECT_EQ(kLockFailed, takeWhileHeld(5700));
}

TEST(SyncCoordinatorLock, AbandonedByADeadThreadRaisesOnceThenIsFree) {
    const std::wstring name = UniqueName("abandoned");
    TestCoordinator c(name);
    // The thread's end abandons the mutex; the token's destructor never runs.
    std::thread([&] { Probe(c.m_hIsolationMutex); }).join();
    EXPECT_EQ(kLockFailed, RaisedText([&] { c.GetSHMSPMDCSharedLockToken(); }));
    // The ownership handed over with the abandonment was given back.
    EXPECT_TRUE(OthersCanTake(name));
}

} // namespace
