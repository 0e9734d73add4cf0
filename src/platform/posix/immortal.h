// Process-wide objects of the POSIX subset that are never destroyed. Internal
// to the POSIX subset.
#pragma once

#include <new>
#include <utility>

namespace platform::posix {

// Holds a T that lives until the process ends: threads still running at exit
// and the destructors of other statics may still use it, as they may use
// kernel objects on Windows until the process is gone.
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

}  // namespace platform::posix
