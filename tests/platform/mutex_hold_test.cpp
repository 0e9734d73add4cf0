// The typed handle owners and the mutex's hold: owners of different kinds do
// not mix, and a hold gives its mutex back exactly once on every path.
#include <gtest/gtest.h>

#include <stdexcept>
#include <type_traits>

#include "kernel_objects_support.h"
#include "platform/unique_handle.h"
#include "platform/win32.h"

namespace {

using kernel_objects::kPatience;
using kernel_objects::Signalled;
using platform::MutexHold;
using platform::UniqueEvent;
using platform::UniqueFile;
using platform::UniqueMapping;
using platform::UniqueModule;
using platform::UniqueMutex;
using platform::UniqueProcess;
using platform::UniqueThread;
using platform::UniqueView;
using Outcome = MutexHold::Outcome;

constexpr DWORD kPoison = 0xdeadbeef;

// Neither moved nor converted into each other's place.
template <typename A, typename B>
constexpr bool kApart = !std::is_constructible_v<A, B&&> && !std::is_assignable_v<A&, B&&> &&
                        !std::is_constructible_v<B, A&&> && !std::is_assignable_v<B&, A&&>;

static_assert(kApart<UniqueEvent, UniqueMutex>);
static_assert(kApart<UniqueEvent, UniqueMapping>);
static_assert(kApart<UniqueEvent, UniqueThread>);
static_assert(kApart<UniqueEvent, UniqueProcess>);
static_assert(kApart<UniqueEvent, UniqueFile>);
static_assert(kApart<UniqueMutex, UniqueMapping>);
static_assert(kApart<UniqueMutex, UniqueThread>);
static_assert(kApart<UniqueMutex, UniqueFile>);
static_assert(kApart<UniqueMapping, UniqueView>);
static_assert(kApart<UniqueMapping, UniqueThread>);
static_assert(kApart<UniqueThread, UniqueProcess>);
static_assert(kApart<UniqueFile, UniqueModule>);
static_assert(kApart<UniqueView, UniqueModule>);
static_assert(std::is_nothrow_move_constructible_v<UniqueMutex> && std::is_nothrow_move_assignable_v<UniqueMutex>);
static_assert(!std::is_copy_constructible_v<UniqueMutex> && !std::is_copy_assignable_v<UniqueMutex>);
// An owner takes a raw handle only when asked by name.
static_assert(!std::is_convertible_v<HANDLE, UniqueEvent> && !std::is_convertible_v<HANDLE, UniqueMutex>);

static_assert(std::is_nothrow_move_constructible_v<MutexHold> && std::is_nothrow_move_assignable_v<MutexHold>);
static_assert(!std::is_copy_constructible_v<MutexHold> && !std::is_copy_assignable_v<MutexHold>);
// Only a mutex hands out holds.
static_assert(!std::is_constructible_v<MutexHold, HANDLE, Outcome>);

// What a wait of 0 ms from another thread gives; the other thread releases
// the mutex again when it got it, so this thread's ownership is unchanged.
struct OtherThreadWait {
    HANDLE mutex;
    DWORD result = kPoison;
};

DWORD WINAPI WaitAndGiveBack(LPVOID parameter) {
    auto* wait = static_cast<OtherThreadWait*>(parameter);
    wait->result = WaitForSingleObject(wait->mutex, 0);
    if (wait->result == WAIT_OBJECT_0 || wait->result == WAIT_ABANDONED) {
        ReleaseMutex(wait->mutex);
    }
    return 0;
}

DWORD WaitFromOtherThread(const UniqueMutex& mutex) {
    OtherThreadWait wait{mutex.get()};
    UniqueThread thread(CreateThread(nullptr, 0, WaitAndGiveBack, &wait, 0, nullptr));
    EXPECT_TRUE(thread);
    EXPECT_TRUE(Signalled(thread.get()));
    return wait.result;
}

// The mutex is free: this thread does not own it, and another can take it.
testing::AssertionResult IsFree(const UniqueMutex& mutex) {
    SetLastError(kPoison);
    if (ReleaseMutex(mutex.get())) {
        return testing::AssertionFailure() << "this thread still owned the mutex";
    }
    const DWORD other = WaitFromOtherThread(mutex);
    if (other != WAIT_OBJECT_0) {
        return testing::AssertionFailure() << "another thread's wait gave " << other;
    }
    return testing::AssertionSuccess();
}

// Owned by another thread, which ends without releasing it.
DWORD WINAPI TakeAndEnd(LPVOID parameter) {
    return WaitForSingleObject(static_cast<HANDLE>(parameter), 0);
}

void AbandonFromOtherThread(const UniqueMutex& mutex) {
    UniqueThread thread(CreateThread(nullptr, 0, TakeAndEnd, mutex.get(), 0, nullptr));
    ASSERT_TRUE(thread);
    ASSERT_TRUE(Signalled(thread.get()));
    DWORD code = kPoison;
    ASSERT_TRUE(GetExitCodeThread(thread.get(), &code));
    ASSERT_EQ(WAIT_OBJECT_0, code);
}

// Owned by another thread until `release` is signalled.
struct Owner {
    HANDLE mutex;
    HANDLE taken;
    HANDLE release;
};

DWORD WINAPI OwnUntilTold(LPVOID parameter) {
    const auto* owner = static_cast<Owner*>(parameter);
    if (WaitForSingleObject(owner->mutex, kPatience) != WAIT_OBJECT_0) {
        return 1;
    }
    SetEvent(owner->taken);
    WaitForSingleObject(owner->release, kPatience);
    return ReleaseMutex(owner->mutex) ? 0 : 2;
}

class OtherOwner {
public:
    explicit OtherOwner(const UniqueMutex& mutex)
        : taken_(CreateEventA(nullptr, TRUE, FALSE, nullptr)), release_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {
        owner_ = Owner{mutex.get(), taken_.get(), release_.get()};
        thread_.reset(CreateThread(nullptr, 0, OwnUntilTold, &owner_, 0, nullptr));
    }
    ~OtherOwner() {
        SetEvent(release_.get());
        EXPECT_TRUE(Signalled(thread_.get()));
    }
    testing::AssertionResult Owns() { return Signalled(taken_.get()); }

private:
    UniqueEvent taken_;
    UniqueEvent release_;
    Owner owner_{};
    UniqueThread thread_;
};

UniqueMutex MakeMutex() {
    return UniqueMutex(CreateMutexA(nullptr, FALSE, nullptr));
}

UniqueEvent MakeEvent(bool signalled) {
    return UniqueEvent(CreateEventA(nullptr, TRUE, signalled, nullptr));
}

TEST(MutexHold, AFreeMutexIsAcquiredAndGivenBackWhenTheHoldEnds) {
    UniqueMutex mutex = MakeMutex();
    ASSERT_TRUE(mutex);
    {
        const MutexHold hold = mutex.Acquire(0);
        EXPECT_TRUE(hold);
        EXPECT_EQ(Outcome::Acquired, hold.GetOutcome());
        EXPECT_EQ(WAIT_TIMEOUT, WaitFromOtherThread(mutex));
    }
    EXPECT_TRUE(IsFree(mutex));
}

TEST(MutexHold, IsGivenBackWhenAnExceptionLeavesItsScope) {
    UniqueMutex mutex = MakeMutex();
    ASSERT_TRUE(mutex);
    try {
        const MutexHold hold = mutex.Acquire(kPatience);
        ASSERT_TRUE(hold);
        throw std::runtime_error("fill failed");
    } catch (const std::runtime_error&) {
    }
    EXPECT_TRUE(IsFree(mutex));
}

TEST(MutexHold, ReleaseGivesItBackOnceAndTheEndOfTheHoldNotAgain) {
    UniqueMutex mutex = MakeMutex();
    ASSERT_TRUE(mutex);
    // Owned twice by this thread: a hold that gave it back twice would free it.
    MutexHold outer = mutex.Acquire(0);
    ASSERT_TRUE(outer);
    {
        MutexHold inner = mutex.Acquire(0);
        ASSERT_TRUE(inner);
        SetLastError(kPoison);
        inner.Release();
        EXPECT_EQ(kPoison, GetLastError());
        EXPECT_FALSE(inner);
        EXPECT_EQ(Outcome::Acquired, inner.GetOutcome());
        inner.Release();
    }
    EXPECT_EQ(WAIT_TIMEOUT, WaitFromOtherThread(mutex));
    outer.Release();
    EXPECT_TRUE(IsFree(mutex));
}

TEST(MutexHold, AMovedHoldGivesTheMutexBackOnce) {
    UniqueMutex mutex = MakeMutex();
    ASSERT_TRUE(mutex);
    MutexHold outer = mutex.Acquire(0);
    ASSERT_TRUE(outer);
    {
        MutexHold first = mutex.Acquire(0);
        MutexHold second(std::move(first));
        EXPECT_FALSE(first);
        EXPECT_TRUE(second);
        EXPECT_EQ(Outcome::Acquired, second.GetOutcome());
        MutexHold third;
        EXPECT_FALSE(third);
        third = std::move(second);
        EXPECT_FALSE(second);
        EXPECT_TRUE(third);
    }
    EXPECT_EQ(WAIT_TIMEOUT, WaitFromOtherThread(mutex));
    outer.Release();
    EXPECT_TRUE(IsFree(mutex));
}

TEST(MutexHold, AssigningOverAHoldGivesBackWhatItHeld) {
    UniqueMutex first = MakeMutex();
    UniqueMutex second = MakeMutex();
    ASSERT_TRUE(first && second);
    MutexHold hold = first.Acquire(0);
    ASSERT_TRUE(hold);
    hold = second.Acquire(0);
    EXPECT_TRUE(hold);
    EXPECT_TRUE(IsFree(first));
    EXPECT_EQ(WAIT_TIMEOUT, WaitFromOtherThread(second));
    hold.Release();
    EXPECT_TRUE(IsFree(second));
}

TEST(MutexHold, AnAbandonedMutexIsHeldAndToldApart) {
    UniqueMutex mutex = MakeMutex();
    ASSERT_TRUE(mutex);
    AbandonFromOtherThread(mutex);
    {
        const MutexHold hold = mutex.Acquire(kPatience);
        EXPECT_TRUE(hold);
        EXPECT_EQ(Outcome::Abandoned, hold.GetOutcome());
    }
    EXPECT_TRUE(IsFree(mutex));
}

TEST(MutexHold, AnAbandonedMutexWinsOverASignalledStopEvent) {
    UniqueMutex mutex = MakeMutex();
    UniqueEvent stop = MakeEvent(true);
    ASSERT_TRUE(mutex && stop);
    AbandonFromOtherThread(mutex);
    {
        const MutexHold hold = mutex.Acquire(kPatience, stop.get());
        EXPECT_TRUE(hold);
        EXPECT_EQ(Outcome::Abandoned, hold.GetOutcome());
    }
    EXPECT_TRUE(IsFree(mutex));
}

TEST(MutexHold, TheStopEventEndsTheWaitWithoutTheMutex) {
    UniqueMutex mutex = MakeMutex();
    UniqueEvent stop = MakeEvent(false);
    ASSERT_TRUE(mutex && stop);
    OtherOwner owner(mutex);
    ASSERT_TRUE(owner.Owns());
    ASSERT_TRUE(SetEvent(stop.get()));
    const MutexHold hold = mutex.Acquire(kPatience, stop.get());
    EXPECT_FALSE(hold);
    EXPECT_EQ(Outcome::Stopped, hold.GetOutcome());
}

TEST(MutexHold, AnAutoResetStopEventIsConsumed) {
    UniqueMutex mutex = MakeMutex();
    UniqueEvent stop(CreateEventA(nullptr, FALSE, TRUE, nullptr));
    ASSERT_TRUE(mutex && stop);
    OtherOwner owner(mutex);
    ASSERT_TRUE(owner.Owns());
    EXPECT_EQ(Outcome::Stopped, mutex.Acquire(kPatience, stop.get()).GetOutcome());
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(stop.get(), 0));
}

TEST(MutexHold, AMutexOwnedElsewhereTimesOut) {
    UniqueMutex mutex = MakeMutex();
    UniqueEvent stop = MakeEvent(false);
    ASSERT_TRUE(mutex && stop);
    OtherOwner owner(mutex);
    ASSERT_TRUE(owner.Owns());
    const MutexHold hold = mutex.Acquire(50, stop.get());
    EXPECT_FALSE(hold);
    EXPECT_EQ(Outcome::TimedOut, hold.GetOutcome());
    EXPECT_EQ(Outcome::TimedOut, mutex.Acquire(0).GetOutcome());
}

TEST(MutexHold, AFailedWaitKeepsItsErrorAndHoldsNothing) {
    const UniqueMutex none;
    SetLastError(kPoison);
    const MutexHold hold = none.Acquire(0);
    EXPECT_EQ(ERROR_INVALID_HANDLE, GetLastError());
    EXPECT_FALSE(hold);
    EXPECT_EQ(Outcome::Failed, hold.GetOutcome());
}

TEST(MutexHold, ADefaultHoldHoldsNothing) {
    MutexHold hold;
    EXPECT_FALSE(hold);
    SetLastError(kPoison);
    hold.Release();
    EXPECT_EQ(kPoison, GetLastError());
}

}  // namespace
