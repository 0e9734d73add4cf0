#include "pipe_transport.h"

#include <cerrno>
#include <chrono>
#include <cstring>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "errno_map.h"
#include "kernel_object.h"
#include "win32_errors.h"

namespace platform::posix {
namespace {

ssize_t ReceiveRetrying(int fd, msghdr& header, int flags) noexcept {
    for (;;) {
        const ssize_t received = recvmsg(fd, &header, flags | MSG_DONTWAIT);
        if (received >= 0 || errno != EINTR) {
            return received;
        }
    }
}

// The socket address of `path`; false, with the last error set, for a path
// too long for one.
bool SocketAddress(const std::string& path, sockaddr_un& address) {
    address = sockaddr_un{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

}  // namespace

ssize_t ReceivePacket(int fd, char& tag, char* payload, size_t size) noexcept {
    iovec parts[2] = {{&tag, 1}, {payload, size}};
    msghdr header{};
    header.msg_iov = parts;
    header.msg_iovlen = 2;
    return ReceiveRetrying(fd, header, 0);
}

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

bool IsPeerGone(int error) noexcept {
    return error == EPIPE || error == ECONNRESET || error == ENOTCONN;
}

UniqueFd BindListener(const std::string& path) {
    sockaddr_un address;
    if (!SocketAddress(path, address)) {
        return UniqueFd();
    }
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
            // Another process serves this pipe: to this one, every instance
            // is taken.
            SetLastError(ERROR_PIPE_BUSY);
            return UniqueFd();
        }
        unlink(path.c_str());
    }
    SetLastError(ERROR_PIPE_BUSY);
    return UniqueFd();
}

UniqueFd ConnectToServer(const std::string& socketPath, char request) {
    sockaddr_un address;
    if (!SocketAddress(socketPath, address)) {
        return UniqueFd();
    }
    UniqueFd socket(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
    if (!socket) {
        SetLastErrorFromErrno(errno);
        return UniqueFd();
    }
    int result = 0;
    do {
        result = connect(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        const bool absent = errno == ENOENT || errno == ECONNREFUSED;
        if (absent) {
            SetLastError(ERROR_FILE_NOT_FOUND);
        } else {
            SetLastErrorFromErrno(errno);
        }
        return UniqueFd();
    }
    if (send(socket.get(), &request, 1, MSG_NOSIGNAL) != 1) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return UniqueFd();
    }
    return socket;
}

Answer AwaitAnswer(int socket, DWORD milliseconds, char* answer, size_t size) {
    const Clock::time_point deadline = DeadlineAfter(milliseconds);
    for (;;) {
        int timeout = -1;
        if (deadline != Clock::time_point::max()) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            timeout = static_cast<int>(std::max<long long>(0, std::min<long long>(left, INT32_MAX)));
        }
        pollfd entry{socket, POLLIN, 0};
        const int ready = poll(&entry, 1, timeout);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready == 0) {
            if (Clock::now() >= deadline) {
                return Answer::TimedOut;
            }
            continue;
        }
        return ready > 0 && recv(socket, answer, size, MSG_DONTWAIT) > 0 ? Answer::Received : Answer::Closed;
    }
}

}  // namespace platform::posix
