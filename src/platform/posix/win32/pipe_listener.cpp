// The listening socket of a pipe name and the clients it hands to the
// server's instances.
#include "pipe_objects.h"

#include <algorithm>
#include <cerrno>
#include <new>
#include <unordered_map>

#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "errno_map.h"
#include "pipe_transport.h"
#include "platform/immortal.h"
#include "win32_errors.h"

namespace platform::posix {
namespace {

// This process's listeners by socket path; guarded by the engine's lock.
std::unordered_map<std::string, std::weak_ptr<PipeListener>>& Listeners() {
    static Immortal<std::unordered_map<std::string, std::weak_ptr<PipeListener>>> listeners;
    return listeners.get();
}

}  // namespace

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
