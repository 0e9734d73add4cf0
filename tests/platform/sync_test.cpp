// Events, waits, threads and mutexes, in one process and across processes.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <vector>

#include "kernel_objects_support.h"
#include "known_differences.h"
#include "platform/unique_handle.h"
#include "platform/win32.h"
#include "support/child_process.h"
#include "support/row_name.h"

namespace {

using kernel_objects::kPatience;
using kernel_objects::NotSignalled;
using kernel_objects::Signalled;
using kernel_objects::UniqueName;
using platform::UniqueEvent;
using platform::UniqueMutex;
using platform::UniqueThread;
using Clock = std::chrono::steady_clock;

constexpr DWORD kPoison = 0xdeadbeef;

// A handle value once closed may be handed out again at once, here as on
// Windows, so bad handles are values that were never handed out.
const HANDLE kNeverIssued = reinterpret_cast<HANDLE>(0xfffff4);

UniqueEvent MakeEvent(bool manualReset, bool initialState, const char* name = nullptr) {
    return UniqueEvent(CreateEventA(nullptr, manualReset, initialState, name));
}

long long MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// --- Events -----------------------------------------------------------------

struct EventRow {
    std::string name;
    BOOL manualReset;
    BOOL initialState;
    // What two waits of 0 ms in a row give.
    DWORD firstWait;
    DWORD secondWait;
};

class EventStates : public testing::TestWithParam<EventRow> {};

TEST_P(EventStates, WaitsSeeTheInitialStateAndAutoResetConsumesIt) {
    const EventRow& row = GetParam();
    SetLastError(kPoison);
    UniqueEvent event = MakeEvent(row.manualReset, row.initialState);
    ASSERT_TRUE(event);
    EXPECT_EQ(ERROR_SUCCESS, GetLastError());
    EXPECT_EQ(row.firstWait, WaitForSingleObject(event.get(), 0));
    EXPECT_EQ(row.secondWait, WaitForSingleObject(event.get(), 0));
}

INSTANTIATE_TEST_SUITE_P(Rows, EventStates,
                         testing::Values(EventRow{"ManualSignalled", TRUE, TRUE, WAIT_OBJECT_0, WAIT_OBJECT_0},
                                         EventRow{"ManualUnsignalled", TRUE, FALSE, WAIT_TIMEOUT, WAIT_TIMEOUT},
                                         EventRow{"AutoSignalled", FALSE, TRUE, WAIT_OBJECT_0, WAIT_TIMEOUT},
                                         EventRow{"AutoUnsignalled", FALSE, FALSE, WAIT_TIMEOUT, WAIT_TIMEOUT}),
                         RowName());

TEST(Events, SetAndResetChangeAManualEventForEveryWaiter) {
    UniqueEvent event = MakeEvent(true, false);
    ASSERT_TRUE(event);
    ASSERT_TRUE(SetEvent(event.get()));
    EXPECT_TRUE(Signalled(event.get(), 0));
    EXPECT_TRUE(Signalled(event.get(), 0));
    ASSERT_TRUE(ResetEvent(event.get()));
    EXPECT_TRUE(NotSignalled(event.get()));
}

TEST(Events, NamedEventIsSharedByName) {
    const std::string name = UniqueName("event");
    UniqueEvent first = MakeEvent(false, false, name.c_str());
    ASSERT_TRUE(first);
    SetLastError(kPoison);
    // The second creation asks for a manual-reset, signalled event; it gets
    // the existing auto-reset, unsignalled one.
    UniqueEvent second = MakeEvent(true, true, name.c_str());
    ASSERT_TRUE(second);
    EXPECT_EQ(ERROR_ALREADY_EXISTS, GetLastError());
    EXPECT_TRUE(NotSignalled(second.get()));
    ASSERT_TRUE(SetEvent(first.get()));
    EXPECT_TRUE(Signalled(second.get(), 0));
    EXPECT_TRUE(NotSignalled(first.get()));

    UniqueEvent opened(OpenEventA(EVENT_ALL_ACCESS, FALSE, name.c_str()));
    ASSERT_TRUE(opened);
    ASSERT_TRUE(SetEvent(opened.get()));
    EXPECT_TRUE(Signalled(first.get(), 0));
}

TEST(Events, OpeningAMissingEventFailsWithFileNotFound) {
    SetLastError(kPoison);
    EXPECT_EQ(nullptr, OpenEventA(EVENT_ALL_ACCESS, FALSE, UniqueName("missing").c_str()));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, GetLastError());
}

TEST(Events, TheNameGoesWithTheLastHandle) {
    const std::string name = UniqueName("event");
    {
        UniqueEvent event = MakeEvent(true, false, name.c_str());
        ASSERT_TRUE(event);
    }
    SetLastError(kPoison);
    EXPECT_EQ(nullptr, OpenEventA(SYNCHRONIZE, FALSE, name.c_str()));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, GetLastError());
}

const bool kSetEventVerb = testsupport::RegisterChildVerb("set-event", [](const std::vector<std::string>& args) {
    return args.size() == 1 && kernel_objects::SignalParent(args[0]) ? 0 : 1;
});

TEST(Events, AnotherProcessSetsANamedEvent) {
    const std::string name = UniqueName("event");
    UniqueEvent event = MakeEvent(false, false, name.c_str());
    ASSERT_TRUE(event);
    kernel_objects::Child child;
    ASSERT_TRUE(child.Start("set-event", {name}));
    EXPECT_TRUE(Signalled(event.get()));
    EXPECT_EQ(0, child.ExitCode());
}

struct NameRow {
    std::string name;
    std::string first;
    std::string second;
};

class EventNames : public testing::TestWithParam<NameRow> {};

// Names of any characters keep apart what differs anywhere, even at the end
// of a name of the longest length, where a system name must replace or cut
// characters.
TEST_P(EventNames, NamesThatDifferNameDifferentObjects) {
    constexpr size_t kLongest = 255;
    const NameRow& row = GetParam();
    std::string base = UniqueName("name");
    ASSERT_LT(base.size() + row.first.size(), kLongest);
    base.resize(kLongest - row.first.size(), 'x');
    const std::string first = base + row.first;
    const std::string second = base + row.second;
    UniqueEvent one = MakeEvent(true, false, first.c_str());
    ASSERT_TRUE(one);
    SetLastError(kPoison);
    UniqueEvent other = MakeEvent(true, false, second.c_str());
    ASSERT_TRUE(other);
    EXPECT_EQ(ERROR_SUCCESS, GetLastError());
    ASSERT_TRUE(SetEvent(one.get()));
    EXPECT_TRUE(NotSignalled(other.get()));
    UniqueEvent again(OpenEventA(SYNCHRONIZE, FALSE, first.c_str()));
    ASSERT_TRUE(again);
    EXPECT_TRUE(Signalled(again.get(), 0));
}

INSTANTIATE_TEST_SUITE_P(Rows, EventNames,
                         testing::Values(NameRow{"SlashAndUnderscore", "a/b", "a_b"},
                                         NameRow{"SpaceAndDot", "a b.c", "a_b_c"},
                                         NameRow{"CaseMatters", "Name", "name"}, NameRow{"LastCharacter", "1", "2"}),
                         RowName());

// --- Waits ------------------------------------------------------------------

TEST(Waits, TheLowestSignalledIndexWinsAndOnlyItIsConsumed) {
    UniqueEvent events[3] = {MakeEvent(false, false), MakeEvent(false, true), MakeEvent(false, true)};
    const HANDLE handles[3] = {events[0].get(), events[1].get(), events[2].get()};
    EXPECT_EQ(WAIT_OBJECT_0 + 1, WaitForMultipleObjects(3, handles, FALSE, 0));
    // Index 2 was signalled too but not consumed.
    EXPECT_EQ(WAIT_OBJECT_0 + 2, WaitForMultipleObjects(3, handles, FALSE, 0));
    EXPECT_EQ(WAIT_TIMEOUT, WaitForMultipleObjects(3, handles, FALSE, 0));
    ASSERT_TRUE(SetEvent(events[2].get()));
    ASSERT_TRUE(SetEvent(events[0].get()));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(3, handles, FALSE, 0));
    EXPECT_TRUE(Signalled(events[2].get(), 0));
}

TEST(Waits, AManualEventWinsEveryTimeWhileSignalled) {
    UniqueEvent manual = MakeEvent(true, true);
    UniqueEvent automatic = MakeEvent(false, true);
    const HANDLE handles[2] = {manual.get(), automatic.get()};
    EXPECT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(2, handles, FALSE, 0));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(2, handles, FALSE, 0));
    ASSERT_TRUE(ResetEvent(manual.get()));
    EXPECT_EQ(WAIT_OBJECT_0 + 1, WaitForMultipleObjects(2, handles, FALSE, 0));
}

TEST(Waits, TimeOutComesAfterRoughlyTheTimeGiven) {
    UniqueEvent events[2] = {MakeEvent(true, false), MakeEvent(false, false)};
    const HANDLE handles[2] = {events[0].get(), events[1].get()};
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(WAIT_TIMEOUT, WaitForMultipleObjects(2, handles, FALSE, 200));
    const long long elapsed = MillisecondsSince(start);
    EXPECT_GE(elapsed, 150);
    EXPECT_LT(elapsed, 5000);
}

struct SetLaterArgs {
    HANDLE event;
    DWORD delay;
};

DWORD WINAPI SetLater(LPVOID parameter) {
    const auto* args = static_cast<const SetLaterArgs*>(parameter);
    Sleep(args->delay);
    return SetEvent(args->event) ? 0 : 1;
}

TEST(Waits, AWaitWakesWhenAnotherThreadSetsAnEvent) {
    UniqueEvent events[2] = {MakeEvent(false, false), MakeEvent(false, false)};
    const HANDLE handles[2] = {events[0].get(), events[1].get()};
    SetLaterArgs args{events[1].get(), 100};
    UniqueThread thread(CreateThread(nullptr, 0, SetLater, &args, 0, nullptr));
    ASSERT_TRUE(thread);
    EXPECT_EQ(WAIT_OBJECT_0 + 1, WaitForMultipleObjects(2, handles, FALSE, kPatience));
    EXPECT_TRUE(Signalled(thread.get()));
}

struct BadWaitRow {
    std::string name;
    DWORD count;
    HANDLE second;
    DWORD error;
};

class BadWaits : public testing::TestWithParam<BadWaitRow> {};

TEST_P(BadWaits, FailWithTheDocumentedError) {
    const BadWaitRow& row = GetParam();
    UniqueEvent good = MakeEvent(true, true);
    std::vector<HANDLE> handles(MAXIMUM_WAIT_OBJECTS + 1, good.get());
    handles[1] = row.second;
    SetLastError(kPoison);
    EXPECT_EQ(WAIT_FAILED, WaitForMultipleObjects(row.count, handles.data(), FALSE, 0));
    EXPECT_EQ(row.error, GetLastError());
}

INSTANTIATE_TEST_SUITE_P(Rows, BadWaits,
                         testing::Values(BadWaitRow{"NoHandles", 0, nullptr, ERROR_INVALID_PARAMETER},
                                         BadWaitRow{"TooManyHandles", MAXIMUM_WAIT_OBJECTS + 1, nullptr,
                                                    ERROR_INVALID_PARAMETER},
                                         BadWaitRow{"NeverIssuedHandle", 2, kNeverIssued, ERROR_INVALID_HANDLE},
                                         BadWaitRow{"NullHandle", 2, nullptr, ERROR_INVALID_HANDLE}),
                         RowName());

TEST(Waits, WaitingForAllObjects) {
    UniqueEvent events[2] = {MakeEvent(true, true), MakeEvent(true, true)};
    const HANDLE handles[2] = {events[0].get(), events[1].get()};
    SetLastError(kPoison);
    const DWORD result = WaitForMultipleObjects(2, handles, TRUE, 0);
    if (known::kWaitForAllObjects) {
        EXPECT_EQ(WAIT_OBJECT_0, result);
    } else {
        EXPECT_EQ(WAIT_FAILED, result);
        EXPECT_EQ(ERROR_INVALID_PARAMETER, GetLastError());
    }
}

// --- Handles ----------------------------------------------------------------

TEST(Handles, ClosingABadHandleFailsWithInvalidHandle) {
    for (const HANDLE bad : {static_cast<HANDLE>(nullptr), kNeverIssued}) {
        SCOPED_TRACE(reinterpret_cast<uintptr_t>(bad));
        SetLastError(kPoison);
        EXPECT_FALSE(CloseHandle(bad));
        EXPECT_EQ(ERROR_INVALID_HANDLE, GetLastError());
    }
}

TEST(Handles, ClosingAHandleTwiceFailsTheSecondTime) {
    UniqueEvent event = MakeEvent(true, false);
    const HANDLE value = event.release();
    ASSERT_TRUE(CloseHandle(value));
    // Nothing runs in between that could be given the same value.
    SetLastError(kPoison);
    EXPECT_FALSE(CloseHandle(value));
    EXPECT_EQ(ERROR_INVALID_HANDLE, GetLastError());
}

TEST(Handles, ClosingThePseudoHandleOfTheProcessIsHarmless) {
    SetLastError(kPoison);
    EXPECT_TRUE(CloseHandle(INVALID_HANDLE_VALUE));
    EXPECT_EQ(kPoison, GetLastError());
}

TEST(Handles, AHandleOfTheWrongKindIsAnInvalidHandle) {
    UniqueMutex mutex(CreateMutexA(nullptr, FALSE, nullptr));
    UniqueEvent event = MakeEvent(true, false);
    SetLastError(kPoison);
    EXPECT_FALSE(SetEvent(mutex.get()));
    EXPECT_EQ(ERROR_INVALID_HANDLE, GetLastError());
    SetLastError(kPoison);
    EXPECT_FALSE(ResetEvent(mutex.get()));
    EXPECT_EQ(ERROR_INVALID_HANDLE, GetLastError());
    SetLastError(kPoison);
    EXPECT_FALSE(ReleaseMutex(event.get()));
    EXPECT_EQ(ERROR_INVALID_HANDLE, GetLastError());
}

// --- Threads ----------------------------------------------------------------

struct ThreadProbe {
    HANDLE go;
    std::atomic<DWORD> id{0};
};

DWORD WINAPI ReportAndWait(LPVOID parameter) {
    auto* probe = static_cast<ThreadProbe*>(parameter);
    probe->id = GetCurrentThreadId();
    return WaitForSingleObject(probe->go, kPatience) == WAIT_OBJECT_0 ? 42 : 1;
}

TEST(Threads, TheHandleIsSignalledWhenTheRoutineReturnsItsExitCode) {
    UniqueEvent go = MakeEvent(true, false);
    ThreadProbe probe{go.get()};
    DWORD threadId = kPoison;
    UniqueThread thread(CreateThread(nullptr, 0, ReportAndWait, &probe, 0, &threadId));
    ASSERT_TRUE(thread);
    EXPECT_NE(kPoison, threadId);
    EXPECT_NE(GetCurrentThreadId(), threadId);

    DWORD code = kPoison;
    ASSERT_TRUE(GetExitCodeThread(thread.get(), &code));
    EXPECT_EQ(STILL_ACTIVE, code);
    EXPECT_TRUE(NotSignalled(thread.get()));

    ASSERT_TRUE(SetEvent(go.get()));
    ASSERT_TRUE(Signalled(thread.get()));
    // Still signalled: a thread's end is not consumed by a wait.
    EXPECT_TRUE(Signalled(thread.get(), 0));
    EXPECT_EQ(threadId, probe.id.load());
    ASSERT_TRUE(GetExitCodeThread(thread.get(), &code));
    EXPECT_EQ(42u, code);
}

TEST(Threads, AThreadRunsOnAfterItsHandleIsClosed) {
    UniqueEvent done = MakeEvent(true, false);
    SetLaterArgs args{done.get(), 50};
    HANDLE thread = CreateThread(nullptr, 0, SetLater, &args, 0, nullptr);
    ASSERT_NE(nullptr, thread);
    ASSERT_TRUE(CloseHandle(thread));
    EXPECT_TRUE(Signalled(done.get()));
}

TEST(Threads, ExitCodeOfABadHandleFails) {
    DWORD code = kPoison;
    SetLastError(kPoison);
    EXPECT_FALSE(GetExitCodeThread(kNeverIssued, &code));
    EXPECT_EQ(ERROR_INVALID_HANDLE, GetLastError());
}

// --- Mutexes ----------------------------------------------------------------

struct MutexProbe {
    HANDLE mutex;
    DWORD waitResult = kPoison;
    BOOL released = TRUE;
    DWORD releaseError = kPoison;
};

// From another thread: a wait of 0 ms and a release.
DWORD WINAPI TryFromOtherThread(LPVOID parameter) {
    auto* probe = static_cast<MutexProbe*>(parameter);
    probe->waitResult = WaitForSingleObject(probe->mutex, 0);
    if (probe->waitResult != WAIT_OBJECT_0 && probe->waitResult != WAIT_ABANDONED) {
        SetLastError(kPoison);
        probe->released = ReleaseMutex(probe->mutex);
        probe->releaseError = GetLastError();
    }
    return 0;
}

void ProbeFromOtherThread(MutexProbe& probe) {
    UniqueThread thread(CreateThread(nullptr, 0, TryFromOtherThread, &probe, 0, nullptr));
    ASSERT_TRUE(thread);
    ASSERT_TRUE(Signalled(thread.get()));
}

TEST(Mutexes, OwnershipIsCountedAndOthersWaitUntilTheLastRelease) {
    SetLastError(kPoison);
    UniqueMutex mutex(CreateMutexA(nullptr, TRUE, nullptr));
    ASSERT_TRUE(mutex);
    EXPECT_EQ(ERROR_SUCCESS, GetLastError());
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(mutex.get(), 0));

    MutexProbe busy{mutex.get()};
    ProbeFromOtherThread(busy);
    EXPECT_EQ(WAIT_TIMEOUT, busy.waitResult);
    EXPECT_FALSE(busy.released);
    EXPECT_EQ(ERROR_NOT_OWNER, busy.releaseError);

    EXPECT_TRUE(ReleaseMutex(mutex.get()));
    MutexProbe stillBusy{mutex.get()};
    ProbeFromOtherThread(stillBusy);
    EXPECT_EQ(WAIT_TIMEOUT, stillBusy.waitResult);

    EXPECT_TRUE(ReleaseMutex(mutex.get()));
    SetLastError(kPoison);
    EXPECT_FALSE(ReleaseMutex(mutex.get()));
    EXPECT_EQ(ERROR_NOT_OWNER, GetLastError());
}

DWORD WINAPI TakeAndEnd(LPVOID parameter) {
    return WaitForSingleObject(static_cast<HANDLE>(parameter), 0);
}

TEST(Mutexes, AThreadEndingAsOwnerLeavesTheMutexAbandoned) {
    UniqueMutex mutex(CreateMutexA(nullptr, FALSE, nullptr));
    ASSERT_TRUE(mutex);
    UniqueThread thread(CreateThread(nullptr, 0, TakeAndEnd, mutex.get(), 0, nullptr));
    ASSERT_TRUE(Signalled(thread.get()));
    DWORD code = kPoison;
    ASSERT_TRUE(GetExitCodeThread(thread.get(), &code));
    ASSERT_EQ(WAIT_OBJECT_0, code);

    UniqueEvent unrelated = MakeEvent(true, false);
    const HANDLE handles[2] = {unrelated.get(), mutex.get()};
    EXPECT_EQ(WAIT_ABANDONED_0 + 1, WaitForMultipleObjects(2, handles, FALSE, kPatience));
    // The abandoned mutex now belongs to this thread, once.
    EXPECT_TRUE(ReleaseMutex(mutex.get()));
    EXPECT_FALSE(ReleaseMutex(mutex.get()));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(mutex.get(), 0));
    EXPECT_TRUE(ReleaseMutex(mutex.get()));
}

TEST(Mutexes, CreatingAnExistingNamedMutexOpensItWithoutTakingIt) {
    const std::string name = UniqueName("mutex");
    UniqueMutex first(CreateMutexA(nullptr, FALSE, name.c_str()));
    ASSERT_TRUE(first);
    SetLastError(kPoison);
    UniqueMutex second(CreateMutexA(nullptr, TRUE, name.c_str()));
    ASSERT_TRUE(second);
    EXPECT_EQ(ERROR_ALREADY_EXISTS, GetLastError());
    SetLastError(kPoison);
    EXPECT_FALSE(ReleaseMutex(second.get()));
    EXPECT_EQ(ERROR_NOT_OWNER, GetLastError());

    UniqueMutex opened(OpenMutexA(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, name.c_str()));
    ASSERT_TRUE(opened);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(opened.get(), 0));
    // One mutex behind three handles: the owner may release it through any.
    EXPECT_TRUE(ReleaseMutex(first.get()));
}

TEST(Mutexes, OpeningAMissingMutexFailsWithFileNotFound) {
    SetLastError(kPoison);
    EXPECT_EQ(nullptr, OpenMutexA(SYNCHRONIZE, FALSE, UniqueName("missing").c_str()));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, GetLastError());
}

// --- One namespace for events, mutexes and mappings -------------------------

struct NameClashRow {
    std::string name;
    bool holderIsEvent;
    bool openInsteadOfCreate;
};

class NameClashes : public testing::TestWithParam<NameClashRow> {};

TEST_P(NameClashes, ANameHeldByAnotherKindIsAnInvalidHandle) {
    const NameClashRow& row = GetParam();
    const std::string name = UniqueName("clash");
    UniqueEvent holder(row.holderIsEvent ? CreateEventA(nullptr, TRUE, FALSE, name.c_str())
                                         : CreateMutexA(nullptr, FALSE, name.c_str()));
    ASSERT_TRUE(holder);
    SetLastError(kPoison);
    HANDLE other = nullptr;
    if (row.holderIsEvent) {
        other = row.openInsteadOfCreate ? OpenMutexA(SYNCHRONIZE, FALSE, name.c_str())
                                        : CreateMutexA(nullptr, FALSE, name.c_str());
    } else {
        other = row.openInsteadOfCreate ? OpenEventA(SYNCHRONIZE, FALSE, name.c_str())
                                        : CreateEventA(nullptr, TRUE, FALSE, name.c_str());
    }
    EXPECT_EQ(nullptr, other);
    EXPECT_EQ(ERROR_INVALID_HANDLE, GetLastError());
}

INSTANTIATE_TEST_SUITE_P(Rows, NameClashes,
                         testing::Values(NameClashRow{"CreateMutexOverEvent", true, false},
                                         NameClashRow{"OpenMutexOverEvent", true, true},
                                         NameClashRow{"CreateEventOverMutex", false, false},
                                         NameClashRow{"OpenEventOverMutex", false, true}),
                         RowName());

// --- Mutexes across processes -----------------------------------------------

// Takes the mutex, tells the parent, and waits for the parent's word to
// release it (args: mutex, held event, release event).
const bool kHoldMutexVerb = testsupport::RegisterChildVerb("hold-mutex", [](const std::vector<std::string>& args) {
    if (args.size() != 3) {
        return 2;
    }
    UniqueMutex mutex(CreateMutexA(nullptr, FALSE, args[0].c_str()));
    if (!mutex || WaitForSingleObject(mutex.get(), kPatience) != WAIT_OBJECT_0) {
        return 3;
    }
    if (!kernel_objects::SignalParent(args[1]) || !kernel_objects::AwaitParent(args[2])) {
        return 4;
    }
    return ReleaseMutex(mutex.get()) ? 0 : 5;
});

// Takes the mutex, tells the parent, and ends without releasing it (args:
// mutex, held event).
const bool kAbandonMutexVerb =
    testsupport::RegisterChildVerb("abandon-mutex", [](const std::vector<std::string>& args) {
        if (args.size() != 2) {
            return 2;
        }
        // The handle is left open as well: the process's end closes it.
        HANDLE mutex = OpenMutexA(SYNCHRONIZE, FALSE, args[0].c_str());
        if (mutex == nullptr || WaitForSingleObject(mutex, kPatience) != WAIT_OBJECT_0) {
            return 3;
        }
        return kernel_objects::SignalParent(args[1]) ? 0 : 4;
    });

TEST(MutexesAcrossProcesses, AMutexHeldByAnotherProcessWaitsForItsRelease) {
    const std::string name = UniqueName("mutex");
    const std::string heldName = UniqueName("held");
    const std::string releaseName = UniqueName("release");
    UniqueMutex mutex(CreateMutexA(nullptr, FALSE, name.c_str()));
    UniqueEvent held = MakeEvent(true, false, heldName.c_str());
    UniqueEvent release = MakeEvent(true, false, releaseName.c_str());
    ASSERT_TRUE(mutex && held && release);

    kernel_objects::Child child;
    ASSERT_TRUE(child.Start("hold-mutex", {name, heldName, releaseName}));
    ASSERT_TRUE(Signalled(held.get()));
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(mutex.get(), 100));
    ASSERT_TRUE(SetEvent(release.get()));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(mutex.get(), kPatience));
    EXPECT_TRUE(ReleaseMutex(mutex.get()));
    EXPECT_EQ(0, child.ExitCode());
}

TEST(MutexesAcrossProcesses, AProcessEndingAsOwnerLeavesTheMutexAbandoned) {
    const std::string name = UniqueName("mutex");
    const std::string heldName = UniqueName("held");
    UniqueMutex mutex(CreateMutexA(nullptr, FALSE, name.c_str()));
    UniqueEvent held = MakeEvent(true, false, heldName.c_str());
    ASSERT_TRUE(mutex && held);

    kernel_objects::Child child;
    ASSERT_TRUE(child.Start("abandon-mutex", {name, heldName}));
    ASSERT_TRUE(Signalled(held.get()));
    ASSERT_EQ(0, child.ExitCode());

    EXPECT_EQ(WAIT_ABANDONED, WaitForSingleObject(mutex.get(), kPatience));
    EXPECT_TRUE(ReleaseMutex(mutex.get()));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(mutex.get(), 0));
    EXPECT_TRUE(ReleaseMutex(mutex.get()));
}

// Creates the mutex, takes it, tells the parent and waits to be killed
// (args: mutex, held event).
const bool kCreateAndHangVerb =
    testsupport::RegisterChildVerb("create-mutex-and-hang", [](const std::vector<std::string>& args) {
        if (args.size() != 2) {
            return 2;
        }
        HANDLE mutex = CreateMutexA(nullptr, TRUE, args[0].c_str());
        if (mutex == nullptr || !kernel_objects::SignalParent(args[1])) {
            return 3;
        }
        Sleep(kPatience);
        return 4;
    });

TEST(MutexesAcrossProcesses, ANameLeftByAKilledProcessIsTakenAfresh) {
    const std::string name = UniqueName("mutex");
    const std::string heldName = UniqueName("held");
    UniqueEvent held = MakeEvent(true, false, heldName.c_str());
    ASSERT_TRUE(held);
    kernel_objects::Child child;
    ASSERT_TRUE(child.Start("create-mutex-and-hang", {name, heldName}));
    ASSERT_TRUE(Signalled(held.get()));
    child.Kill();

    SetLastError(kPoison);
    UniqueMutex mutex(CreateMutexA(nullptr, FALSE, name.c_str()));
    ASSERT_TRUE(mutex);
    EXPECT_EQ(ERROR_SUCCESS, GetLastError());
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(mutex.get(), 0));
    EXPECT_TRUE(ReleaseMutex(mutex.get()));
}

}  // namespace
