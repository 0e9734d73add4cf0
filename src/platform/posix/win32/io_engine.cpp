// The process's I/O thread.
#include "io_engine.h"

#include <cerrno>
#include <new>
#include <system_error>

#include <sys/epoll.h>
#include <sys/eventfd.h>

#include "errno_map.h"
#include "platform/immortal.h"
#include "win32_errors.h"

namespace platform::posix {
namespace {

constexpr uint64_t kWakeToken = 0;
constexpr int kEventsPerWait = 16;

}  // namespace

IoEngine& IoEngine::Instance() {
    static Immortal<IoEngine> engine;
    return engine.get();
}

bool IoEngine::Watch(int fd, uint64_t& token, Watcher* watcher, uint32_t events) noexcept {
    epoll_event event{};
    event.events = events;
    if (auto found = registrations_.find(token); found != registrations_.end()) {
        Registration& registration = found->second;
        if (registration.events == events) {
            return true;
        }
        event.data.u64 = token;
        // A paused socket leaves epoll, which would report its hang-up even
        // with no events asked for.
        const int operation = events == 0 ? EPOLL_CTL_DEL : registration.events == 0 ? EPOLL_CTL_ADD : EPOLL_CTL_MOD;
        if (epoll_ctl(epoll_.get(), operation, fd, &event) != 0) {
            return false;
        }
        registration.events = events;
        return true;
    }
    if (events == 0) {
        return true;
    }
    try {
        const uint64_t newToken = nextToken_++;
        registrations_.emplace(newToken, Registration{fd, watcher, events});
        event.data.u64 = newToken;
        if (epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, fd, &event) != 0) {
            const int error = errno;
            registrations_.erase(newToken);
            errno = error;
            return false;
        }
        token = newToken;
        return true;
    } catch (const std::bad_alloc&) {
        errno = ENOMEM;
        return false;
    }
}

void IoEngine::Unwatch(int fd, uint64_t& token) noexcept {
    if (auto found = registrations_.find(token); found != registrations_.end()) {
        if (found->second.events != 0) {
            epoll_ctl(epoll_.get(), EPOLL_CTL_DEL, fd, nullptr);
        }
        registrations_.erase(found);
    }
    token = 0;
}

bool IoEngine::AddUser() noexcept {
    std::lock_guard<std::mutex> guard(lifecycleLock_);
    if (users_ > 0) {
        ++users_;
        return true;
    }
    if (!epoll_) {
        UniqueFd epoll(epoll_create1(EPOLL_CLOEXEC));
        UniqueFd wake(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.u64 = kWakeToken;
        if (!epoll || !wake || epoll_ctl(epoll.get(), EPOLL_CTL_ADD, wake.get(), &event) != 0) {
            SetLastErrorFromErrno(errno);
            return false;
        }
        epoll_ = std::move(epoll);
        wake_ = std::move(wake);
    }
    try {
        thread_ = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    users_ = 1;
    return true;
}

void IoEngine::RemoveUser() noexcept {
    std::lock_guard<std::mutex> guard(lifecycleLock_);
    if (--users_ > 0) {
        return;
    }
    {
        std::lock_guard<std::mutex> stateGuard(lock_);
        stopping_ = true;
    }
    const uint64_t one = 1;
    static_cast<void>(write(wake_.get(), &one, sizeof one));
    thread_.join();
    uint64_t count = 0;
    static_cast<void>(read(wake_.get(), &count, sizeof count));
    std::lock_guard<std::mutex> stateGuard(lock_);
    stopping_ = false;
}

void IoEngine::Run() noexcept {
    epoll_event events[kEventsPerWait];
    for (;;) {
        const int count = epoll_wait(epoll_.get(), events, kEventsPerWait, -1);
        if (count < 0 && errno != EINTR) {
            return;
        }
        std::lock_guard<std::mutex> guard(lock_);
        if (stopping_) {
            return;
        }
        for (int i = 0; i < count; ++i) {
            // A watcher earlier in the batch may have ended this one's
            // registration; the token then finds nothing.
            auto found = registrations_.find(events[i].data.u64);
            if (found != registrations_.end()) {
                found->second.watcher->OnReady(events[i].events);
            }
        }
    }
}

}  // namespace platform::posix
