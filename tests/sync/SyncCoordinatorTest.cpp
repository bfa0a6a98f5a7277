// SyncCoordinator: the six shared objects, the shared lock and the failed
// state, within one process and across two processes of one prefix.
#include "Hearthkit.h"
#include "Scenario.h"
#include "TestEnv.h"

#include <gtest/gtest.h>
#include <chrono>
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
    using SyncCoordinator::m_strUniqueName;
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
bool EventNameInUse(const std::wstring& name) {
    hk::unique_handle h(::OpenEventW(SYNCHRONIZE, FALSE, name.c_str()));
    return static_cast<bool>(h) || ::GetLastError() == ERROR_INVALID_HANDLE;
}

// --- within one process --------------------------------------------------

TEST(SyncCoordinatorObjects, AreCreatedUnderTheNamePlusSuffixWithTheirInitialStates) {
    const std::wstring name = UniqueName("states");
    TestCoordinator c(name);

    hk::unique_handle sem(
        ::OpenSemaphoreW(SEMAPHORE_ALL_ACCESS, FALSE, (name + L"SH_MDCSyncSemaphore").c_str()));
    ASSERT_TRUE(sem);
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), Probe(sem.get())); // count 0
    LONG previous = -1;
    ASSERT_TRUE(::ReleaseSemaphore(sem.get(), 1000, &previous));
    EXPECT_EQ(0, previous);
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(::ReleaseSemaphore(sem.get(), 1, nullptr)); // maximum 1000
    EXPECT_EQ(static_cast<DWORD>(ERROR_TOO_MANY_POSTS), ::GetLastError());

    for (const wchar_t* suffix : {L"SH_MDCSemaphoreMutex", L"SH_MDCSyncIsolationMutex"}) {
        hk::unique_handle m(::OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, (name + suffix).c_str()));
        ASSERT_TRUE(m) << hk::test::Narrow(suffix);
        EXPECT_EQ(WAIT_OBJECT_0, Probe(m.get())) << hk::test::Narrow(suffix); // not owned
        ::ReleaseMutex(m.get());
    }

    ASSERT_TRUE(::SetEvent(c.m_hGoAheadEvent));
    EXPECT_EQ(WAIT_OBJECT_0, Probe(c.m_hGoAheadEvent));
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), Probe(c.m_hGoAheadEvent)); // auto-reset
    ASSERT_TRUE(::SetEvent(c.m_hIntentEvent));
    EXPECT_EQ(WAIT_OBJECT_0, Probe(c.m_hIntentEvent));
    EXPECT_EQ(WAIT_OBJECT_0, Probe(c.m_hIntentEvent)); // manual-reset
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), Probe(c.m_hFailedEvent));
    EXPECT_TRUE(EventNameInUse(name + L"SH_MDCSyncGoAhead"));
    EXPECT_TRUE(EventNameInUse(name + L"SH_MDCSyncCoordinatorFailed"));
}

TEST(SyncCoordinatorObjects, DestructionClosesAllButTheFailedEvent) {
    const std::wstring name = UniqueName("close");
    { TestCoordinator c(name); }
    for (const wchar_t* suffix : {L"SH_MDCSyncSemaphore", L"SH_MDCSemaphoreMutex", L"SH_MDCSyncGoAhead",
                                  L"SH_MDCSyncIntent", L"SH_MDCSyncIsolationMutex"}) {
        EXPECT_FALSE(EventNameInUse(name + suffix)) << hk::test::Narrow(suffix);
    }
    // The failed state outlives the coordinator for the life of the process.
    EXPECT_TRUE(EventNameInUse(name + L"SH_MDCSyncCoordinatorFailed"));
}

TEST(SyncCoordinatorLock, IsRecursiveForItsThreadAndEachTokenReleasesOnce) {
    TestCoordinator c(UniqueName("recursive"));
    auto othersCanTake = [&] {
        DWORD wait = 0xdeadbeef;
        std::thread([&] {
            TestCoordinator other(c.m_strUniqueName);
            wait = ::WaitForSingleObject(other.m_hIsolationMutex, 0);
            if (wait == WAIT_OBJECT_0) {
                ::ReleaseMutex(other.m_hIsolationMutex);
            }
        }).join();
        return wait == WAIT_OBJECT_0;
    };
    {
        auto first = c.GetSHMSPMDCSharedLockToken();
        {
            const auto start = std::chrono::steady_clock::now();
            auto second = c.GetSHMSPMDCSharedLockToken();
            EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
            EXPECT_FALSE(othersCanTake());
        }
        EXPECT_FALSE(othersCanTake()); // the first token still holds it
    }
    EXPECT_TRUE(othersCanTake());
}

TEST(SyncCoordinatorLock, AbandonedByADeadThreadRaisesOnceThenIsFree) {
    TestCoordinator c(UniqueName("abandoned"));
    // The thread's end abandons the mutex; the token's destructor never runs.
    std::thread([&] { ::WaitForSingleObject(c.m_hIsolationMutex, 0); }).join();
    EXPECT_EQ(kLockFailed, RaisedText([&] { c.GetSHMSPMDCSharedLockToken(); }));
    // The ownership handed over with the abandonment was given back.
    DWORD wait = 0xdeadbeef;
    std::thread([&] {
        wait = ::WaitForSingleObject(c.m_hIsolationMutex, 0);
        ::ReleaseMutex(c.m_hIsolationMutex);
    }).join();
    EXPECT_EQ(WAIT_OBJECT_0, wait);
}

TEST(SyncCoordinatorState, FailureIsSharedByEveryCoordinatorOfTheNameAndNeverReset) {
    const std::wstring name = UniqueName("failed");
    TestCoordinator first(name);
    TestCoordinator unrelated(UniqueName("failed_other"));
    EXPECT_TRUE(first.CoordinationStateOK(true));
    first.NotifySyncCoordinationFailure(false);
    EXPECT_FALSE(first.CoordinationStateOK(false));
    EXPECT_EQ(kStateFailed, RaisedText([&] { first.CoordinationStateOK(true); }));
    EXPECT_EQ(kStateFailed, RaisedText([&] { first.NotifySyncCoordinationFailure(true); }));
    EXPECT_TRUE(unrelated.CoordinationStateOK(true));
    {
        TestCoordinator later(name);
        EXPECT_FALSE(later.CoordinationStateOK(false));
    }
    // Both coordinators gone, the failed state stays (its handle is kept).
    TestCoordinator afterwards(name);
    EXPECT_FALSE(afterwards.CoordinationStateOK(false));
}

// --- names that cannot make objects --------------------------------------

TEST(SyncCoordinatorNames, ObjectsThatCannotBeCreatedLeaveNullHandlesAndAFailedCoordinator) {
    // A backslash outside a namespace prefix makes every creation fail.
    TestCoordinator c(L"NoSuchNamespace\\" + UniqueName("bad"));
    for (HANDLE h : {c.m_hSyncSemaphore, c.m_hSemaphoreMutex, c.m_hGoAheadEvent, c.m_hIntentEvent,
                     c.m_hFailedEvent, c.m_hIsolationMutex}) {
        EXPECT_EQ(nullptr, h);
    }
    EXPECT_FALSE(c.CoordinationStateOK(false));
    EXPECT_EQ(kLockFailed, RaisedText([&] { c.GetSHMSPMDCSharedLockToken(); }));
}

TEST(SyncCoordinatorNames, EmptyNameUsesTheBareSuffixes) {
    TestCoordinator c(L"");
    EXPECT_TRUE(EventNameInUse(L"SH_MDCSyncIntent"));
    auto token = c.GetSHMSPMDCSharedLockToken();
}

TEST(SyncCoordinatorNames, NameOf30000CharactersIsHandledWhateverTheObjectManagerSays) {
    const std::wstring name = UniqueName("long") + std::wstring(30000, L'x');
    TestCoordinator c(name);
    // Object names are limited by the platform; whether it takes this one or
    // not, the coordinator's answers agree with the handles it holds.
    const bool made = c.m_hIsolationMutex != nullptr;
    EXPECT_EQ(c.m_hFailedEvent != nullptr, c.CoordinationStateOK(false));
    EXPECT_EQ(made ? std::string(kNothing) : std::string(kLockFailed),
              RaisedText([&] { c.GetSHMSPMDCSharedLockToken(); }));
    if (made) {
        TestCoordinator twin(name);
        twin.NotifySyncCoordinationFailure(false);
        EXPECT_FALSE(c.CoordinationStateOK(false));
    }
}

// --- across processes ----------------------------------------------------

// Child: takes every object of args[0] into a state the parent can see, then
// ends without releasing the two mutexes (which abandons them).
HK_SCENARIO(SyncMarkEveryObject) {
    TestCoordinator c(args.at(0));
    ::ReleaseSemaphore(c.m_hSyncSemaphore, 3, nullptr);
    ::SetEvent(c.m_hGoAheadEvent);
    ::SetEvent(c.m_hIntentEvent);
    ::WaitForSingleObject(c.m_hSemaphoreMutex, 0);
    ::WaitForSingleObject(c.m_hIsolationMutex, 0);
    c.NotifySyncCoordinationFailure(false);
    ::ExitProcess(7);
}

TEST(SyncCoordinatorProcesses, SameNameSharesEveryObjectDifferentNameNone) {
    TestCoordinator same(UniqueName("share"));
    TestCoordinator different(UniqueName("share_not"));
    auto r = hk::test::RunScenario("SyncMarkEveryObject", {UniqueName("share")}, 30000);
    ASSERT_FALSE(r.timedOut);
    ASSERT_EQ(7u, r.exitCode) << r.output;

    LONG count = -1;
    EXPECT_TRUE(::ReleaseSemaphore(same.m_hSyncSemaphore, 1, &count));
    EXPECT_EQ(3, count);
    EXPECT_EQ(WAIT_OBJECT_0, Probe(same.m_hGoAheadEvent));
    EXPECT_EQ(WAIT_OBJECT_0, Probe(same.m_hIntentEvent));
    EXPECT_EQ(static_cast<DWORD>(WAIT_ABANDONED), Probe(same.m_hSemaphoreMutex));
    ::ReleaseMutex(same.m_hSemaphoreMutex);
    EXPECT_FALSE(same.CoordinationStateOK(false));
    // The isolation mutex was abandoned by the dead holder.
    EXPECT_EQ(kLockFailed, RaisedText([&] { same.GetSHMSPMDCSharedLockToken(); }));
    EXPECT_EQ(std::string(kNothing), RaisedText([&] { same.GetSHMSPMDCSharedLockToken(); }));

    count = -1;
    EXPECT_TRUE(::ReleaseSemaphore(different.m_hSyncSemaphore, 1, &count));
    EXPECT_EQ(0, count);
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), Probe(different.m_hGoAheadEvent));
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), Probe(different.m_hIntentEvent));
    EXPECT_EQ(WAIT_OBJECT_0, Probe(different.m_hSemaphoreMutex));
    ::ReleaseMutex(different.m_hSemaphoreMutex);
    EXPECT_TRUE(different.CoordinationStateOK(false));
    EXPECT_EQ(std::string(kNothing), RaisedText([&] { different.GetSHMSPMDCSharedLockToken(); }));
}

// Child: holds the shared lock of args[0] until the parent's event args[2]
// is set (at most 30 s), after setting args[1] to say it holds it.
HK_SCENARIO(SyncHoldLock) {
    TestCoordinator c(args.at(0));
    hk::unique_handle held(::OpenEventW(EVENT_MODIFY_STATE, FALSE, args.at(1).c_str()));
    hk::unique_handle done(::OpenEventW(SYNCHRONIZE, FALSE, args.at(2).c_str()));
    if (!held || !done) {
        return 2;
    }
    auto token = c.GetSHMSPMDCSharedLockToken();
    ::SetEvent(held.get());
    return ::WaitForSingleObject(done.get(), 30000) == WAIT_OBJECT_0 ? 0 : 3;
}

TEST(SyncCoordinatorProcesses, LockHeldInAnotherProcessRaisesAfterFiveSeconds) {
    const std::wstring name = UniqueName("xlock");
    TestCoordinator c(name);
    hk::unique_handle held(::CreateEventW(nullptr, TRUE, FALSE, (name + L"_held").c_str()));
    hk::unique_handle done(::CreateEventW(nullptr, TRUE, FALSE, (name + L"_done").c_str()));
    hk::test::ScenarioResult r;
    std::thread child([&] {
        r = hk::test::RunScenario("SyncHoldLock", {name, name + L"_held", name + L"_done"}, 60000);
    });
    const DWORD heldWait = ::WaitForSingleObject(held.get(), 30000);
    std::string raised;
    auto waited = std::chrono::steady_clock::duration::zero();
    if (heldWait == WAIT_OBJECT_0) {
        const auto start = std::chrono::steady_clock::now();
        raised = RaisedText([&] { c.GetSHMSPMDCSharedLockToken(); });
        waited = std::chrono::steady_clock::now() - start;
    }
    ::SetEvent(done.get());
    child.join();
    ASSERT_EQ(WAIT_OBJECT_0, heldWait) << r.output;
    EXPECT_EQ(kLockFailed, raised);
    EXPECT_GE(waited, std::chrono::milliseconds(4900));
    EXPECT_EQ(0u, r.exitCode) << r.output;
    // The child released it when its token died.
    EXPECT_EQ(std::string(kNothing), RaisedText([&] { c.GetSHMSPMDCSharedLockToken(); }));
}

// Child: answers 1 when a coordinator built now sees the failed state.
HK_SCENARIO(SyncReportState) {
    TestCoordinator c(args.at(0));
    return c.CoordinationStateOK(false) ? 0 : 1;
}

TEST(SyncCoordinatorProcesses, FailureNotifiedInOneProcessIsSeenByCoordinatorsBuiltLaterInTheOther) {
    const std::wstring name = UniqueName("xfail");
    TestCoordinator keeper(name); // keeps the event alive while the child comes and goes
    EXPECT_EQ(0u, hk::test::RunScenario("SyncReportState", {name}, 30000).exitCode);
    ASSERT_EQ(7u, hk::test::RunScenario("SyncMarkEveryObject", {name}, 30000).exitCode);
    TestCoordinator later(name);
    EXPECT_FALSE(later.CoordinationStateOK(false));
    EXPECT_EQ(kStateFailed, RaisedText([&] { later.CoordinationStateOK(true); }));

    const std::wstring reverse = UniqueName("xfail_reverse");
    TestCoordinator here(reverse);
    here.NotifySyncCoordinationFailure(false);
    EXPECT_EQ(1u, hk::test::RunScenario("SyncReportState", {reverse}, 30000).exitCode);
}

} // namespace
