// The threads that wait for an overlapped read: a read completes whether a
// thread waits for its event, gave up waiting, or waits with others, and a
// wait on a read's event still wakes for the other objects it waits on.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "kernel_objects_support.h"
#include "platform/unique_handle.h"
#include "platform/win32.h"

namespace {

using kernel_objects::kPatience;
using kernel_objects::PipePath;
using kernel_objects::Signalled;
using kernel_objects::UniqueName;
using platform::UniqueEvent;
using platform::UniqueFile;

// A connected message pipe with an overlapped read pending on the client.
class PendingRead : public testing::Test {
protected:
    void SetUp() override {
        const std::string name = UniqueName("waiters");
        server.reset(CreateNamedPipeA(PipePath(name).c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                      PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, 4096, 4096, 0,
                                      nullptr));
        client.reset(CreateFileA(PipePath(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr));
        ASSERT_TRUE(server && client);
        DWORD mode = PIPE_READMODE_MESSAGE;
        ASSERT_TRUE(SetNamedPipeHandleState(client.get(), &mode, nullptr, nullptr));
        overlapped.hEvent = event.get();
        ASSERT_FALSE(ReadFile(client.get(), buffer, sizeof buffer, nullptr, &overlapped));
        ASSERT_EQ(static_cast<DWORD>(ERROR_IO_PENDING), GetLastError());
    }

    void TearDown() override {
        // Ends a read still pending while its OVERLAPPED exists.
        client.reset();
        server.reset();
    }

    testing::AssertionResult Send(const std::string& message) {
        OVERLAPPED write{};
        UniqueEvent written(CreateEventA(nullptr, TRUE, FALSE, nullptr));
        write.hEvent = written.get();
        DWORD count = 0;
        if (!WriteFile(server.get(), message.data(), static_cast<DWORD>(message.size()), &count, &write) &&
            (GetLastError() != ERROR_IO_PENDING || !GetOverlappedResult(server.get(), &write, &count, TRUE))) {
            return testing::AssertionFailure() << "the write failed with " << GetLastError();
        }
        return testing::AssertionSuccess();
    }

    // The read's outcome, once it has completed; looked at without waiting
    // on its event, until the patience runs out.
    testing::AssertionResult ReadBack(const std::string& expected) {
        const DWORD start = GetTickCount();
        while (!HasOverlappedIoCompleted(&overlapped)) {
            if (GetTickCount() - start > kPatience) {
                return testing::AssertionFailure() << "the read never completed";
            }
            Sleep(1);
        }
        DWORD count = 0;
        if (!GetOverlappedResult(client.get(), &overlapped, &count, FALSE)) {
            return testing::AssertionFailure() << "the read failed with " << GetLastError();
        }
        if (std::string(buffer, count) != expected) {
            return testing::AssertionFailure() << "the read gave '" << std::string(buffer, count) << "'";
        }
        return testing::AssertionSuccess();
    }

    UniqueFile server;
    UniqueFile client;
    UniqueEvent event{CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    OVERLAPPED overlapped{};
    char buffer[64] = {};
};

TEST_F(PendingRead, CompletesAfterItsOnlyWaiterGaveUp) {
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(event.get(), 20));
    ASSERT_TRUE(Send("after the wait"));
    EXPECT_TRUE(ReadBack("after the wait"));
    EXPECT_TRUE(Signalled(event.get(), 0));
}

TEST_F(PendingRead, WakesEveryThreadThatWaitsForIt) {
    std::atomic<int> woken{0};
    std::atomic<int> waiting{0};
    const auto wait = [&] {
        ++waiting;
        if (WaitForSingleObject(event.get(), kPatience) == WAIT_OBJECT_0) {
            ++woken;
        }
    };
    std::thread first(wait);
    std::thread second(wait);
    while (waiting < 2) {
        Sleep(1);
    }
    // Both are asleep in their waits, or about to be.
    Sleep(20);
    ASSERT_TRUE(Send("for both"));
    first.join();
    second.join();
    EXPECT_EQ(2, woken.load());
    EXPECT_TRUE(ReadBack("for both"));
}

// A wait on the read's event and another event ends for the other one; the
// read goes on pending and completes with no one waiting.
TEST_F(PendingRead, AWaitAlsoOnAnotherEventWakesForIt) {
    UniqueEvent other(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    const HANDLE both[2] = {event.get(), other.get()};
    std::atomic<DWORD> result{WAIT_FAILED};
    std::thread waiter([&] { result = WaitForMultipleObjects(2, both, FALSE, kPatience); });
    Sleep(20);
    ASSERT_TRUE(SetEvent(other.get()));
    waiter.join();
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0 + 1), result.load());
    EXPECT_FALSE(HasOverlappedIoCompleted(&overlapped));
    ASSERT_TRUE(Send("later"));
    EXPECT_TRUE(ReadBack("later"));
}

// A message that is already there when the wait begins ends it at once.
TEST_F(PendingRead, AMessageThatCameBeforeTheWaitEndsItAtOnce) {
    ASSERT_TRUE(Send("early"));
    Sleep(20);
    EXPECT_TRUE(Signalled(event.get()));
    EXPECT_TRUE(ReadBack("early"));
}

// Looked at only through its OVERLAPPED, never waited for, a read completes
// all the same once its message comes.
TEST_F(PendingRead, CompletesForAHostThatOnlyLooksAtTheOverlapped) {
    EXPECT_FALSE(HasOverlappedIoCompleted(&overlapped));
    ASSERT_TRUE(Send("looked at"));
    EXPECT_TRUE(ReadBack("looked at"));
}

TEST_F(PendingRead, CompletesForAHostThatOnlyAsksForTheResult) {
    DWORD count = 0;
    EXPECT_FALSE(GetOverlappedResult(client.get(), &overlapped, &count, FALSE));
    EXPECT_EQ(static_cast<DWORD>(ERROR_IO_INCOMPLETE), GetLastError());
    ASSERT_TRUE(Send("asked for"));
    const DWORD start = GetTickCount();
    while (!GetOverlappedResult(client.get(), &overlapped, &count, FALSE)) {
        ASSERT_EQ(static_cast<DWORD>(ERROR_IO_INCOMPLETE), GetLastError());
        ASSERT_LT(GetTickCount() - start, kPatience) << "the read never completed";
        Sleep(1);
    }
    EXPECT_EQ("asked for", std::string(buffer, count));
}

TEST_F(PendingRead, CompletesForAHostThatPollsItsEventWithoutWaiting) {
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(event.get(), 0));
    ASSERT_TRUE(Send("polled"));
    const DWORD start = GetTickCount();
    while (WaitForSingleObject(event.get(), 0) != WAIT_OBJECT_0) {
        ASSERT_LT(GetTickCount() - start, kPatience) << "the read never completed";
        Sleep(1);
    }
    EXPECT_TRUE(ReadBack("polled"));
}

}  // namespace
