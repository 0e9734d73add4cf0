// The handle table, CloseHandle, and the waits shared by all waitable objects.
#include <algorithm>
#include <condition_variable>
#include <new>
#include <optional>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include "kernel_object.h"
#include "platform/immortal.h"
#include "unique_fd.h"
#include "win32_errors.h"
#include "win32_handles.h"

namespace platform::posix {
namespace {

constexpr uintptr_t kHandleStep = 4;

// How often a wait looks again at objects that another process can signal.
constexpr auto kOutsidePollInterval = std::chrono::milliseconds(2);

// A wait's nodes on the objects it looks at, linked while it sleeps.
class WaitRegistration {
public:
    WaitRegistration(const ObjectPtr* objects, size_t count, Sleeper& sleeper) noexcept
        : objects_(objects), count_(count) {
        for (size_t i = 0; i < count_; ++i) {
            nodes_[i].sleeper = &sleeper;
            objects_[i]->AddWaiter(nodes_[i]);
        }
    }
    ~WaitRegistration() {
        for (size_t i = 0; i < count_; ++i) {
            objects_[i]->RemoveWaiter(nodes_[i]);
        }
    }
    WaitRegistration(const WaitRegistration&) = delete;
    WaitRegistration& operator=(const WaitRegistration&) = delete;

private:
    const ObjectPtr* objects_;
    size_t count_;
    WaitNode nodes_[MAXIMUM_WAIT_OBJECTS];
};

// The calling thread's eventfd, by which the objects of a wait that polls
// wake it; -1 when none can be made (the wait then does not poll).
int ThreadWakeFd() noexcept {
    static thread_local const UniqueFd wakeFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    return wakeFd ? wakeFd.get() : -1;
}

// The I/O sources that the objects' waiters may drive; with WaitLock() held.
size_t CollectSources(const ObjectPtr* objects, size_t count, std::shared_ptr<IoSource>* sources) noexcept {
    size_t found = 0;
    for (size_t i = 0; i < count; ++i) {
        if (std::shared_ptr<IoSource> source = objects[i]->DrivenBy()) {
            sources[found++] = std::move(source);
        }
    }
    return found;
}

// Sleeps in poll() on the sources' descriptors and the thread's eventfd until
// one is ready or `deadline` passes; `takenOver` tells which sources are to
// be handed back. Without WaitLock().
void PollSources(std::shared_ptr<IoSource>* sources, size_t count, bool* takenOver, int wakeFd,
                 Clock::time_point deadline) noexcept {
    pollfd entries[MAXIMUM_WAIT_OBJECTS + 1];
    entries[0] = pollfd{wakeFd, POLLIN, 0};
    size_t polled = 1;
    for (size_t i = 0; i < count; ++i) {
        const int fd = sources[i]->TakeOver();
        takenOver[i] = fd >= 0;
        if (takenOver[i]) {
            entries[polled++] = pollfd{fd, POLLIN, 0};
        }
    }
    int timeout = -1;
    if (deadline != Clock::time_point::max()) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        timeout = static_cast<int>(std::clamp<decltype(left)>(left, 0, INT32_MAX));
    }
    if (poll(entries, polled, timeout) > 0 && (entries[0].revents & POLLIN) != 0) {
        uint64_t wakes = 0;
        static_cast<void>(read(wakeFd, &wakes, sizeof wakes));
    }
}

// Lets each source taken over finish what it can, and drops them all.
// Without WaitLock().
void HandBackSources(std::shared_ptr<IoSource>* sources, size_t count, const bool* takenOver) noexcept {
    for (size_t i = 0; i < count; ++i) {
        if (takenOver[i]) {
            sources[i]->HandBack();
        }
        sources[i].reset();
    }
}

}  // namespace

void Sleeper::Wake() noexcept {
    if (wakeFd < 0) {
        condition.notify_one();
    } else if (inPoll) {
        const uint64_t one = 1;
        static_cast<void>(write(wakeFd, &one, sizeof one));
    }
}

void KernelObject::AddWaiter(WaitNode& node) noexcept {
    node.previous = nullptr;
    node.next = waiters_;
    if (waiters_ != nullptr) {
        waiters_->previous = &node;
    }
    waiters_ = &node;
}

void KernelObject::RemoveWaiter(WaitNode& node) noexcept {
    (node.previous != nullptr ? node.previous->next : waiters_) = node.next;
    if (node.next != nullptr) {
        node.next->previous = node.previous;
    }
    node.previous = node.next = nullptr;
}

void KernelObject::NotifyWaiters() noexcept {
    for (WaitNode* node = waiters_; node != nullptr; node = node->next) {
        node->sleeper->Wake();
    }
}

HandleTable& HandleTable::Instance() {
    static Immortal<HandleTable> table;
    return table.get();
}

HANDLE HandleTable::Insert(ObjectPtr object) noexcept {
    std::lock_guard<std::mutex> guard(lock_);
    size_t slot = 0;
    try {
        if (freeSlots_.empty()) {
            // Room for every slot on the free list, so that Close never
            // allocates.
            freeSlots_.reserve(slots_.size() + 1);
            slots_.emplace_back();
            slot = slots_.size() - 1;
        } else {
            slot = freeSlots_.back();
            freeSlots_.pop_back();
        }
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    ++object->handleCount_;
    slots_[slot] = std::move(object);
    return reinterpret_cast<HANDLE>((slot + 1) * kHandleStep);
}

ObjectPtr HandleTable::Lookup(HANDLE handle) const noexcept {
    const uintptr_t value = reinterpret_cast<uintptr_t>(handle);
    if (value == 0 || value % kHandleStep != 0) {
        return nullptr;
    }
    const size_t slot = value / kHandleStep - 1;
    std::lock_guard<std::mutex> guard(lock_);
    return slot < slots_.size() ? slots_[slot] : nullptr;
}

bool HandleTable::Close(HANDLE handle) noexcept {
    const uintptr_t value = reinterpret_cast<uintptr_t>(handle);
    if (value == 0 || value % kHandleStep != 0) {
        return false;
    }
    const size_t slot = value / kHandleStep - 1;
    ObjectPtr object;
    bool lastHandle = false;
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (slot >= slots_.size() || !slots_[slot]) {
            return false;
        }
        object = std::move(slots_[slot]);
        slots_[slot].reset();
        freeSlots_.push_back(slot);
        lastHandle = --object->handleCount_ == 0;
    }
    // Outside the table's lock: closing may wait for an I/O thread, and the
    // object's destructor may take the locks of its own kind.
    if (lastHandle) {
        object->OnLastHandleClosed();
    }
    return true;
}

int HandleTable::HandleCount(const KernelObject& object) const noexcept {
    std::lock_guard<std::mutex> guard(lock_);
    return object.handleCount_;
}

ObjectPtr LookupKind(HANDLE handle, ObjectKind kind) noexcept {
    ObjectPtr object = HandleTable::Instance().Lookup(handle);
    if (!object || object->Kind() != kind) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return object;
}

HANDLE HandleFor(ObjectPtr object) noexcept {
    return object ? HandleTable::Instance().Insert(std::move(object)) : nullptr;
}

std::mutex& WaitLock() noexcept {
    static Immortal<std::mutex> lock;
    return lock.get();
}

void WakeWaiters(KernelObject& object) noexcept {
    std::lock_guard<std::mutex> guard(WaitLock());
    object.NotifyWaiters();
}

Clock::time_point DeadlineAfter(DWORD milliseconds) noexcept {
    if (milliseconds == INFINITE) {
        return Clock::time_point::max();
    }
    return Clock::now() + std::chrono::milliseconds(milliseconds);
}

DWORD WaitForObjects(const ObjectPtr* objects, size_t count, DWORD milliseconds) noexcept {
    DWORD result = WAIT_FAILED;
    if (count == 1 && objects[0]->WaitAlone(milliseconds, result)) {
        return result;
    }
    const Clock::time_point deadline = DeadlineAfter(milliseconds);
    const bool fromOutside =
        std::any_of(objects, objects + count, [](const ObjectPtr& object) { return object->SignalledFromOutside(); });
    Sleeper sleeper;
    std::unique_lock<std::mutex> guard(WaitLock());
    std::optional<WaitRegistration> registration;
    std::shared_ptr<IoSource> sources[MAXIMUM_WAIT_OBJECTS];
    for (;;) {
        for (DWORD i = 0; i < count; ++i) {
            switch (objects[i]->TryAcquire()) {
            case WaitOutcome::Acquired:
                return WAIT_OBJECT_0 + i;
            case WaitOutcome::Abandoned:
                return WAIT_ABANDONED_0 + i;
            case WaitOutcome::NotSignalled:
                break;
            }
        }
        const Clock::time_point now = Clock::now();
        if (now >= deadline) {
            // The I/O in flight that this wait looked at goes on without it.
            // The wait leaves the objects' lists while it holds their lock.
            const size_t looked = CollectSources(objects, count, sources);
            registration.reset();
            guard.unlock();
            for (size_t i = 0; i < looked; ++i) {
                sources[i]->Arm();
                sources[i].reset();
            }
            return WAIT_TIMEOUT;
        }
        const size_t sourceCount = CollectSources(objects, count, sources);
        if (!registration) {
            // A wait that finds I/O to drive polls from then on, so that the
            // objects know how to wake it.
            if (sourceCount > 0) {
                sleeper.wakeFd = ThreadWakeFd();
            }
            registration.emplace(objects, count, sleeper);
        }
        const Clock::time_point until = fromOutside ? std::min(deadline, now + kOutsidePollInterval) : deadline;
        if (sleeper.wakeFd >= 0) {
            bool takenOver[MAXIMUM_WAIT_OBJECTS] = {};
            sleeper.inPoll = true;
            guard.unlock();
            PollSources(sources, sourceCount, takenOver, sleeper.wakeFd, until);
            guard.lock();
            // The read that a source finishes now signals this wait's own
            // object: no need to write the eventfd for it.
            sleeper.inPoll = false;
            guard.unlock();
            HandBackSources(sources, sourceCount, takenOver);
            guard.lock();
        } else if (until == Clock::time_point::max()) {
            sleeper.condition.wait(guard);
        } else {
            sleeper.condition.wait_until(guard, until);
        }
    }
}

}  // namespace platform::posix

using platform::posix::HandleTable;
using platform::posix::ObjectPtr;

BOOL CloseHandle(HANDLE object) {
    if (object == INVALID_HANDLE_VALUE) {
        return TRUE;
    }
    if (!HandleTable::Instance().Close(object)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

DWORD WaitForMultipleObjects(DWORD count, const HANDLE* objects, BOOL waitAll, DWORD milliseconds) {
    if (count == 0 || count > MAXIMUM_WAIT_OBJECTS || objects == nullptr || waitAll) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    ObjectPtr resolved[MAXIMUM_WAIT_OBJECTS];
    for (DWORD i = 0; i < count; ++i) {
        resolved[i] = HandleTable::Instance().Lookup(objects[i]);
        if (!resolved[i]) {
            SetLastError(ERROR_INVALID_HANDLE);
            return WAIT_FAILED;
        }
        if (const DWORD error = resolved[i]->WaitError(); error != ERROR_SUCCESS) {
            SetLastError(error);
            return WAIT_FAILED;
        }
    }
    return platform::posix::WaitForObjects(resolved, count, milliseconds);
}

DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds) {
    return WaitForMultipleObjects(1, &object, FALSE, milliseconds);
}
