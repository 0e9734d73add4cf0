// The process's I/O thread, which finishes overlapped pipe operations. Internal
// to the POSIX subset.
#pragma once

#include <cstdint>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "unique_fd.h"

namespace platform {
template <typename>
class Immortal;
}  // namespace platform

namespace platform::posix {

// One thread waits in epoll for the sockets with operations in flight and
// lets their owners finish them. It runs while any pipe handle exists and is
// joined when the last one closes, so closing all pipes leaves no thread.
//
// Lock() guards the state of every pipe in the process; the thread calls
// Watcher::OnReady with it held. Pipe owners keep a socket in epoll only while
// operations wait on it.
class IoEngine {
public:
    class Watcher {
    public:
        // Called on the I/O thread with Lock() held; the watcher may stop
        // watching, and may be destroyed by its owner, inside the call.
        virtual void OnReady(uint32_t events) noexcept = 0;

    protected:
        ~Watcher() = default;
    };

    static IoEngine& Instance();

    std::mutex& Lock() noexcept { return lock_; }

    // With Lock() held: watches `fd` for `events` on behalf of `watcher`, or
    // pauses when `events` is 0. `token` is the watcher's registration, 0 when
    // not registered; a paused registration is kept, so that a socket that
    // waits for one message after another costs no allocation. False with
    // errno set when epoll refuses.
    bool Watch(int fd, uint64_t& token, Watcher* watcher, uint32_t events) noexcept;
    // With Lock() held: ends the registration, before `fd` closes.
    void Unwatch(int fd, uint64_t& token) noexcept;

    // Without Lock(): a pipe comes or goes. The first starts the thread (false
    // with the last error set when it cannot), the last stops and joins it.
    bool AddUser() noexcept;
    void RemoveUser() noexcept;

private:
    struct Registration {
        int fd;
        Watcher* watcher;
        uint32_t events;
    };

    template <typename>
    friend class platform::Immortal;
    IoEngine() = default;
    void Run() noexcept;

    std::mutex lock_;
    UniqueFd epoll_;
    UniqueFd wake_;
    std::unordered_map<uint64_t, Registration> registrations_;  // guarded by lock_
    uint64_t nextToken_ = 1;                                    // guarded by lock_
    bool stopping_ = false;                                     // guarded by lock_

    std::mutex lifecycleLock_;
    int users_ = 0;  // guarded by lifecycleLock_
    std::thread thread_;
};

}  // namespace platform::posix
