// A pipe end: a server instance or a client end, and the state machine of
// the operations started on it.
#include "pipe_objects.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include <poll.h>
#include <sys/epoll.h>
#include <sys/socket.h>

#include "errno_map.h"
#include "pipe_transport.h"
#include "win32_errors.h"

namespace platform::posix {
namespace {

using nt_status::IsError;

}  // namespace

// Internal is written last, so a caller that sees it changed also sees the
// byte count.
void PipeEnd::Finish(const IoRequest& request, ULONG_PTR status, DWORD bytes) noexcept {
    request.overlapped->InternalHigh = bytes;
    __atomic_store_n(&request.overlapped->Internal, status, __ATOMIC_RELEASE);
    request.event->Set(this);
}

std::shared_ptr<PipeEnd> PipeEnd::Make(bool server, bool messageType, bool messageRead, bool overlapped) noexcept {
    if (!IoEngine::Instance().AddUser()) {
        return nullptr;
    }
    try {
        return std::make_shared<PipeEnd>(server, messageType, messageRead, overlapped,
                                         std::make_shared<EventObject>(true, false));
    } catch (const std::bad_alloc&) {
        IoEngine::Instance().RemoveUser();
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
}

PipeEnd::PipeEnd(bool server, bool messageType, bool messageRead, bool overlapped, EventPtr completion) noexcept
    : KernelObject(ObjectKind::Pipe),
      server_(server),
      messageType_(messageType),
      overlapped_(overlapped),
      completion_(std::move(completion)),
      messageRead_(messageRead),
      state_(server ? State::Listening : State::Connected) {}

PipeEnd::~PipeEnd() {
    Shutdown();
}

// Windows can wait on a pipe handle; this subset waits on events only.
DWORD PipeEnd::WaitError() const noexcept {
    return ERROR_INVALID_HANDLE;
}

void PipeEnd::OnLastHandleClosed() noexcept {
    Shutdown();
}

// Operations still in flight end as wine ends them when their handle closes,
// with a broken pipe; the socket closes, so the peer sees the end at once.
void PipeEnd::Shutdown() noexcept {
    std::shared_ptr<PipeListener> listener;
    {
        std::lock_guard<std::mutex> guard(IoEngine::Instance().Lock());
        if (closed_) {
            return;
        }
        closed_ = true;
        FailAll(nt_status::kPipeBroken);
        CloseSocket();
        if (listener_) {
            listener_->RemoveInstance(this);
            listener = std::move(listener_);
        }
    }
    IoEngine::Instance().RemoveUser();
}

ULONG_PTR PipeEnd::Start(PipeOperation operation, const IoRequest& request) noexcept {
    std::lock_guard<std::mutex> guard(IoEngine::Instance().Lock());
    if (closed_) {
        return nt_status::kInvalidHandle;
    }
    try {
        switch (operation) {
        case PipeOperation::Read:
            return StartQueued(reads_, request, operation);
        case PipeOperation::Write:
            return StartQueued(writes_, request, operation);
        case PipeOperation::Connect:
            return StartConnect(request);
        }
    } catch (const std::bad_alloc&) {
        return nt_status::kNoMemory;
    }
    return nt_status::kInvalidParameter;
}

// An operation behind others of its kind waits its turn, so that reads and
// writes keep their order.
ULONG_PTR PipeEnd::StartQueued(std::vector<IoRequest>& queue, const IoRequest& request, PipeOperation operation) {
    if (queue.empty()) {
        const Outcome outcome = Attempt(operation, request);
        if (outcome.status != nt_status::kPending) {
            if (!IsError(outcome.status)) {
                Finish(request, outcome.status, outcome.bytes);
            }
            return outcome.status;
        }
    }
    if (operation == PipeOperation::Read) {
        readsArmed_ = queue.empty() ? !request.findable : readsArmed_ || !request.findable;
        request.event->DriveBy(weak_from_this(), this);
    }
    queue.push_back(request);
    Pump();
    return nt_status::kPending;
}

ULONG_PTR PipeEnd::StartConnect(const IoRequest& request) {
    if (!server_) {
        return nt_status::kIllegalFunction;
    }
    switch (state_) {
    case State::Connected:
        return PeerHungUp() ? nt_status::kPipeClosing : nt_status::kPipeConnected;
    case State::Disconnected:
        state_ = State::Listening;
        if (listener_) {
            listener_->InstanceListening();
        }
        break;
    case State::Listening:
        if (connect_) {
            return nt_status::kInvalidParameter;
        }
        break;
    }
    connect_ = request;
    return nt_status::kPending;
}

PipeEnd::Outcome PipeEnd::Attempt(PipeOperation operation, const IoRequest& request) noexcept {
    return operation == PipeOperation::Read ? TryRead(request.buffer, request.size)
                                            : TryWrite(request.buffer, request.size);
}

PipeEnd::Outcome PipeEnd::TryRead(char* buffer, DWORD size) noexcept {
    if (state_ == State::Listening) {
        return {nt_status::kPipeListening, 0};
    }
    if (state_ == State::Disconnected) {
        return {nt_status::kPipeDisconnected, 0};
    }
    const Outcome first = ReadPiece(buffer, size);
    if (messageRead_ || first.status != nt_status::kSuccess) {
        return first;
    }
    // Byte read mode takes whatever else has arrived, up to the buffer's size.
    DWORD total = first.bytes;
    while (total < size) {
        const Outcome next = ReadPiece(buffer + total, size - total);
        if (next.status != nt_status::kSuccess) {
            break;
        }
        total += next.bytes;
    }
    return {nt_status::kSuccess, total};
}

// One message, or the rest of one, from what was received before or from the
// socket. A message longer than the buffer is received whole and kept, so
// that the next reads get its rest.
PipeEnd::Outcome PipeEnd::ReadPiece(char* buffer, DWORD size) noexcept {
    if (!received_.empty()) {
        return TakeQueued(buffer, size);
    }
    if (peerClosed_ || !socket_) {
        return {nt_status::kPipeBroken, 0};
    }
    char tag = 0;
    const ssize_t length = PeekPacket(socket_.get(), tag);
    if (length < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            return {nt_status::kPending, 0};
        }
        if (!IsPeerGone(errno)) {
            return {nt_status::FromErrno(errno), 0};
        }
    }
    if (length <= 0) {
        peerClosed_ = true;
        return {nt_status::kPipeBroken, 0};
    }
    if (tag == pipe_protocol::kDisconnected) {
        BecomeDisconnected();
        return {nt_status::kPipeDisconnected, 0};
    }
    const size_t payload = static_cast<size_t>(length) - 1;
    if (payload <= size) {
        if (ReceivePacket(socket_.get(), tag, buffer, payload) < 0) {
            return {nt_status::FromErrno(errno), 0};
        }
        return {nt_status::kSuccess, static_cast<DWORD>(payload)};
    }
    try {
        Message message{std::vector<char>(payload), 0};
        if (ReceivePacket(socket_.get(), tag, message.bytes.data(), payload) < 0) {
            return {nt_status::FromErrno(errno), 0};
        }
        received_.push_back(std::move(message));
    } catch (const std::bad_alloc&) {
        return {nt_status::kNoMemory, 0};
    }
    return TakeQueued(buffer, size);
}

PipeEnd::Outcome PipeEnd::TakeQueued(char* buffer, DWORD size) noexcept {
    Message& message = received_.front();
    const size_t count = std::min<size_t>(size, message.bytes.size() - message.offset);
    std::memcpy(buffer, message.bytes.data() + message.offset, count);
    message.offset += count;
    if (message.offset == message.bytes.size()) {
        received_.pop_front();
        return {nt_status::kSuccess, static_cast<DWORD>(count)};
    }
    return {messageRead_ ? nt_status::kBufferOverflow : nt_status::kSuccess, static_cast<DWORD>(count)};
}

PipeEnd::Outcome PipeEnd::TryWrite(const char* buffer, DWORD size) noexcept {
    if (state_ == State::Listening) {
        return {nt_status::kPipeListening, 0};
    }
    if (state_ == State::Disconnected) {
        return {nt_status::kPipeDisconnected, 0};
    }
    if (peerClosed_ || !socket_) {
        return {nt_status::kPipeClosing, 0};
    }
    if (SendTagged(socket_.get(), pipe_protocol::kData, buffer, size)) {
        return {nt_status::kSuccess, size};
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
        return {nt_status::kPending, 0};
    }
    if (!IsPeerGone(errno)) {
        return {nt_status::FromErrno(errno), 0};
    }
    // Whether the server closed its end or disconnected this one shows in
    // the last packet it left.
    Drain();
    return {state_ == State::Disconnected ? nt_status::kPipeDisconnected : nt_status::kPipeClosing, 0};
}

// Moves everything the departed peer left in the socket into received_,
// unless its last word was a disconnect notice, which discards it all.
void PipeEnd::Drain() noexcept {
    while (socket_) {
        char tag = 0;
        const ssize_t length = PeekPacket(socket_.get(), tag);
        if (length <= 0) {
            break;
        }
        if (tag == pipe_protocol::kDisconnected) {
            BecomeDisconnected();
            return;
        }
        try {
            Message message{std::vector<char>(static_cast<size_t>(length) - 1), 0};
            if (ReceivePacket(socket_.get(), tag, message.bytes.data(), message.bytes.size()) < 0) {
                break;
            }
            received_.push_back(std::move(message));
        } catch (const std::bad_alloc&) {
            break;
        }
    }
    peerClosed_ = true;
}

bool PipeEnd::PeerHungUp() noexcept {
    if (peerClosed_ || !socket_) {
        return true;
    }
    pollfd entry{socket_.get(), POLLRDHUP, 0};
    return poll(&entry, 1, 0) == 1 && (entry.revents & (POLLHUP | POLLRDHUP)) != 0;
}

void PipeEnd::BecomeDisconnected() noexcept {
    CloseSocket();
    state_ = State::Disconnected;
    received_.clear();
    peerClosed_ = false;
}

bool PipeEnd::Cancel(const OVERLAPPED* overlapped) noexcept {
    std::lock_guard<std::mutex> guard(IoEngine::Instance().Lock());
    const auto matches = [overlapped](const IoRequest& request) {
        return overlapped == nullptr || request.overlapped == overlapped;
    };
    bool cancelled = false;
    for (std::vector<IoRequest>* queue : {&reads_, &writes_}) {
        for (auto it = queue->begin(); it != queue->end();) {
            if (matches(*it)) {
                Finish(*it, nt_status::kCancelled, 0);
                it = queue->erase(it);
                cancelled = true;
            } else {
                ++it;
            }
        }
    }
    if (connect_ && matches(*connect_)) {
        Finish(*connect_, nt_status::kCancelled, 0);
        connect_.reset();
        cancelled = true;
    }
    Pump();
    return cancelled;
}

DWORD PipeEnd::Disconnect() noexcept {
    std::lock_guard<std::mutex> guard(IoEngine::Instance().Lock());
    if (!server_) {
        return ERROR_NOT_SUPPORTED;
    }
    switch (state_) {
    case State::Listening:
        return ERROR_PIPE_LISTENING;
    case State::Disconnected:
        return ERROR_PIPE_NOT_CONNECTED;
    case State::Connected:
        break;
    }
    if (socket_ && !peerClosed_) {
        static_cast<void>(SendTagged(socket_.get(), pipe_protocol::kDisconnected, nullptr, 0));
    }
    BecomeDisconnected();
    Pump();
    return ERROR_SUCCESS;
}

DWORD PipeEnd::SetReadMode(bool message) noexcept {
    std::lock_guard<std::mutex> guard(IoEngine::Instance().Lock());
    if (message && !messageType_) {
        return ERROR_INVALID_PARAMETER;
    }
    messageRead_ = message;
    return ERROR_SUCCESS;
}

DWORD PipeEnd::Instances() noexcept {
    std::lock_guard<std::mutex> guard(IoEngine::Instance().Lock());
    return listener_ ? listener_->InstanceCount() : 0;
}

bool PipeEnd::Listening() const noexcept {
    return server_ && !closed_ && state_ == State::Listening;
}

void PipeEnd::Attach(UniqueFd socket) noexcept {
    socket_ = std::move(socket);
    state_ = State::Connected;
    peerClosed_ = false;
    received_.clear();
    if (connect_) {
        Finish(*connect_, nt_status::kSuccess, 0);
        connect_.reset();
    }
    Pump();
}

void PipeEnd::SetListener(std::shared_ptr<PipeListener> listener) noexcept {
    listener_ = std::move(listener);
}

void PipeEnd::OnReady(uint32_t /*events*/) noexcept {
    Pump();
}

// Finishes every waiting operation that can finish now, then watches the
// socket for what the rest wait for.
void PipeEnd::Pump() noexcept {
    const std::pair<std::vector<IoRequest>*, PipeOperation> queues[] = {{&reads_, PipeOperation::Read},
                                                                        {&writes_, PipeOperation::Write}};
    for (const auto& [queue, operation] : queues) {
        while (!queue->empty()) {
            const Outcome outcome = Attempt(operation, queue->front());
            if (outcome.status == nt_status::kPending) {
                break;
            }
            Finish(queue->front(), outcome.status, outcome.bytes);
            queue->erase(queue->begin());
        }
    }
    if (!socket_) {
        return;
    }
    const bool watchReads = !reads_.empty() && readsArmed_ && directWaiters_ == 0;
    const uint32_t events =
        (watchReads ? static_cast<uint32_t>(EPOLLIN) : 0u) | (writes_.empty() ? 0u : static_cast<uint32_t>(EPOLLOUT));
    if (!IoEngine::Instance().Watch(socket_.get(), token_, this, events)) {
        FailAll(nt_status::FromErrno(errno));
    }
}

int PipeEnd::TakeOver() noexcept {
    std::lock_guard<std::mutex> guard(IoEngine::Instance().Lock());
    if (closed_ || !socket_ || reads_.empty()) {
        return -1;
    }
    ++directWaiters_;
    // Stops the I/O thread watching for reads; finishes a read that can
    // finish already, which wakes the waiter at once.
    Pump();
    if (!socket_ || reads_.empty()) {
        --directWaiters_;
        return -1;
    }
    return socket_.get();
}

void PipeEnd::HandBack() noexcept {
    std::lock_guard<std::mutex> guard(IoEngine::Instance().Lock());
    --directWaiters_;
    Pump();
}

void PipeEnd::Arm() noexcept {
    std::lock_guard<std::mutex> guard(IoEngine::Instance().Lock());
    if (!readsArmed_) {
        readsArmed_ = true;
        Pump();
    }
}

void PipeEnd::FailAll(ULONG_PTR status) noexcept {
    for (std::vector<IoRequest>* queue : {&reads_, &writes_}) {
        for (const IoRequest& request : *queue) {
            Finish(request, status, 0);
        }
        queue->clear();
    }
    if (connect_) {
        Finish(*connect_, status, 0);
        connect_.reset();
    }
}

void PipeEnd::CloseSocket() noexcept {
    if (socket_) {
        IoEngine::Instance().Unwatch(socket_.get(), token_);
        socket_.reset();
    }
}

}  // namespace platform::posix
