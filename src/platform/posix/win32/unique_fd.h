// File descriptors and memory mappings, each with one owner. Internal to the
// POSIX subset.
#pragma once

#include <cstddef>
#include <utility>

#include <sys/mman.h>
#include <unistd.h>

#include "platform/unique_handle.h"

namespace platform::posix {

struct FdTraits {
    using Pointer = int;
    static Pointer Invalid() noexcept { return -1; }
    static void Close(Pointer fd) noexcept { close(fd); }
};

using UniqueFd = UniqueHandle<FdTraits>;

// One mmap'ed region, unmapped when dropped.
class MappedRegion {
public:
    MappedRegion() noexcept = default;
    MappedRegion(void* address, size_t length) noexcept : address_(address), length_(length) {}
    MappedRegion(const MappedRegion&) = delete;
    MappedRegion& operator=(const MappedRegion&) = delete;
    MappedRegion(MappedRegion&& other) noexcept
        : address_(std::exchange(other.address_, nullptr)), length_(std::exchange(other.length_, 0)) {}
    MappedRegion& operator=(MappedRegion&& other) noexcept {
        if (this != &other) {
            Reset();
            address_ = std::exchange(other.address_, nullptr);
            length_ = std::exchange(other.length_, 0);
        }
        return *this;
    }
    ~MappedRegion() { Reset(); }

    // Maps `length` bytes of `fd` from `offset`; an empty region on failure,
    // with errno set.
    static MappedRegion Map(int fd, size_t length, int protection, off_t offset) noexcept {
        void* address = mmap(nullptr, length, protection, MAP_SHARED, fd, offset);
        return address == MAP_FAILED ? MappedRegion() : MappedRegion(address, length);
    }

    void* Address() const noexcept { return address_; }
    size_t Length() const noexcept { return length_; }
    explicit operator bool() const noexcept { return address_ != nullptr; }

private:
    void Reset() noexcept {
        if (address_ != nullptr) {
            munmap(address_, length_);
            address_ = nullptr;
        }
    }

    void* address_ = nullptr;
    size_t length_ = 0;
};

}  // namespace platform::posix
