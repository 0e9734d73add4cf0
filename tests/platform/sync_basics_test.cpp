// Critical sections, the per-thread last error, clocks, sleeping and debugger
// output. Every wait for another thread is bounded; a thread that does not
// finish in time fails the case and is left behind with what it shares.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <ctime>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "known_differences.h"
#include "platform/win32.h"
#include "support/waits.h"

namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

constexpr milliseconds kThreadTimeout{10000};
constexpr DWORD kSettle = 100;

// Waits until `flag` is set or `timeout` passes; the last error stays as it was.
bool WaitUntil(const std::atomic<bool>& flag, milliseconds timeout = kThreadTimeout) {
    return testsupport::WaitUntil([&flag] { return flag.load(); }, static_cast<DWORD>(timeout.count()));
}

// One thread running `body`. Whatever the body uses must be owned by the body
// (shared pointers), since a thread that hangs is detached, not joined.
class Worker {
public:
    explicit Worker(std::function<void()> body) : done_(std::make_shared<std::atomic<bool>>(false)) {
        thread_ = std::thread([done = done_, body = std::move(body)] {
            body();
            done->store(true);
        });
    }
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;
    ~Worker() {
        if (thread_.joinable()) {
            if (done_->load()) {
                thread_.join();
            } else {
                thread_.detach();
            }
        }
    }

    bool FinishesWithin(milliseconds timeout = kThreadTimeout) {
        if (!WaitUntil(*done_, timeout)) {
            return false;
        }
        thread_.join();
        return true;
    }

private:
    std::shared_ptr<std::atomic<bool>> done_;
    std::thread thread_;
};

struct Section {
    Section() { InitializeCriticalSection(&section); }
    ~Section() { DeleteCriticalSection(&section); }
    Section(const Section&) = delete;
    Section& operator=(const Section&) = delete;

    CRITICAL_SECTION section;
};

TEST(CriticalSection, OwnerEntersAgainWithoutBlocking) {
    auto shared = std::make_shared<Section>();
    Worker owner([shared] {
        for (int depth = 0; depth < 3; ++depth) {
            EnterCriticalSection(&shared->section);
        }
        for (int depth = 0; depth < 3; ++depth) {
            LeaveCriticalSection(&shared->section);
        }
    });
    EXPECT_TRUE(owner.FinishesWithin());
}

TEST(CriticalSection, OtherThreadWaitsUntilTheLastLeave) {
    struct Shared : Section {
        std::atomic<bool> entered{false};
    };
    auto shared = std::make_shared<Shared>();
    EnterCriticalSection(&shared->section);
    EnterCriticalSection(&shared->section);
    Worker other([shared] {
        EnterCriticalSection(&shared->section);
        shared->entered = true;
        LeaveCriticalSection(&shared->section);
    });
    Sleep(kSettle);
    EXPECT_FALSE(shared->entered) << "entered while held twice";
    LeaveCriticalSection(&shared->section);
    Sleep(kSettle);
    EXPECT_FALSE(shared->entered) << "entered while still held once";
    LeaveCriticalSection(&shared->section);
    EXPECT_TRUE(other.FinishesWithin());
    EXPECT_TRUE(shared->entered);
}

TEST(CriticalSection, SerialisesThreadsThatEnterItNested) {
    constexpr int kThreads = 4;
    constexpr int kRounds = 20000;
    struct Shared : Section {
        int count = 0;
    };
    auto shared = std::make_shared<Shared>();
    std::vector<std::unique_ptr<Worker>> workers;
    for (int i = 0; i < kThreads; ++i) {
        workers.push_back(std::make_unique<Worker>([shared] {
            for (int round = 0; round < kRounds; ++round) {
                EnterCriticalSection(&shared->section);
                EnterCriticalSection(&shared->section);
                ++shared->count;
                LeaveCriticalSection(&shared->section);
                LeaveCriticalSection(&shared->section);
            }
        }));
    }
    for (auto& worker : workers) {
        ASSERT_TRUE(worker->FinishesWithin());
    }
    EXPECT_EQ(shared->count, kThreads * kRounds);
}

TEST(LastError, NewThreadStartsWithSuccess) {
    auto seen = std::make_shared<std::atomic<DWORD>>(0xdeadbeef);
    SetLastError(1111);
    Worker worker([seen] { seen->store(GetLastError()); });
    ASSERT_TRUE(worker.FinishesWithin());
    EXPECT_EQ(seen->load(), ERROR_SUCCESS);
}

TEST(LastError, EachThreadKeepsItsOwn) {
    struct Shared {
        std::atomic<bool> go{false};
        std::atomic<bool> stored{false};
        std::atomic<bool> checked{false};
        std::atomic<DWORD> seen{0};
    };
    auto shared = std::make_shared<Shared>();
    Worker worker([shared] {
        if (!WaitUntil(shared->go)) {
            return;
        }
        SetLastError(2222);
        shared->stored = true;
        if (WaitUntil(shared->checked)) {
            shared->seen = GetLastError();
        }
    });
    // Starting a thread may itself set the creator's last error, so the
    // values are set only now.
    SetLastError(1111);
    shared->go = true;
    ASSERT_TRUE(WaitUntil(shared->stored));
    EXPECT_EQ(GetLastError(), 1111u);
    SetLastError(3333);
    shared->checked = true;
    ASSERT_TRUE(worker.FinishesWithin());
    EXPECT_EQ(shared->seen.load(), 2222u);
}

TEST(LastError, ManyThreadsNeverSeeEachOthersCodes) {
    constexpr int kThreads = 8;
    constexpr DWORD kRounds = 2000;
    auto mismatches = std::make_shared<std::atomic<int>>(0);
    std::vector<std::unique_ptr<Worker>> workers;
    for (DWORD thread = 0; thread < kThreads; ++thread) {
        workers.push_back(std::make_unique<Worker>([mismatches, thread] {
            for (DWORD round = 0; round < kRounds; ++round) {
                const DWORD code = (thread << 16) | round;
                SetLastError(code);
                Sleep(0);
                if (GetLastError() != code) {
                    ++*mismatches;
                }
            }
        }));
    }
    for (auto& worker : workers) {
        ASSERT_TRUE(worker->FinishesWithin());
    }
    EXPECT_EQ(mismatches->load(), 0);
}

TEST(Clock, TickCountFollowsSleep) {
    const DWORD before = GetTickCount();
    Sleep(200);
    const DWORD elapsed = GetTickCount() - before;
    EXPECT_GE(elapsed, 150u);
    EXPECT_LT(elapsed, 5000u);
}

TEST(Clock, TickCountNeverGoesBack) {
    DWORD previous = GetTickCount();
    for (int i = 0; i < 100000; ++i) {
        const DWORD now = GetTickCount();
        // Unsigned difference, so that the wrap after 49.7 days is no step back.
        ASSERT_LT(now - previous, 0x80000000u) << "went from " << previous << " to " << now;
        previous = now;
    }
}

TEST(Clock, SleepWaitsAtLeastAboutAsLongAsAsked) {
    const Clock::time_point before = Clock::now();
    Sleep(100);
    const auto elapsed = std::chrono::duration_cast<milliseconds>(Clock::now() - before);
    // Windows may wake up to one timer tick early.
    EXPECT_GE(elapsed.count(), 80);
    EXPECT_LT(elapsed.count(), 5000);
}

TEST(Clock, SleepZeroReturnsAtOnce) {
    const Clock::time_point before = Clock::now();
    for (int i = 0; i < 100; ++i) {
        Sleep(0);
    }
    EXPECT_LT(std::chrono::duration_cast<milliseconds>(Clock::now() - before).count(), 1000);
}

TEST(Clock, LocalTimeMatchesTheCLibrary) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        SYSTEMTIME local;
        std::memset(&local, 0xff, sizeof local);
        // The system clock, not time(): glibc's time() reads a coarse clock
        // that can lag the one GetLocalTime reads by a tick across a second.
        const std::time_t before = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
        GetLocalTime(&local);
        const std::time_t after = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
        if (before != after) {
            continue;  // a second boundary passed; the fields may differ by it
        }
        const std::tm expected = *std::localtime(&before);
        EXPECT_EQ(local.wYear, expected.tm_year + 1900);
        EXPECT_EQ(local.wMonth, expected.tm_mon + 1);
        EXPECT_EQ(local.wDay, expected.tm_mday);
        EXPECT_EQ(local.wDayOfWeek, expected.tm_wday);
        EXPECT_EQ(local.wHour, expected.tm_hour);
        EXPECT_EQ(local.wMinute, expected.tm_min);
        EXPECT_EQ(local.wSecond, expected.tm_sec);
        EXPECT_LT(local.wMilliseconds, 1000);
        return;
    }
    FAIL() << "no reading within one second";
}

TEST(DebugOutput, GoesToStandardErrorAsItStands) {
    if (!known::kDebugOutputOnStandardError) {
        GTEST_SKIP() << "debugger output goes to a debugger here";
    }
    testing::internal::CaptureStderr();
    OutputDebugStringA("quorvex debug line\n");
    OutputDebugStringA("");
    OutputDebugStringA(nullptr);
    OutputDebugStringA("no line end");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "quorvex debug line\nno line end");
}

}  // namespace
