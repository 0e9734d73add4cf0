// The client's handle on a camera server's shared image segment.
#pragma once

#include <cstdint>
#include <string>

#include "platform/unique_handle.h"
#include "platform/win32.h"
#include "wire/messages.h"

// Owns the server's file mapping opened by name, a view of all of it, and the
// named mutex (MutexName(name)) that guards the frame bytes between the server
// and this process. Not attached after construction, after Close and after any
// failed Open (which releases whatever it had acquired); attached after a
// successful Open. Used by the camera's command exchange thread only, and by
// the owner's destructor after that thread has ended. Every message goes to
// the log at level 1.
class CSharedMemory {
public:
    enum class ReadStatus {
        Copied,           // the bytes are in the destination
        Held,             // Acquire: the mutex is held, the caller copies and releases
        SegmentTooShort,  // the view holds fewer bytes than asked for; nothing copied
        Stopped,          // the stop event woke the wait for the mutex; nothing copied
    };

    CSharedMemory() = default;
    ~CSharedMemory();
    CSharedMemory(const CSharedMemory&) = delete;
    CSharedMemory& operator=(const CSharedMemory&) = delete;

    // Releases any segment held, then opens the mutex (creating it when the
    // server has not yet) and the mapping named `segmentName`, and maps all of
    // it. Returns true when attached.
    bool Open(const std::string& segmentName);

    // Copies `count` bytes from the start of the segment into `destination`
    // while holding the mutex. Waits for the mutex until it is released or
    // abandoned, or until `stopEvent` (when not null) is signalled; an
    // auto-reset stop event is consumed by the wake-up. A failed wait throws
    // Win32Exception.
    ReadStatus Read(void* destination, int32_t count, HANDLE stopEvent);

    // The first half of Read, for a caller that copies into memory guarded by
    // a lock of its own: that lock is taken only after the mutex, so that the
    // lock's other users never wait for the server. On Held, `hold` holds the
    // mutex: the caller copies `count` bytes from View() and then ends or
    // releases the hold.
    ReadStatus Acquire(int32_t count, HANDLE stopEvent, platform::MutexHold& hold);
    const void* View() const { return view.get(); }
    // While the caller holds the mutex: copies the FrameStamp that lies
    // `frameBytes` from the view's start, when the view is long enough for
    // one there. Whether it is a stamp is for the caller to judge.
    bool ReadStamp(int64_t frameBytes, FrameStamp& stamp) const;

    // Releases mapping, view and mutex; does nothing when not attached.
    void Close();

    bool IsAttached() const { return attached; }

private:
    platform::UniqueMapping mapping;
    platform::UniqueView view;
    platform::UniqueMutex mutex;
    std::string name;
    bool attached = false;
    SIZE_T viewSize = 0;  // bytes readable from the view's start; 0 when not attached
};
