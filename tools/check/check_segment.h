// The checker's view of a camera server's shared segment and its mutex,
// opened by name as the driver opens them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/unique_handle.h"
#include "platform/win32.h"
#include "wire/messages.h"

namespace check {

// Owns the mapping, its view and the mutex handle. Used by one thread.
class CheckSegment {
public:
    // Opens the mapping named `share` and maps all of it; false with `why`.
    bool Open(const std::string& share, std::string& why);
    // Opens the mutex share + "Mutex"; false with `why` when the server has
    // none (the checker's open then made one, which it closes again).
    bool OpenMutex(const std::string& share, std::string& why);

    // Bytes readable from the view's start.
    SIZE_T Size() const { return size_; }
    bool HasMutex() const { return static_cast<bool>(mutex_); }

    // Waits up to `timeoutMs` for the mutex; `waitedUs` says how long.
    platform::MutexHold Acquire(DWORD timeoutMs, int64_t& waitedUs) const;
    // With the mutex held: copies the first `count` bytes.
    void Copy(size_t count, std::vector<uint8_t>& bytes) const;
    // With the mutex held: the stamp after `frameBytes` bytes, when the view
    // is long enough for one.
    bool ReadStamp(size_t frameBytes, FrameStamp& stamp) const;

private:
    platform::UniqueMapping mapping_;
    platform::UniqueView view_;
    platform::UniqueMutex mutex_;
    SIZE_T size_ = 0;
};

}  // namespace check
