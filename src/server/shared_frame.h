// The server's side of the shared image segment.
#pragma once

#include <cstdint>
#include <string>

#include "platform/object_security.h"
#include "platform/unique_handle.h"
#include "platform/win32.h"
#include "wire/messages.h"

// Owns the file mapping named by the share name, a view of all of it, and the
// mutex MutexName(share name) that clients hold while they copy a frame out.
// Beyond the capacity lies room for one FrameStamp, so that a frame that
// fills the capacity still has its stamp after it. Write may be called from
// any thread; the mutex orders it against the clients.
class SharedFrame {
public:
    // Creates the segment of `capacity` bytes and the stamp's room, or takes
    // over one left by an earlier server that is at least that large, and opens or creates the
    // mutex, both new ones with `attributes`. Fails with ERROR_ALREADY_EXISTS
    // for a smaller leftover segment; the thread's last-error code tells why
    // on any failure, and `refusedName` names the object refused.
    bool Create(const std::string& shareName, DWORD capacity, LPSECURITY_ATTRIBUTES attributes,
                std::string& refusedName);

    // Whether Create found the segment there already: another server's, or
    // one a crashed server left.
    bool SegmentExisted() const { return segmentExisted_; }

    // Gives the segment and the mutex the access list of `security`.
    bool ApplySecurity(const platform::ObjectSecurity& security) const;

    // Copies `count` bytes to the segment's start and `stamp` to
    // `stampOffset` (where clients read it: after the frame of the current
    // dimensions) under the mutex. False when the bytes do not fit, or when a
    // client holds the mutex too long. A stamp that does not fit is left
    // out. A mutex abandoned by a client that died during its copy is taken
    // over.
    bool Write(const void* pixels, DWORD count, const FrameStamp& stamp, DWORD stampOffset);

    // As Write, with the stamp right after the `count` bytes, but
    // `fill(segmentStart)` writes those bytes itself, so that a conversion
    // goes straight into the segment. A `fill` that throws leaves the mutex
    // released.
    template <typename Fill>
    bool WriteWith(DWORD count, const FrameStamp& stamp, DWORD stampOffset, Fill fill) {
        if (count > capacity_) {
            return false;
        }
        const platform::MutexHold hold = Lock();
        if (!hold) {
            return false;
        }
        auto* segment = static_cast<uint8_t*>(view_.get());
        fill(segment);
        PutStamp(segment, stamp, stampOffset);
        return true;
    }

    DWORD Capacity() const { return capacity_; }

private:
    // Takes the mutex; holds nothing when a client keeps it too long.
    platform::MutexHold Lock();
    void PutStamp(uint8_t* segment, const FrameStamp& stamp, DWORD offset) const;

    platform::UniqueMapping mapping_;
    platform::UniqueView view_;
    platform::UniqueMutex mutex_;
    DWORD capacity_ = 0;
    SIZE_T size_ = 0;  // bytes of the view that may be written: the capacity and the stamp's room
    bool segmentExisted_ = false;
};
