// The event object, for the functions of the subset that signal events
// themselves (overlapped I/O). Internal to the POSIX subset.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "kernel_object.h"
#include "shared_segment.h"
#include "win32_errors.h"

namespace platform::posix {

// An event: a flag that waits see, reset by the wait that consumes it unless
// it is manual-reset. An unnamed event keeps its flag in the object; a named
// one keeps it in its segment, where another process can set it, and a wait
// on it alone sleeps on a futex that SetEvent wakes in any process.
class EventObject : public KernelObject {
public:
    EventObject(bool manualReset, bool initialState) noexcept;
    EventObject(std::string name, std::unique_ptr<SharedSegment> segment) noexcept;

    void Set() noexcept;
    void Reset() noexcept;

    void OnLastHandleClosed() noexcept override { name_.Release(*this); }
    DWORD WaitError() const noexcept override { return ERROR_SUCCESS; }
    WaitOutcome TryAcquire() noexcept override;
    bool SignalledFromOutside() const noexcept override { return name_.Segment() != nullptr; }
    bool WaitAlone(DWORD milliseconds, DWORD& result) noexcept override;

private:
    ObjectName name_;
    std::atomic<uint32_t> ownState_{0};
    std::atomic<uint32_t>* state_;
    bool manualReset_;
};

using EventPtr = std::shared_ptr<EventObject>;

}  // namespace platform::posix
