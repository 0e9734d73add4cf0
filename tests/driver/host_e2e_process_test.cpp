// The camera road where a real second process matters: a server process
// killed while frames flow, and a process that holds the segment's mutex
// forever or dies holding it.
#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "host_e2e.h"

namespace e2e {
namespace {

using E2EProcess = E2ETest;

TEST_F(E2EProcess, AServerKilledWhileFramesFlowIsLostAndFoundAgain) {
    const std::string share = ShareName();
    const FrameFormat format{320, 240, 1};
    platform::ChildProcess first;
    ASSERT_TRUE(StartServerProcess(first, ChildOutput("first"), share, format, 10, 1));
    int dimensions[2];
    ASSERT_TRUE(OpenCamera("Camera 1", 1, share, kLevelSteps, kLongTimeout, dimensions));
    ASSERT_EQ(320, dimensions[0]);
    Port(1).action = static_cast<int>(OnFrame::ReadRows);
    ASSERT_TRUE(WaitForFrames(1, 5));

    first.Kill();
    EXPECT_TRUE(WaitForLine("CmdExchangeThread::ThreadMain: server lost on port 1"));
    ASSERT_TRUE(WaitForLine(ConnectionLine("Camera 1", 1, false, share)));
    const int framesWhileUp = Port(1).frames;
    // The driver keeps trying while the server is away.
    Sleep(1500);
    EXPECT_EQ(framesWhileUp, Port(1).frames.load());
    EXPECT_GE(CountStartingWith("CmdExchangeThread::ThreadMain: Exception named pipe=" + share + ": 2, "), 1) << Dump();

    platform::ChildProcess second;
    ASSERT_TRUE(StartServerProcess(second, ChildOutput("second"), share, format, 10, 100000));
    ASSERT_TRUE(WaitForLine(ConnectionLine("Camera 1", 1, true, share), 2, kReconnectWaitMs));
    ASSERT_TRUE(WaitForFrames(1, framesWhileUp + 5));
    EXPECT_GE(Port(1).lastSeed.load(), 100000u);
    EXPECT_EQ(0, Port(1).badFrames.load());
    EXPECT_EQ(1, Count("CmdExchangeThread::ThreadMain: server lost on port 1"));
}

// The server publishes through the library in this process; another process
// takes the segment's mutex and keeps it, so the link thread waits for it.
class E2EMutexHolder : public E2ETest {
protected:
    void SetUp() override {
        E2ETest::SetUp();
        share = ShareName();
        ASSERT_TRUE(server.Create(share, format.Bytes()));
        server.SetDimensions(format);
        int dimensions[2];
        ASSERT_TRUE(OpenCamera("Camera 2", 2, share, kLevelDetails, kLongTimeout, dimensions));
        Port(2).action = static_cast<int>(OnFrame::ReadRows);
        ASSERT_EQ(1, server.Publish(MakeFrame(format, 1)));
        ASSERT_TRUE(WaitForFrames(2, 1));
        ASSERT_TRUE(StartMutexHolder(holder, ChildOutput("holder"), share + "Mutex"));
        // The next frame finds the mutex taken.
        ASSERT_EQ(1, server.SendHeader(ImageReady, 2));
        ASSERT_TRUE(WaitForLine("CmdExchangeThread::ProcessRunningStates: header received, type=3, port=2", 2));
        Sleep(100);
        ASSERT_EQ(1, Port(2).frames.load()) << "the frame was copied while another process held the mutex";
    }

    const FrameFormat format{64, 48, 1};
    std::string share;
    Server server;
    platform::ChildProcess holder;
};

TEST_F(E2EMutexHolder, CloseReturnsWhileAnotherProcessHoldsTheMutex) {
    const DWORD start = Now();
    CloseCamera(2);
    EXPECT_LT(Now() - start, 3000u);
    EXPECT_TRUE(server.WaitForNoClients());
    EXPECT_EQ(1, Port(2).frames.load());
    EXPECT_TRUE(StillRunning(holder)) << "the holder must still hold the mutex when the camera closes";
}

// The link thread waits for the mutex that another process holds; the host's
// row reads of the frame it already has go on meanwhile, each at once.
TEST_F(E2EMutexHolder, RowReadsDoNotWaitForTheServersMutex) {
    std::atomic<bool> quit{false};
    std::atomic<int> reads{0};
    std::atomic<int> badReads{0};
    std::atomic<DWORD> longest{0};
    std::thread reader([&] {
        std::vector<uint8_t> line(static_cast<size_t>(format.RowBytes()));
        for (int row = 0; !quit; row = (row + 1) % format.height) {
            const DWORD start = Now();
            const int result = driver.getCVLGrabRow(0, 2, line.data(), row, 0, format.width - 1);
            longest = std::max(longest.load(), Now() - start);
            uint32_t seed = 0;
            if (result != 1 || !CheckRow(line.data(), line.size(), row, seed) || seed != 1) {
                ++badReads;
            }
            ++reads;
        }
    });
    Sleep(1500);
    const int readsWhileHeld = reads;
    EXPECT_TRUE(StillRunning(holder)) << "the holder must still hold the mutex";
    EXPECT_EQ(1, Port(2).frames.load());
    // Frees a reader that waits, so that the test ends either way.
    holder.Kill();
    quit = true;
    reader.join();
    EXPECT_GT(readsWhileHeld, 20) << "row reads waited while the server's mutex was held";
    EXPECT_LT(longest.load(), 500u);
    EXPECT_EQ(0, badReads.load());
    ASSERT_TRUE(WaitForFrames(2, 2));
}

TEST_F(E2EMutexHolder, AMutexAbandonedByAKilledProcessIsTakenOver) {
    holder.Kill();
    ASSERT_TRUE(WaitForFrames(2, 2));
    EXPECT_EQ(2, Port(2).goodFrames.load());
    EXPECT_EQ(1u, Port(2).lastSeed.load()) << "the segment still holds the frame published first";
    // The mutex is free again for the server and the link.
    ASSERT_TRUE(DeliverAndReadBack(server, 2, format, 3));
}

}  // namespace
}  // namespace e2e
