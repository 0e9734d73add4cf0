// The server's side of the shared image segment.
#pragma once

#include <cstdint>
#include <string>

#include "platform/unique_handle.h"
#include "platform/win32.h"

// Owns the file mapping named by the share name, a view of all of it, and the
// mutex MutexName(share name) that clients hold while they copy a frame out.
// Write may be called from any thread; the mutex orders it against the
// clients.
class SharedFrame {
public:
    // Creates the segment of `capacity` bytes, or takes over one left by an
    // earlier server that is at least that large, and opens or creates the
    // mutex. Fails with ERROR_ALREADY_EXISTS for a smaller leftover segment;
    // the thread's last-error code tells why on any failure.
    bool Create(const std::string& shareName, DWORD capacity);

    // Copies `count` bytes to the segment's start under the mutex. False when
    // they do not fit, or when a client holds the mutex too long. A mutex
    // abandoned by a client that died during its copy is taken over.
    bool Write(const void* pixels, DWORD count);

    // As Write, but `fill(segmentStart)` writes the `count` bytes itself, so
    // that a conversion goes straight into the segment. A `fill` that throws
    // leaves the mutex released.
    template <typename Fill>
    bool WriteWith(DWORD count, Fill fill) {
        if (count > capacity_) {
            return false;
        }
        const platform::MutexHold hold = Lock();
        if (!hold) {
            return false;
        }
        fill(static_cast<uint8_t*>(view_.get()));
        return true;
    }

    DWORD Capacity() const { return capacity_; }

private:
    // Takes the mutex; holds nothing when a client keeps it too long.
    platform::MutexHold Lock();

    platform::UniqueMapping mapping_;
    platform::UniqueView view_;
    platform::UniqueMutex mutex_;
    DWORD capacity_ = 0;
};
