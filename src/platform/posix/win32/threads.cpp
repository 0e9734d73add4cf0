// Threads: CreateThread, GetExitCodeThread, GetCurrentThreadId.
#include <atomic>
#include <condition_variable>
#include <new>

#include <limits.h>
#include <pthread.h>
#include <unistd.h>

#include "errno_map.h"
#include "kernel_object.h"
#include "win32_errors.h"
#include "win32_handles.h"

namespace platform::posix {
namespace {

// A thread started by CreateThread. The running thread holds a reference of
// its own, so the object outlives a CloseHandle of its handle; its handle is
// signalled once the start routine has returned. The system thread is
// joinable: the last CloseHandle of a thread that has returned joins it, so a
// program that waited for a thread and closed its handle no longer has it
// winding down behind its back (as on Windows, where the handle is signalled
// only once the thread is gone); a handle closed while the thread still runs
// lets it finish on its own.
class ThreadObject : public KernelObject {
public:
    ThreadObject(LPTHREAD_START_ROUTINE start, LPVOID parameter) noexcept
        : KernelObject(ObjectKind::Thread), start_(start), parameter_(parameter) {}

    ~ThreadObject() override { Release(); }

    // Records the started system thread; before the creator drops its reference.
    void Started(pthread_t thread) noexcept {
        thread_ = thread;
        started_ = true;
    }

    void OnLastHandleClosed() noexcept override { Release(); }

    DWORD WaitError() const noexcept override { return ERROR_SUCCESS; }

    WaitOutcome TryAcquire() noexcept override { return exited_ ? WaitOutcome::Acquired : WaitOutcome::NotSignalled; }

    bool ExitCode(DWORD& code) const noexcept {
        std::lock_guard<std::mutex> guard(WaitLock());
        code = exited_ ? exitCode_ : STILL_ACTIVE;
        return true;
    }

    // The new thread's system id, once the thread has published it.
    DWORD Id() noexcept {
        std::unique_lock<std::mutex> guard(idLock_);
        idPublished_.wait(guard, [this] { return id_ != 0; });
        return id_;
    }

    void Run() noexcept {
        {
            std::lock_guard<std::mutex> guard(idLock_);
            id_ = GetCurrentThreadId();
        }
        idPublished_.notify_all();
        const DWORD code = start_(parameter_);
        {
            std::lock_guard<std::mutex> guard(WaitLock());
            exitCode_ = code;
            exited_ = true;
        }
        WakeWaiters(*this);
    }

private:
    void Release() noexcept {
        if (!started_ || released_.exchange(true)) {
            return;
        }
        bool exited = false;
        {
            std::lock_guard<std::mutex> guard(WaitLock());
            exited = exited_;
        }
        if (exited && !pthread_equal(thread_, pthread_self())) {
            pthread_join(thread_, nullptr);
        } else {
            pthread_detach(thread_);
        }
    }

    const LPTHREAD_START_ROUTINE start_;
    const LPVOID parameter_;
    std::mutex idLock_;
    std::condition_variable idPublished_;
    DWORD id_ = 0;
    // Guarded by WaitLock().
    bool exited_ = false;
    DWORD exitCode_ = 0;
    pthread_t thread_{};
    bool started_ = false;
    std::atomic<bool> released_{false};
};

using ThreadPtr = std::shared_ptr<ThreadObject>;

void* ThreadMain(void* argument) {
    const std::unique_ptr<ThreadPtr> self(static_cast<ThreadPtr*>(argument));
    (*self)->Run();
    return nullptr;
}

bool Start(const ThreadPtr& thread, SIZE_T stackSize) {
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    if (stackSize != 0) {
        const auto minimum = static_cast<SIZE_T>(PTHREAD_STACK_MIN);
        pthread_attr_setstacksize(&attributes, stackSize < minimum ? minimum : stackSize);
    }
    auto reference = std::make_unique<ThreadPtr>(thread);
    pthread_t id;
    const int error = pthread_create(&id, &attributes, ThreadMain, reference.get());
    pthread_attr_destroy(&attributes);
    if (error != 0) {
        SetLastError(error == EAGAIN ? ERROR_NOT_ENOUGH_MEMORY : Win32ErrorFromErrno(error));
        return false;
    }
    // The new thread owns its reference now.
    static_cast<void>(reference.release());
    thread->Started(id);
    return true;
}

}  // namespace
}  // namespace platform::posix

using platform::posix::ThreadObject;

HANDLE CreateThread(LPSECURITY_ATTRIBUTES /*attributes*/, SIZE_T stackSize, LPTHREAD_START_ROUTINE start,
                    LPVOID parameter, DWORD flags, LPDWORD threadId) {
    if (start == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if ((flags & CREATE_SUSPENDED) != 0) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return nullptr;
    }
    std::shared_ptr<ThreadObject> thread;
    try {
        thread = std::make_shared<ThreadObject>(start, parameter);
        if (!platform::posix::Start(thread, stackSize)) {
            return nullptr;
        }
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (threadId != nullptr) {
        *threadId = thread->Id();
    }
    return platform::posix::HandleFor(std::move(thread));
}

BOOL GetExitCodeThread(HANDLE thread, LPDWORD exitCode) {
    auto object = platform::posix::LookupAs<ThreadObject>(thread, platform::posix::ObjectKind::Thread);
    if (!object) {
        return FALSE;
    }
    DWORD code = 0;
    object->ExitCode(code);
    if (exitCode != nullptr) {
        *exitCode = code;
    }
    return TRUE;
}

DWORD GetCurrentThreadId() {
    return static_cast<DWORD>(gettid());
}
