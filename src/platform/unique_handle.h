// One owner for every kind of OS handle: the traits name the invalid value and
// the function that closes it.
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

struct NullHandleTraits {
    using Pointer = HANDLE;
    static Pointer Invalid() noexcept { return nullptr; }
    static void Close(Pointer h) noexcept { CloseHandle(h); }
};

struct InvalidHandleTraits {
    using Pointer = HANDLE;
    static Pointer Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Pointer h) noexcept { CloseHandle(h); }
};

struct ModuleTraits {
    using Pointer = HMODULE;
    static Pointer Invalid() noexcept { return nullptr; }
    static void Close(Pointer module) noexcept { FreeLibrary(module); }
};

struct MappedViewTraits {
    using Pointer = void*;
    static Pointer Invalid() noexcept { return nullptr; }
    static void Close(Pointer p) noexcept { UnmapViewOfFile(p); }
};

// Events, mutexes, mappings and threads: null on failure.
using UniqueEvent = UniqueHandle<NullHandleTraits>;
using UniqueMutex = UniqueHandle<NullHandleTraits>;
using UniqueMapping = UniqueHandle<NullHandleTraits>;
using UniqueThread = UniqueHandle<NullHandleTraits>;
// Pipes and files: INVALID_HANDLE_VALUE on failure.
using UniqueFile = UniqueHandle<InvalidHandleTraits>;
using UniqueView = UniqueHandle<MappedViewTraits>;
// Loaded libraries: null on failure.
using UniqueModule = UniqueHandle<ModuleTraits>;

}  // namespace platform
