// Several host threads calling the driver at once.
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "host_harness.h"

namespace hosttest {
namespace {

using Lines = std::vector<std::string>;

constexpr int kCallsPerThread = 200;

class HostThreads : public HostTest {
protected:
    // The lines of kCallsPerThread getProperty calls on `port`, alternating
    // between the width and the height.
    static Lines ExpectedLines(int port) {
        Lines lines;
        for (int i = 0; i < kCallsPerThread; ++i) {
            const std::string name = i % 2 == 0 ? "Width" : "Height";
            lines.push_back("getProperty: portNo=" + std::to_string(port) + ", prop=" + name + "\n");
            lines.push_back("Camera::GetProperty: prop=" + name + "\n");
            lines.push_back("Camera::GetProperty: prop=" + name + ", value=0\n");
        }
        return lines;
    }
};

TEST_F(HostThreads, TwoHostThreadsLogWholePairedLines) {
    ASSERT_EQ(Initialize(), 1);
    ASSERT_TRUE(OpenSilent("Camera 1", 5, 3));
    ASSERT_TRUE(OpenSilent("Camera 2", 6, 3));

    struct Worker {
        int port;
        std::atomic<DWORD> threadId{0};
        std::atomic<int> failures{0};
    };
    Worker workers[2];
    workers[0].port = 5;
    workers[1].port = 6;
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (Worker& worker : workers) {
        threads.emplace_back([this, &worker, &ready] {
            worker.threadId = GetCurrentThreadId();
            // Start together, so that the calls really overlap.
            ready.fetch_add(1);
            while (ready.load() < 2) {
                std::this_thread::yield();
            }
            for (int i = 0; i < kCallsPerThread; ++i) {
                int value = kPoison;
                const char* name = i % 2 == 0 ? "Width" : "Height";
                if (driver.getProperty(kGrabber, worker.port, name, &value) != 1 || value != 0) {
                    worker.failures.fetch_add(1);
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }

    for (const Worker& worker : workers) {
        SCOPED_TRACE(worker.port);
        EXPECT_EQ(worker.failures.load(), 0);
        EXPECT_EQ(log.MessagesOf(worker.threadId.load()), ExpectedLines(worker.port));
    }
}

}  // namespace
}  // namespace hosttest
