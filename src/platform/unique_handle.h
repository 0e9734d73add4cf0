// One owner for every kind of OS handle: the traits name the invalid value and
// the function that closes it. Each kind has traits of its own, so owners of
// different kinds are different types: an event cannot be moved into the place
// of a mutex, nor a thread into that of a process.
#pragma once

#include <utility>

#include "platform/win32.h"

namespace platform {

template <typename Traits>
class UniqueHandle {
public:
    using Pointer = typename Traits::Pointer;

    UniqueHandle() noexcept = default;
    explicit UniqueHandle(Pointer value) noexcept : value_(value) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : value_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }
    ~UniqueHandle() { reset(); }

    Pointer get() const noexcept { return value_; }
    explicit operator bool() const noexcept { return value_ != Traits::Invalid(); }

    Pointer release() noexcept { return std::exchange(value_, Traits::Invalid()); }

    // Closes the held handle, if any, and takes `value`. The thread's
    // last-error code survives the close, so a caller can still report the
    // failure that made it drop the handle.
    void reset(Pointer value = Traits::Invalid()) noexcept {
        Pointer old = std::exchange(value_, value);
        if (old != Traits::Invalid()) {
            const DWORD lastError = GetLastError();
            Traits::Close(old);
            SetLastError(lastError);
        }
    }

private:
    Pointer value_ = Traits::Invalid();
};

// Kernel objects that are null on failure and closed by CloseHandle. Each
// kind derives its own traits only to be a type of its own.
struct KernelObjectTraits {
    using Pointer = HANDLE;
    static Pointer Invalid() noexcept { return nullptr; }
    static void Close(Pointer h) noexcept { CloseHandle(h); }
};
struct EventTraits : KernelObjectTraits {};
struct MutexTraits : KernelObjectTraits {};
struct MappingTraits : KernelObjectTraits {};
struct ThreadTraits : KernelObjectTraits {};
struct ProcessTraits : KernelObjectTraits {};

// Pipes and files: INVALID_HANDLE_VALUE on failure.
struct FileTraits {
    using Pointer = HANDLE;
    static Pointer Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Pointer h) noexcept { CloseHandle(h); }
};

struct ViewTraits {
    using Pointer = void*;
    static Pointer Invalid() noexcept { return nullptr; }
    static void Close(Pointer p) noexcept { UnmapViewOfFile(p); }
};

// Loaded libraries: null on failure.
struct ModuleTraits {
    using Pointer = HMODULE;
    static Pointer Invalid() noexcept { return nullptr; }
    static void Close(Pointer module) noexcept { FreeLibrary(module); }
};

using UniqueEvent = UniqueHandle<EventTraits>;
using UniqueMapping = UniqueHandle<MappingTraits>;
using UniqueThread = UniqueHandle<ThreadTraits>;
using UniqueProcess = UniqueHandle<ProcessTraits>;
using UniqueFile = UniqueHandle<FileTraits>;
using UniqueView = UniqueHandle<ViewTraits>;
using UniqueModule = UniqueHandle<ModuleTraits>;

// One ownership of a mutex, taken by UniqueMutex::Acquire and given back when
// the hold ends, however the scope that holds it is left. Move-only. The hold
// borrows the mutex's handle: the UniqueMutex must outlive it.
class MutexHold {
public:
    // How the wait for the mutex ended. Only Acquired and Abandoned hold it.
    enum class Outcome {
        Acquired,   // released by its last owner
        Abandoned,  // its last owner ended without releasing it; what it guards may be half written
        TimedOut,   // still owned by another thread when the time-out ran out
        Stopped,    // the stop event was signalled first; an auto-reset one is consumed
        Failed,     // the wait failed; the thread's last-error code says why
    };

    MutexHold() noexcept = default;
    MutexHold(const MutexHold&) = delete;
    MutexHold& operator=(const MutexHold&) = delete;
    MutexHold(MutexHold&& other) noexcept : mutex_(std::exchange(other.mutex_, nullptr)), outcome_(other.outcome_) {}
    MutexHold& operator=(MutexHold&& other) noexcept {
        if (this != &other) {
            Release();
            mutex_ = std::exchange(other.mutex_, nullptr);
            outcome_ = other.outcome_;
        }
        return *this;
    }
    ~MutexHold() { Release(); }

    Outcome GetOutcome() const noexcept { return outcome_; }

    // True while the mutex is held.
    explicit operator bool() const noexcept { return mutex_ != nullptr; }

    // Gives the mutex back now rather than at the end of the hold; does
    // nothing when it is not held. The thread's last-error code survives.
    void Release() noexcept {
        if (HANDLE mutex = std::exchange(mutex_, nullptr)) {
            const DWORD lastError = GetLastError();
            ReleaseMutex(mutex);
            SetLastError(lastError);
        }
    }

private:
    friend class UniqueMutex;
    MutexHold(HANDLE held, Outcome outcome) noexcept : mutex_(held), outcome_(outcome) {}

    HANDLE mutex_ = nullptr;  // borrowed; not null while held
    Outcome outcome_ = Outcome::Failed;
};

// Mutexes: null on failure; taken through Acquire, so that every ownership
// has an owner that gives it back.
class UniqueMutex : public UniqueHandle<MutexTraits> {
public:
    using UniqueHandle::UniqueHandle;

    // Waits up to `timeoutMs` (INFINITE: for ever) for the mutex, or until
    // `stopEvent`, when not null, is signalled. A mutex that is free and a
    // signalled stop event at once give the mutex.
    MutexHold Acquire(DWORD timeoutMs, HANDLE stopEvent = nullptr) const noexcept;
};

}  // namespace platform
