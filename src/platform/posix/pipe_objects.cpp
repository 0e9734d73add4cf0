// Pipe ends and listeners: the state machines behind the pipe functions.
#include "pipe_objects.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <unordered_map>

#include <poll.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/un.h>

#include "errno_map.h"
#include "platform/immortal.h"
#include "win32_errors.h"

namespace platform::posix {

namespace nt_status {
namespace {

struct StatusCode {
    ULONG_PTR status;
    DWORD error;
};

constexpr StatusCode kStatusCodes[] = {
    {kSuccess, ERROR_SUCCESS},
    {kPending, ERROR_IO_PENDING},
    {kBufferOverflow, ERROR_MORE_DATA},
    {kInvalidHandle, ERROR_INVALID_HANDLE},
    {kInvalidParameter, ERROR_INVALID_PARAMETER},
    {kIllegalFunction, ERROR_INVALID_FUNCTION},
    {kNoMemory, ERROR_NOT_ENOUGH_MEMORY},
    {kPipeDisconnected, ERROR_PIPE_NOT_CONNECTED},
    {kPipeClosing, ERROR_NO_DATA},
    {kPipeConnected, ERROR_PIPE_CONNECTED},
    {kPipeListening, ERROR_PIPE_LISTENING},
    {kPipeBroken, ERROR_BROKEN_PIPE},
};

// Win32 codes without a status above travel as customer-defined error
// statuses that carry the code itself.
constexpr ULONG_PTR kCarriedError = 0xE0000000;

}  // namespace

DWORD ToWin32(ULONG_PTR status) noexcept {
    for (const StatusCode& entry : kStatusCodes) {
        if (entry.status == status) {
            return entry.error;
        }
    }
    return (status & kCarriedError) == kCarriedError ? static_cast<DWORD>(status & 0xFFFF) : ERROR_GEN_FAILURE;
}

ULONG_PTR FromErrno(int error) noexcept {
    const DWORD code = Win32ErrorFromErrno(error);
    for (const StatusCode& entry : kStatusCodes) {
        if (entry.error == code) {
            return entry.status;
        }
    }
    return kCarriedError | code;
}

}  // namespace nt_status

namespace {

using nt_status::IsError;

// Finishes `request`: the OVERLAPPED takes the outcome, then its event is
// signalled. Internal is written last, so a caller that sees it changed also
// sees the byte count.
void Finish(const IoRequest& request, ULONG_PTR status, DWORD bytes) noexcept {
    request.overlapped->InternalHigh = bytes;
    __atomic_store_n(&request.overlapped->Internal, status, __ATOMIC_RELEASE);
    request.event->Set();
}

ssize_t ReceiveRetrying(int fd, msghdr& header, int flags) noexcept {
    for (;;) {
        const ssize_t received = recvmsg(fd, &header, flags | MSG_DONTWAIT);
        if (received >= 0 || errno != EINTR) {
            return received;
        }
    }
}

// Receives one packet: its tag byte and up to `size` bytes of payload.
ssize_t ReceivePacket(int fd, char& tag, char* payload, size_t size) noexcept {
    iovec parts[2] = {{&tag, 1}, {payload, size}};
    msghdr header{};
    header.msg_iov = parts;
    header.msg_iovlen = 2;
    return ReceiveRetrying(fd, header, 0);
}

// The length of the next packet, tag included, without taking it; 0 when the
// peer has closed, -1 with errno when there is none yet.
ssize_t PeekPacket(int fd, char& tag) noexcept {
    iovec part{&tag, 1};
    msghdr header{};
    header.msg_iov = &part;
    header.msg_iovlen = 1;
    return ReceiveRetrying(fd, header, MSG_PEEK | MSG_TRUNC);
}

bool SendTagged(int fd, char tag, const char* payload, size_t size) noexcept {
    iovec parts[2] = {{&tag, 1}, {const_cast<char*>(payload), size}};
    msghdr header{};
    header.msg_iov = parts;
    header.msg_iovlen = 2;
    for (;;) {
        if (sendmsg(fd, &header, MSG_DONTWAIT | MSG_NOSIGNAL) >= 0) {
            return true;
        }
        if (errno != EINTR) {
            return false;
        }
    }
}

bool IsPeerGone(int error) {
    return error == EPIPE || error == ECONNRESET || error == ENOTCONN;
}

// This process's listeners by socket path; guarded by the engine's lock.
std::unordered_map<std::string, std::weak_ptr<PipeListener>>& Listeners() {
    static Immortal<std::unordered_map<std::string, std::weak_ptr<PipeListener>>> listeners;
    return listeners.get();
}

// Binds a listening socket at `path`, taking the place of a socket that a
// process which has ended left behind.
UniqueFd BindListener(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return UniqueFd();
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const auto* generic = reinterpret_cast<const sockaddr*>(&address);
    constexpr int kAttempts = 3;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        UniqueFd socket(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
        if (!socket) {
            SetLastErrorFromErrno(errno);
            return UniqueFd();
        }
        if (bind(socket.get(), generic, sizeof address) == 0) {
            if (listen(socket.get(), SOMAXCONN) != 0) {
                SetLastErrorFromErrno(errno);
                unlink(path.c_str());
                return UniqueFd();
            }
            return socket;
        }
        if (errno != EADDRINUSE) {
            SetLastErrorFromErrno(errno);
            return UniqueFd();
        }
        const UniqueFd probe(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
        if (!probe) {
            SetLastErrorFromErrno(errno);
            return UniqueFd();
        }
        if (connect(probe.get(), generic, sizeof address) == 0 || errno != ECONNREFUSED) {
            // Another process serves this pipe.
            SetLastError(ERROR_ACCESS_DENIED);
            return UniqueFd();
        }
        unlink(path.c_str());
    }
    SetLastError(ERROR_ACCESS_DENIED);
    return UniqueFd();
}

}  // namespace

// PipeEnd

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
    : KernelObject(ObjectKind::Pipe), server_(server), messageType_(messageType), overlapped_(overlapped),
      completion_(std::move(completion)), messageRead_(messageRead),
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
    const uint32_t events = (reads_.empty() ? 0u : static_cast<uint32_t>(EPOLLIN)) |
                            (writes_.empty() ? 0u : static_cast<uint32_t>(EPOLLOUT));
    if (!IoEngine::Instance().Watch(socket_.get(), token_, this, events)) {
        FailAll(nt_status::FromErrno(errno));
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

// PipeListener

std::shared_ptr<PipeListener> PipeListener::ForPath(const std::string& path, DWORD maxInstances,
                                                    bool messageType) noexcept {
    try {
        auto& listeners = Listeners();
        if (auto found = listeners.find(path); found != listeners.end()) {
            if (auto listener = found->second.lock()) {
                return listener;
            }
        }
        UniqueFd socket = BindListener(path);
        if (!socket) {
            return nullptr;
        }
        auto listener = std::make_shared<PipeListener>(path, std::move(socket), maxInstances, messageType);
        if (!IoEngine::Instance().Watch(listener->socket_.get(), listener->token_, listener.get(), EPOLLIN)) {
            SetLastErrorFromErrno(errno);
            listener->Close();
            return nullptr;
        }
        listeners[path] = listener;
        return listener;
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
}

PipeListener::PipeListener(std::string path, UniqueFd socket, DWORD maxInstances, bool messageType) noexcept
    : path_(std::move(path)), socket_(std::move(socket)), maxInstances_(maxInstances), messageType_(messageType) {}

bool PipeListener::AddInstance(PipeEnd* instance) noexcept {
    if (instances_.size() >= maxInstances_) {
        SetLastError(ERROR_PIPE_BUSY);
        return false;
    }
    try {
        instances_.push_back(instance);
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    InstanceListening();
    return true;
}

void PipeListener::RemoveInstance(PipeEnd* instance) noexcept {
    instances_.erase(std::remove(instances_.begin(), instances_.end(), instance), instances_.end());
    if (instances_.empty()) {
        Close();
    }
}

void PipeListener::InstanceListening() noexcept {
    for (auto it = pending_.begin(); it != pending_.end();) {
        Pending& pending = *it++;
        if (pending.waiting) {
            static_cast<void>(send(pending.socket.get(), &pipe_protocol::kAccepted, 1, MSG_DONTWAIT | MSG_NOSIGNAL));
            Drop(pending);
        }
    }
}

void PipeListener::OnReady(uint32_t /*events*/) noexcept {
    for (;;) {
        UniqueFd socket(accept4(socket_.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
        if (!socket) {
            if (errno == EINTR || errno == ECONNABORTED) {
                continue;
            }
            return;
        }
        try {
            Pending& pending = pending_.emplace_back(*this, std::move(socket));
            if (!IoEngine::Instance().Watch(pending.socket.get(), pending.token, &pending, EPOLLIN)) {
                pending_.pop_back();
            }
        } catch (const std::bad_alloc&) {
            return;
        }
    }
}

void PipeListener::OnPendingReady(Pending& pending) noexcept {
    if (pending.waiting) {
        // A waiting client never speaks again: this is its hang-up.
        Drop(pending);
        return;
    }
    char request = 0;
    const ssize_t received = recv(pending.socket.get(), &request, 1, MSG_DONTWAIT);
    if (received < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
        return;
    }
    if (received == 1 && request == pipe_protocol::kConnectRequest) {
        Offer(pending);
    } else if (received == 1 && request == pipe_protocol::kWaitRequest && !AnyListening()) {
        pending.waiting = true;
    } else {
        if (received == 1 && request == pipe_protocol::kWaitRequest) {
            static_cast<void>(send(pending.socket.get(), &pipe_protocol::kAccepted, 1, MSG_DONTWAIT | MSG_NOSIGNAL));
        }
        Drop(pending);
    }
}

// Hands the client to the first listening instance, or tells it that all
// are busy.
void PipeListener::Offer(Pending& pending) noexcept {
    auto instance = std::find_if(instances_.begin(), instances_.end(),
                                 [](const PipeEnd* candidate) { return candidate->Listening(); });
    if (instance == instances_.end()) {
        static_cast<void>(send(pending.socket.get(), &pipe_protocol::kBusy, 1, MSG_DONTWAIT | MSG_NOSIGNAL));
        Drop(pending);
        return;
    }
    const char reply[2] = {pipe_protocol::kAccepted, messageType_ ? pipe_protocol::kMessageType : '\0'};
    if (send(pending.socket.get(), reply, sizeof reply, MSG_DONTWAIT | MSG_NOSIGNAL) != sizeof reply) {
        Drop(pending);
        return;
    }
    IoEngine::Instance().Unwatch(pending.socket.get(), pending.token);
    UniqueFd socket(pending.socket.release());
    Drop(pending);
    (*instance)->Attach(std::move(socket));
}

bool PipeListener::AnyListening() const noexcept {
    return std::any_of(instances_.begin(), instances_.end(),
                       [](const PipeEnd* instance) { return instance->Listening(); });
}

void PipeListener::Drop(Pending& pending) noexcept {
    if (pending.socket) {
        IoEngine::Instance().Unwatch(pending.socket.get(), pending.token);
    }
    pending_.remove_if([&pending](const Pending& candidate) { return &candidate == &pending; });
}

// The name goes before the socket closes, so that no other process can have
// bound it in between.
void PipeListener::Close() noexcept {
    if (!socket_) {
        return;
    }
    IoEngine::Instance().Unwatch(socket_.get(), token_);
    unlink(path_.c_str());
    socket_.reset();
    while (!pending_.empty()) {
        Drop(pending_.front());
    }
    auto& listeners = Listeners();
    if (auto found = listeners.find(path_); found != listeners.end() && found->second.lock().get() == this) {
        listeners.erase(found);
    }
}

}  // namespace platform::posix
