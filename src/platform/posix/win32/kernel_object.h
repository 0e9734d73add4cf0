// The objects behind HANDLEs, the process's handle table, and the wait that
// all waitable objects share. Internal to the POSIX subset.
#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

#include "win32_types.h"

namespace platform::posix {

enum class ObjectKind { Event, Mutex, Thread, Mapping, Pipe };

// What a wait finds when it looks at one object.
enum class WaitOutcome { NotSignalled, Acquired, Abandoned };

// A waiting thread, as the objects it waits on wake it: on its condition
// variable, or, while it polls the descriptors of the I/O it drives itself
// (see IoSource), through its eventfd.
struct Sleeper {
    std::condition_variable condition;
    int wakeFd = -1;      // set for a wait that polls
    bool inPoll = false;  // guarded by WaitLock()

    // With WaitLock() held.
    void Wake() noexcept;
};

// A waiting thread's place in the list of one object that it waits on, so
// that a change of that object wakes this thread and no other.
struct WaitNode {
    Sleeper* sleeper = nullptr;
    WaitNode* previous = nullptr;
    WaitNode* next = nullptr;
};

// What finishes the operations that signal an event (a pipe end with a read
// in flight), driven by a thread that waits on the event: the read then
// completes on that thread, with no hand-off through the I/O thread and a
// second wake-up.
class IoSource {
public:
    // Without WaitLock(): the descriptor to poll for what is in flight,
    // which the I/O thread stops watching until HandBack; -1 (and no
    // HandBack due) when nothing is.
    virtual int TakeOver() noexcept = 0;
    // Without WaitLock(), after the poll: finishes what can finish now and
    // gives the rest back to the I/O thread, if it was armed.
    virtual void HandBack() noexcept = 0;
    // Without WaitLock(): someone looked at an operation in flight without
    // waiting it out (a wait that timed out, a look at its OVERLAPPED); the
    // I/O thread finishes it from now on, as Windows does in the background.
    virtual void Arm() noexcept = 0;

protected:
    ~IoSource() = default;
};

// One kernel object. The handle table and the waits in flight share it, so
// an object outlives the CloseHandle of its last handle while a wait still
// looks at it.
class KernelObject {
public:
    explicit KernelObject(ObjectKind kind) noexcept : kind_(kind) {}
    KernelObject(const KernelObject&) = delete;
    KernelObject& operator=(const KernelObject&) = delete;
    virtual ~KernelObject() = default;

    ObjectKind Kind() const noexcept { return kind_; }

    // Runs in CloseHandle when the process closes its last handle to the
    // object; pipes cancel their I/O here.
    virtual void OnLastHandleClosed() noexcept {}

    // The error a wait on this object fails with; ERROR_SUCCESS for the
    // waitable kinds.
    virtual DWORD WaitError() const noexcept = 0;

    // Looks at the object's state and, when signalled, consumes it for the
    // calling thread. Called with WaitLock() held.
    virtual WaitOutcome TryAcquire() noexcept { return WaitOutcome::NotSignalled; }

    // True when another process can signal the object behind the back of
    // this process's wait lock; waits that include it look again now and then.
    virtual bool SignalledFromOutside() const noexcept { return false; }

    // A wait on this object alone, for kinds that have a better one than the
    // shared wait; returns false to use the shared wait.
    virtual bool WaitAlone(DWORD /*milliseconds*/, DWORD& /*result*/) noexcept { return false; }

    // With WaitLock() held: what a waiting thread may drive to signal the
    // object, or null.
    virtual std::shared_ptr<IoSource> DrivenBy() noexcept { return nullptr; }

    // With WaitLock() held: the waits that look at this object.
    void AddWaiter(WaitNode& node) noexcept;
    void RemoveWaiter(WaitNode& node) noexcept;
    void NotifyWaiters() noexcept;

private:
    friend class HandleTable;
    const ObjectKind kind_;
    int handleCount_ = 0;          // guarded by the handle table's lock
    WaitNode* waiters_ = nullptr;  // guarded by WaitLock()
};

using ObjectPtr = std::shared_ptr<KernelObject>;

// The process's handles: small multiples of 4, as on Windows, each naming one
// object. Lookups of closed or made-up values fail rather than crash.
class HandleTable {
public:
    static HandleTable& Instance();

    // A new handle for `object`; null with ERROR_NOT_ENOUGH_MEMORY when the
    // table cannot grow.
    HANDLE Insert(ObjectPtr object) noexcept;
    // The object behind `handle`, or null.
    ObjectPtr Lookup(HANDLE handle) const noexcept;
    // Removes `handle`; false when it names nothing.
    bool Close(HANDLE handle) noexcept;
    // How many handles of this process name `object`.
    int HandleCount(const KernelObject& object) const noexcept;

private:
    mutable std::mutex lock_;
    std::vector<ObjectPtr> slots_;
    std::vector<size_t> freeSlots_;
};

// The object behind `handle` when it is of `kind`; otherwise null with
// ERROR_INVALID_HANDLE, as Windows reports a handle of the wrong type.
ObjectPtr LookupKind(HANDLE handle, ObjectKind kind) noexcept;

template <typename T>
std::shared_ptr<T> LookupAs(HANDLE handle, ObjectKind kind) noexcept {
    return std::static_pointer_cast<T>(LookupKind(handle, kind));
}

// Inserts `object` into the handle table; a null object (a failed creation
// that has set the last error) gives a null handle.
HANDLE HandleFor(ObjectPtr object) noexcept;

// The one lock behind every in-process wait: an object's state changes under
// it, and a change that may satisfy a wait ends with WakeWaiters(object),
// which wakes the threads that wait on that object.
std::mutex& WaitLock() noexcept;
void WakeWaiters(KernelObject& object) noexcept;

// Waits until one of the `count` objects is signalled and consumes that one
// (the lowest index wins), or the time-out passes. Returns WAIT_OBJECT_0 + i,
// WAIT_ABANDONED_0 + i or WAIT_TIMEOUT.
DWORD WaitForObjects(const ObjectPtr* objects, size_t count, DWORD milliseconds) noexcept;

// The moment a wait of `milliseconds` started now ends; INFINITE never ends.
using Clock = std::chrono::steady_clock;
Clock::time_point DeadlineAfter(DWORD milliseconds) noexcept;

}  // namespace platform::posix
