// Mutexes: CreateMutexA, OpenMutexA, ReleaseMutex, and the waits on them.
#include <atomic>
#include <cerrno>
#include <ctime>
#include <new>

#include <pthread.h>

#include "errno_map.h"
#include "kernel_object.h"
#include "shared_segment.h"
#include "win32_errors.h"
#include "win32_handles.h"

namespace platform::posix {
namespace {

constexpr long kNanosecondsPerSecond = 1000000000;

// A Win32 mutex's state: the pthread mutex, recursive like a Win32 mutex and
// robust so that an owner that ends without releasing it leaves it abandoned
// rather than locked; and the owner's thread id with its count, so that a
// release by another thread is refused without touching the pthread mutex.
struct MutexState {
    pthread_mutex_t mutex;
    std::atomic<uint32_t> owner;  // thread id; ids are unique across processes
    uint32_t count;               // only the owner touches it
};
static_assert(std::atomic<uint32_t>::is_always_lock_free, "the owner must work in shared memory");

void InitializeMutex(MutexState* state, bool shared) {
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST);
    pthread_mutexattr_setpshared(&attributes, shared ? PTHREAD_PROCESS_SHARED : PTHREAD_PROCESS_PRIVATE);
    pthread_mutex_init(&state->mutex, &attributes);
    pthread_mutexattr_destroy(&attributes);
    new (&state->owner) std::atomic<uint32_t>(0);
    state->count = 0;
}

timespec RealtimeAfter(DWORD milliseconds) {
    timespec when{};
    clock_gettime(CLOCK_REALTIME, &when);
    when.tv_sec += static_cast<time_t>(milliseconds / 1000);
    when.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000;
    if (when.tv_nsec >= kNanosecondsPerSecond) {
        ++when.tv_sec;
        when.tv_nsec -= kNanosecondsPerSecond;
    }
    return when;
}

// pthread_mutex_timedlock, up to `milliseconds`. ThreadSanitizer's timedlock
// neither forgets the dead owner of a mutex it returns with EOWNERDEAD nor
// records the lock (its trylock does both), so under it the wait polls
// trylock instead, once a millisecond.
int TimedLock(pthread_mutex_t* mutex, DWORD milliseconds) {
    const timespec deadline = RealtimeAfter(milliseconds);
#if defined(__SANITIZE_THREAD__)
    for (;;) {
        const int error = pthread_mutex_trylock(mutex);
        if (error != EBUSY) {
            return error;
        }
        timespec now{};
        clock_gettime(CLOCK_REALTIME, &now);
        if (now.tv_sec > deadline.tv_sec || (now.tv_sec == deadline.tv_sec && now.tv_nsec >= deadline.tv_nsec)) {
            return ETIMEDOUT;
        }
        const timespec pause{0, 1000000};
        nanosleep(&pause, nullptr);
    }
#else
    return pthread_mutex_timedlock(mutex, &deadline);
#endif
}

// A Win32 mutex: its state lives in the object, or for a named one in its
// segment, where other processes lock the same one.
class MutexObject : public KernelObject {
public:
    explicit MutexObject(bool initialOwner) noexcept : KernelObject(ObjectKind::Mutex), state_(&ownState_) {
        InitializeMutex(state_, false);
        if (initialOwner) {
            Take(pthread_mutex_lock(&state_->mutex));
        }
    }

    MutexObject(std::string name, std::unique_ptr<SharedSegment> segment) noexcept
        : KernelObject(ObjectKind::Mutex),
          name_(std::move(name), std::move(segment)),
          state_(static_cast<MutexState*>(name_.Segment()->State())) {}

    ~MutexObject() override {
        if (name_.Segment() == nullptr) {
            pthread_mutex_destroy(&state_->mutex);
        }
    }

    void OnLastHandleClosed() noexcept override { name_.Release(*this); }
    DWORD WaitError() const noexcept override { return ERROR_SUCCESS; }

    WaitOutcome TryAcquire() noexcept override {
        switch (Take(pthread_mutex_trylock(&state_->mutex))) {
        case WAIT_OBJECT_0:
            return WaitOutcome::Acquired;
        case WAIT_ABANDONED_0:
            return WaitOutcome::Abandoned;
        default:
            return WaitOutcome::NotSignalled;
        }
    }

    // Another process, or a thread that ends, releases a mutex without
    // passing through this process's wait lock.
    bool SignalledFromOutside() const noexcept override { return true; }

    bool WaitAlone(DWORD milliseconds, DWORD& result) noexcept override {
        int error = 0;
        if (milliseconds == INFINITE) {
            error = pthread_mutex_lock(&state_->mutex);
        } else if (milliseconds == 0) {
            error = pthread_mutex_trylock(&state_->mutex);
        } else {
            error = TimedLock(&state_->mutex, milliseconds);
        }
        result = Take(error);
        return true;
    }

    bool Release() noexcept {
        if (state_->owner.load() != GetCurrentThreadId()) {
            SetLastError(ERROR_NOT_OWNER);
            return false;
        }
        int error = 0;
        {
            std::lock_guard<std::mutex> guard(WaitLock());
            if (--state_->count == 0) {
                state_->owner.store(0);
            }
            error = pthread_mutex_unlock(&state_->mutex);
        }
        if (error != 0) {
            SetLastError(Win32ErrorFromErrno(error));
            return false;
        }
        WakeWaiters(*this);
        return true;
    }

private:
    // Records the outcome of a lock and turns it into a wait's result.
    DWORD Take(int error) noexcept {
        const DWORD self = GetCurrentThreadId();
        switch (error) {
        case 0:
            if (state_->owner.load() == self) {
                ++state_->count;
            } else {
                state_->owner.store(self);
                state_->count = 1;
            }
            return WAIT_OBJECT_0;
        case EOWNERDEAD:
            // The lock is this thread's, once, whatever the dead owner held.
            pthread_mutex_consistent(&state_->mutex);
            state_->owner.store(self);
            state_->count = 1;
            return WAIT_ABANDONED_0;
        case EBUSY:
        case ETIMEDOUT:
            return WAIT_TIMEOUT;
        default:
            SetLastError(Win32ErrorFromErrno(error));
            return WAIT_FAILED;
        }
    }

    ObjectName name_;
    MutexState ownState_{};
    MutexState* state_;
};

SegmentWrapper MutexWrapper() {
    return [](std::string name, std::unique_ptr<SharedSegment> segment) -> ObjectPtr {
        return std::make_shared<MutexObject>(std::move(name), std::move(segment));
    };
}

}  // namespace
}  // namespace platform::posix

using platform::posix::MutexObject;
using platform::posix::SharedSegment;

HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES /*attributes*/, BOOL initialOwner, LPCSTR name) {
    if (name == nullptr || *name == '\0') {
        std::shared_ptr<MutexObject> mutex;
        try {
            mutex = std::make_shared<MutexObject>(initialOwner != FALSE);
        } catch (const std::bad_alloc&) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return nullptr;
        }
        HANDLE handle = platform::posix::HandleFor(std::move(mutex));
        if (handle != nullptr) {
            SetLastError(ERROR_SUCCESS);
        }
        return handle;
    }
    // A new mutex is taken before any other process can see it; an existing
    // one is opened without taking it, as on Windows.
    const bool owned = initialOwner != FALSE;
    const SharedSegment::Params params{SharedSegment::Kind::Mutex, 0, 0, [owned](void* state) {
                                           auto* mutex = static_cast<platform::posix::MutexState*>(state);
                                           platform::posix::InitializeMutex(mutex, true);
                                           if (owned) {
                                               pthread_mutex_lock(&mutex->mutex);
                                               mutex->owner.store(GetCurrentThreadId());
                                               mutex->count = 1;
                                           }
                                       }};
    static_assert(sizeof(platform::posix::MutexState) <= 4096 - SharedSegment::kStateOffset,
                  "mutex does not fit its page");
    return platform::posix::CreateNamedObject(name, params, platform::posix::MutexWrapper());
}

HANDLE OpenMutexA(DWORD /*access*/, BOOL /*inherit*/, LPCSTR name) {
    if (name == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return platform::posix::OpenNamedObject(name, SharedSegment::Kind::Mutex, platform::posix::MutexWrapper());
}

BOOL ReleaseMutex(HANDLE mutex) {
    auto object = platform::posix::LookupAs<MutexObject>(mutex, platform::posix::ObjectKind::Mutex);
    return object && object->Release() ? TRUE : FALSE;
}
