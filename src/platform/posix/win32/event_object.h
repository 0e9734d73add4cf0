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

    // `finishedBy`: the I/O source whose operation signals the event, which
    // no longer drives it.
    void Set(const IoSource* finishedBy = nullptr) noexcept;
    void Reset() noexcept;

    // An operation of `source` will signal the event: a thread that waits on
    // it may drive the source (see IoSource) until the operation finishes.
    void DriveBy(std::weak_ptr<IoSource> source, const IoSource* key) noexcept;
    std::shared_ptr<IoSource> DrivenBy() noexcept override { return source_.lock(); }

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
    std::weak_ptr<IoSource> source_;       // guarded by WaitLock()
    const IoSource* sourceKey_ = nullptr;  // guarded by WaitLock()
};

using EventPtr = std::shared_ptr<EventObject>;

}  // namespace platform::posix
