// Events: CreateEventA, OpenEventA, SetEvent, ResetEvent.
#include <cerrno>
#include <climits>
#include <new>

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "event_object.h"
#include "win32_errors.h"
#include "win32_handles.h"

namespace platform::posix {
namespace {

constexpr uint32_t kManualResetFlag = 1;

using SharedState = std::atomic<uint32_t>;
static_assert(sizeof(SharedState) == sizeof(uint32_t) && SharedState::is_always_lock_free,
              "an event's flag must work as a futex word in shared memory");

SharedState* StateIn(SharedSegment& segment) {
    return static_cast<SharedState*>(segment.State());
}

void FutexWait(SharedState* word, const timespec* timeout) {
    syscall(SYS_futex, reinterpret_cast<uint32_t*>(word), FUTEX_WAIT, 0u, timeout, nullptr, 0);
}

void FutexWakeAll(SharedState* word) {
    syscall(SYS_futex, reinterpret_cast<uint32_t*>(word), FUTEX_WAKE, INT_MAX, nullptr, nullptr, 0);
}

SegmentWrapper EventWrapper() {
    return [](std::string name, std::unique_ptr<SharedSegment> segment) -> ObjectPtr {
        return std::make_shared<EventObject>(std::move(name), std::move(segment));
    };
}

}  // namespace

EventObject::EventObject(bool manualReset, bool initialState) noexcept
    : KernelObject(ObjectKind::Event), ownState_(initialState ? 1 : 0), state_(&ownState_), manualReset_(manualReset) {}

EventObject::EventObject(std::string name, std::unique_ptr<SharedSegment> segment) noexcept
    : KernelObject(ObjectKind::Event),
      name_(std::move(name), std::move(segment)),
      state_(StateIn(*name_.Segment())),
      manualReset_((name_.Segment()->Flags() & kManualResetFlag) != 0) {}

void EventObject::Set(const IoSource* finishedBy) noexcept {
    {
        std::lock_guard<std::mutex> guard(WaitLock());
        if (finishedBy != nullptr && finishedBy == sourceKey_) {
            source_.reset();
            sourceKey_ = nullptr;
        }
        state_->store(1);
        NotifyWaiters();
    }
    if (name_.Segment() != nullptr) {
        FutexWakeAll(state_);
    }
}

void EventObject::DriveBy(std::weak_ptr<IoSource> source, const IoSource* key) noexcept {
    std::lock_guard<std::mutex> guard(WaitLock());
    source_ = std::move(source);
    sourceKey_ = key;
}

void EventObject::Reset() noexcept {
    std::lock_guard<std::mutex> guard(WaitLock());
    state_->store(0);
}

WaitOutcome EventObject::TryAcquire() noexcept {
    if (manualReset_) {
        return state_->load() != 0 ? WaitOutcome::Acquired : WaitOutcome::NotSignalled;
    }
    uint32_t expected = 1;
    return state_->compare_exchange_strong(expected, 0) ? WaitOutcome::Acquired : WaitOutcome::NotSignalled;
}

bool EventObject::WaitAlone(DWORD milliseconds, DWORD& result) noexcept {
    if (name_.Segment() == nullptr) {
        return false;
    }
    const Clock::time_point deadline = DeadlineAfter(milliseconds);
    for (;;) {
        if (TryAcquire() == WaitOutcome::Acquired) {
            result = WAIT_OBJECT_0;
            return true;
        }
        const Clock::time_point now = Clock::now();
        if (now >= deadline) {
            result = WAIT_TIMEOUT;
            return true;
        }
        if (deadline == Clock::time_point::max()) {
            FutexWait(state_, nullptr);
        } else {
            const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - now).count();
            const timespec timeout{static_cast<time_t>(left / 1000000000), static_cast<long>(left % 1000000000)};
            FutexWait(state_, &timeout);
        }
    }
}

}  // namespace platform::posix

using platform::posix::EventObject;
using platform::posix::ObjectKind;
using platform::posix::SharedSegment;

HANDLE CreateEventA(LPSECURITY_ATTRIBUTES /*attributes*/, BOOL manualReset, BOOL initialState, LPCSTR name) {
    if (name == nullptr || *name == '\0') {
        std::shared_ptr<EventObject> event;
        try {
            event = std::make_shared<EventObject>(manualReset != FALSE, initialState != FALSE);
        } catch (const std::bad_alloc&) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return nullptr;
        }
        HANDLE handle = platform::posix::HandleFor(std::move(event));
        if (handle != nullptr) {
            SetLastError(ERROR_SUCCESS);
        }
        return handle;
    }
    const bool signalled = initialState != FALSE;
    const SharedSegment::Params params{
        SharedSegment::Kind::Event, 0, manualReset ? platform::posix::kManualResetFlag : 0u,
        [signalled](void* state) { new (state) std::atomic<uint32_t>(signalled ? 1 : 0); }};
    return platform::posix::CreateNamedObject(name, params, platform::posix::EventWrapper());
}

HANDLE OpenEventA(DWORD /*access*/, BOOL /*inherit*/, LPCSTR name) {
    if (name == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return platform::posix::OpenNamedObject(name, SharedSegment::Kind::Event, platform::posix::EventWrapper());
}

BOOL SetEvent(HANDLE event) {
    auto object = platform::posix::LookupAs<EventObject>(event, ObjectKind::Event);
    if (!object) {
        return FALSE;
    }
    object->Set();
    return TRUE;
}

BOOL ResetEvent(HANDLE event) {
    auto object = platform::posix::LookupAs<EventObject>(event, ObjectKind::Event);
    if (!object) {
        return FALSE;
    }
    object->Reset();
    return TRUE;
}
