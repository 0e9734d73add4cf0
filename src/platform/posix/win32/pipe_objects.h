// The objects behind pipe handles: pipe ends and, per pipe name, the
// listening socket of the server's instances. Internal to the POSIX subset.
#pragma once

#include <deque>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "event_object.h"
#include "io_engine.h"
#include "kernel_object.h"
#include "nt_status.h"
#include "unique_fd.h"

namespace platform::posix {

// One read, write or connect: where its outcome goes and what to signal.
struct IoRequest {
    OVERLAPPED* overlapped;
    EventPtr event;
    char* buffer;
    DWORD size;
    // Whoever looks at the operation can find it through its event (an
    // OVERLAPPED's own event, or a blocking call's), so that a read need not
    // be watched by the I/O thread until someone does: the thread that
    // waits for it usually finishes it itself.
    bool findable = false;
};

enum class PipeOperation { Read, Write, Connect };

class PipeListener;

// A server instance or a client end. All state is guarded by the I/O
// engine's lock; the owning handle's threads start operations, the I/O thread
// finishes those that had to wait.
//
// A server instance moves Listening -> Connected (a client took it) ->
// Disconnected (DisconnectNamedPipe) -> Listening (ConnectNamedPipe). A client
// end is Connected until the server disconnects it.
class PipeEnd final : public KernelObject,
                      public IoSource,
                      public std::enable_shared_from_this<PipeEnd>,
                      private IoEngine::Watcher {
public:
    // A new pipe end with its share of the I/O thread; null with the last
    // error set on failure.
    static std::shared_ptr<PipeEnd> Make(bool server, bool messageType, bool messageRead, bool overlapped) noexcept;

    PipeEnd(bool server, bool messageType, bool messageRead, bool overlapped, EventPtr completion) noexcept;
    ~PipeEnd() override;

    DWORD WaitError() const noexcept override;
    void OnLastHandleClosed() noexcept override;

    bool Overlapped() const noexcept { return overlapped_; }
    // Signalled at completion for overlapped operations without an event.
    const EventPtr& CompletionEvent() const noexcept { return completion_; }

    // Starts `operation`: returns nt_status::kPending once it waits, or the
    // status it ended with at once (the OVERLAPPED then holds the outcome
    // unless the status is an error).
    ULONG_PTR Start(PipeOperation operation, const IoRequest& request) noexcept;

    // Ends the pending operations of `overlapped` (all when null) with
    // kCancelled; false when there was none.
    bool Cancel(const OVERLAPPED* overlapped) noexcept;

    // The instances of a server end's pipe in this process; 0 for a client
    // end, which does not know them.
    DWORD Instances() noexcept;

    // DisconnectNamedPipe and the read-mode switch; return a Win32 code.
    DWORD Disconnect() noexcept;
    DWORD SetReadMode(bool message) noexcept;

    // A thread that waits for a read's event polls the socket itself, while
    // the I/O thread leaves it alone.
    int TakeOver() noexcept override;
    void HandBack() noexcept override;
    void Arm() noexcept override;

    // With the engine's lock held, for the listener.
    bool Listening() const noexcept;
    void Attach(UniqueFd socket) noexcept;
    void SetListener(std::shared_ptr<PipeListener> listener) noexcept;

private:
    enum class State { Listening, Connected, Disconnected };

    struct Outcome {
        ULONG_PTR status;
        DWORD bytes;
    };

    struct Message {
        std::vector<char> bytes;
        size_t offset;
    };

    void OnReady(uint32_t events) noexcept override;
    void Shutdown() noexcept;

    ULONG_PTR StartQueued(std::vector<IoRequest>& queue, const IoRequest& request, PipeOperation operation);
    ULONG_PTR StartConnect(const IoRequest& request);
    Outcome Attempt(PipeOperation operation, const IoRequest& request) noexcept;
    Outcome TryRead(char* buffer, DWORD size) noexcept;
    Outcome ReadPiece(char* buffer, DWORD size) noexcept;
    Outcome TakeQueued(char* buffer, DWORD size) noexcept;
    Outcome TryWrite(const char* buffer, DWORD size) noexcept;
    void Drain() noexcept;
    bool PeerHungUp() noexcept;
    void BecomeDisconnected() noexcept;
    void Pump() noexcept;
    void FailAll(ULONG_PTR status) noexcept;
    // The OVERLAPPED takes the outcome, then the event is signalled.
    void Finish(const IoRequest& request, ULONG_PTR status, DWORD bytes) noexcept;
    void CloseSocket() noexcept;

    const bool server_;
    const bool messageType_;
    const bool overlapped_;
    const EventPtr completion_;
    bool messageRead_;
    State state_;
    bool closed_ = false;
    bool peerClosed_ = false;
    UniqueFd socket_;
    uint64_t token_ = 0;
    int directWaiters_ = 0;  // threads that poll the socket for a read (TakeOver)
    // Whether the I/O thread watches for the reads in flight; a findable read
    // that starts the queue is left to its waiter until someone arms it.
    bool readsArmed_ = true;
    std::deque<Message> received_;  // read from the socket, not yet by the caller
    // Operations in their order; vectors, which keep their room, so that a
    // read after read costs no allocation (a deque takes a block now and then).
    std::vector<IoRequest> reads_;
    std::vector<IoRequest> writes_;
    std::optional<IoRequest> connect_;
    std::shared_ptr<PipeListener> listener_;
};

// The listening socket of one pipe name in this process and the server
// instances behind it. It hands each connecting client to a listening
// instance, and answers clients that wait for one. Guarded by the I/O
// engine's lock; closes itself when its last instance goes.
class PipeListener final : private IoEngine::Watcher {
public:
    // The listener of `path`, created and bound when this process has none.
    // Null with the last error set on failure. With the engine's lock held.
    static std::shared_ptr<PipeListener> ForPath(const std::string& path, DWORD maxInstances,
                                                 bool messageType) noexcept;

    PipeListener(std::string path, UniqueFd socket, DWORD maxInstances, bool messageType) noexcept;

    // With the engine's lock held. AddInstance fails when the pipe has its
    // maximum number of instances.
    bool HasInstances() const noexcept { return !instances_.empty(); }
    DWORD InstanceCount() const noexcept { return static_cast<DWORD>(instances_.size()); }
    bool AddInstance(PipeEnd* instance) noexcept;
    void RemoveInstance(PipeEnd* instance) noexcept;
    // An instance started listening: clients waiting for one are told.
    void InstanceListening() noexcept;

private:
    // A client connection whose request has not been settled yet.
    struct Pending final : IoEngine::Watcher {
        Pending(PipeListener& listener, UniqueFd client) noexcept : owner(listener), socket(std::move(client)) {}
        void OnReady(uint32_t /*events*/) noexcept override { owner.OnPendingReady(*this); }

        PipeListener& owner;
        UniqueFd socket;
        uint64_t token = 0;
        bool waiting = false;
    };

    void OnReady(uint32_t events) noexcept override;
    void OnPendingReady(Pending& pending) noexcept;
    void Offer(Pending& pending) noexcept;
    bool AnyListening() const noexcept;
    void Drop(Pending& pending) noexcept;
    void Close() noexcept;

    const std::string path_;
    UniqueFd socket_;
    uint64_t token_ = 0;
    const DWORD maxInstances_;
    const bool messageType_;
    std::vector<PipeEnd*> instances_;
    std::list<Pending> pending_;
};

}  // namespace platform::posix
