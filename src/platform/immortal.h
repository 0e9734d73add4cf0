// Process-wide objects that are never destroyed.
#pragma once

#include <new>
#include <utility>

namespace platform {

// Holds a T that lives until the process ends: threads still running at exit
// and the destructors of other statics may still use it, as they may use
// kernel objects on Windows until the process is gone. The driver's own
// process-wide records are held so too, because camera threads may outlive
// a host that never called its last finalize.
template <typename T>
class Immortal {
public:
    template <typename... Args>
    explicit Immortal(Args&&... args) {
        new (storage_) T(std::forward<Args>(args)...);
    }
    Immortal(const Immortal&) = delete;
    Immortal& operator=(const Immortal&) = delete;

    T& get() noexcept { return *std::launder(reinterpret_cast<T*>(storage_)); }

private:
    alignas(T) unsigned char storage_[sizeof(T)];
};

}  // namespace platform
