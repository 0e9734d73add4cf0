// The soak: a camera server killed at random moments 50 times, some of them
// while it holds the segment's mutex, and started again; then 2,000 opens
// and closes while it streams. Frames must resume soon after every restart,
// and the process must end with the handles and threads it started with.
#include <array>
#include <atomic>
#include <cstdio>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "storm_host.h"
#include "storm_server.h"

namespace storm {
namespace {

constexpr int kKills = 50;
constexpr DWORD kResumeLimitMs = 1500;
constexpr int kCycles = 2000;
constexpr int kCycleThreads = 4;
// Every so many cycles a camera waits for a frame before it closes.
constexpr int kFrameEvery = 25;
constexpr DWORD kCloseLimitMs = 2000;
constexpr DWORD kStartWaitMs = 5000;
// The settings' default connection time-out: a calm local server answers an
// open within milliseconds, so an open that waits seconds has met a fault.
constexpr int kConnectionTimeoutMs = 3000;
// What a calm server serves.
constexpr int kCalmWidth = 128;
constexpr int kCalmHeight = 48;

class SoakTest;
std::atomic<SoakTest*> activeSoak{nullptr};

class SoakTest : public hosttest::HostTest {
public:
    void OnFrame(int port);

protected:
    void SetUp() override;
    void TearDown() override;

    testing::AssertionResult OpenCamera(int port);
    testing::AssertionResult CloseCamera(int port);
    int Frames(int port) const { return frames[static_cast<size_t>(port)]; }
    // Waits until every port in 1 .. `ports` has more frames than in `before`.
    bool FramesArrive(const std::vector<int>& before, DWORD milliseconds) const;
    bool FramesArrive(int port, int before, DWORD milliseconds) const {
        std::vector<int> counts(static_cast<size_t>(port), -1);
        counts.back() = before;
        return FramesArrive(counts, milliseconds);
    }
    std::vector<int> FrameCounts(int ports) const;
    // Waits up to 500 ms until the server is found holding its mutex.
    bool AwaitServerHoldingMutex(HANDLE mutex);
    std::string ServerOutput() const { return systemDir.Path() + "/server.txt"; }

    RunSettings settings = RunSettings::FromEnvironment();
    std::mt19937 random{settings.seed};
    std::string share = StormShare("soak");
    ServerProcess server;
    std::array<std::atomic<int>, kCycleThreads + 1> frames{};
    FrameTally tally;
};

void QUORVEX_CALL OnSoakFrame(int /*grabberNo*/, int portNo) {
    activeSoak.load()->OnFrame(portNo);
}

void SoakTest::SetUp() {
    HostTest::SetUp();
    std::printf("soak seed %u, share %s\n", settings.seed, share.c_str());
    for (int port = 1; port <= kCycleThreads; ++port) {
        WriteSection("Camera " + std::to_string(port), hosttest::CameraSection{share, 1, kConnectionTimeoutMs});
    }
    activeSoak = this;
}

void SoakTest::TearDown() {
    activeSoak = nullptr;
    HostTest::TearDown();
}

void SoakTest::OnFrame(int port) {
    if (port < 1 || port > kCycleThreads) {
        ADD_FAILURE() << "a frame for port " << port;
        return;
    }
    static thread_local std::vector<uint8_t> scratch;
    const FrameCheck check = ReadFrameBack(driver, port, scratch, tally);
    // A read refused because the host closes the camera meanwhile is counted
    // apart; any row the driver handed out must be the server's.
    if ((check.verdict == Verdict::Torn && !check.detail.empty()) || check.verdict == Verdict::OtherGeometry) {
        ADD_FAILURE() << "port " << port << ": a frame that the server did not write: " << check.detail;
    }
    ++frames[static_cast<size_t>(port)];
}

testing::AssertionResult SoakTest::OpenCamera(int port) {
    const std::string name = "Camera " + std::to_string(port);
    int dimensions[2] = {0, 0};
    if (driver.openCVLPort(hosttest::kGrabber, port, name.c_str(), dimensions) != 1) {
        return testing::AssertionFailure() << "openCVLPort refused port " << port;
    }
    if (dimensions[0] != kCalmWidth || dimensions[1] != kCalmHeight) {
        return testing::AssertionFailure()
               << "port " << port << " opened with " << dimensions[0] << " x " << dimensions[1];
    }
    return testing::AssertionSuccess();
}

testing::AssertionResult SoakTest::CloseCamera(int port) {
    const DWORD start = GetTickCount();
    if (driver.closeCVLPort(hosttest::kGrabber, port) != 1) {
        return testing::AssertionFailure() << "closeCVLPort refused port " << port;
    }
    if (Since(start) > kCloseLimitMs) {
        return testing::AssertionFailure() << "closeCVLPort on port " << port << " took " << Since(start) << " ms";
    }
    return testing::AssertionSuccess();
}

std::vector<int> SoakTest::FrameCounts(int ports) const {
    std::vector<int> counts;
    for (int port = 1; port <= ports; ++port) {
        counts.push_back(Frames(port));
    }
    return counts;
}

bool SoakTest::FramesArrive(const std::vector<int>& before, DWORD milliseconds) const {
    return testsupport::WaitUntil(
        [&] {
            bool all = true;
            for (size_t i = 0; i < before.size(); ++i) {
                all = all && Frames(static_cast<int>(i) + 1) > before[i];
            }
            return all;
        },
        milliseconds);
}

bool SoakTest::AwaitServerHoldingMutex(HANDLE mutex) {
    const DWORD start = GetTickCount();
    while (Since(start) < 500) {
        const DWORD result = WaitForSingleObject(mutex, 0);
        if (result == WAIT_TIMEOUT) {
            return true;
        }
        if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED) {
            ReleaseMutex(mutex);
        }
        Sleep(1);
    }
    return false;
}

TEST_F(SoakTest, FramesResumeSoonAfterEachOfFiftyKillsOfTheServer) {
    constexpr int kPorts = 2;
    ASSERT_TRUE(server.Start(share, settings.seed, ServerMode::Calm, ServerOutput()));
    ASSERT_EQ(1, Initialize());
    for (int port = 1; port <= kPorts; ++port) {
        ASSERT_TRUE(OpenCamera(port));
        ASSERT_EQ(1, driver.setCompleteCallback(hosttest::kGrabber, port, OnSoakFrame));
    }
    ASSERT_TRUE(FramesArrive(FrameCounts(kPorts), kStartWaitMs));
    platform::UniqueMutex mutex(CreateMutexA(nullptr, FALSE, (share + "Mutex").c_str()));
    ASSERT_TRUE(mutex);

    int killsWhileHeld = 0;
    DWORD slowest = 0;
    for (int kill = 0; kill < kKills; ++kill) {
        Sleep(std::uniform_int_distribution<DWORD>(10, 150)(random));
        if (kill % 2 == 1 && AwaitServerHoldingMutex(mutex.get())) {
            ++killsWhileHeld;
        }
        server.Kill();
        ASSERT_TRUE(
            server.Start(share, settings.seed + static_cast<uint32_t>(kill) + 1, ServerMode::Calm, ServerOutput()));
        const DWORD restarted = GetTickCount();
        const bool resumed = FramesArrive(FrameCounts(kPorts), kResumeLimitMs);
        slowest = std::max(slowest, Since(restarted));
        ASSERT_TRUE(resumed) << "frames did not resume within " << kResumeLimitMs << " ms of restart " << kill + 1
                             << " (seed " << settings.seed << ")";
    }
    std::printf("soak: %d kills, %d while the server held its mutex; slowest resumption %u ms; frames %s\n", kKills,
                killsWhileHeld, static_cast<unsigned>(slowest), tally.Summary().c_str());
    EXPECT_GE(killsWhileHeld, kKills / 5);
    for (int port = 1; port <= kPorts; ++port) {
        EXPECT_TRUE(CloseCamera(port));
    }
    EXPECT_EQ(1, Finalize());
    server.Kill();
    mutex.reset();
    EXPECT_TRUE(NamesGone(share));
}

TEST_F(SoakTest, TwoThousandOpensAndClosesKeepHandlesAndThreadsSteady) {
    ASSERT_TRUE(server.Start(share, settings.seed, ServerMode::Calm, ServerOutput()));
    ASSERT_EQ(1, Initialize());
    // A first round of every camera, so that what is made once per process
    // exists before counting; the callbacks stay with the cameras.
    for (int port = 1; port <= kCycleThreads; ++port) {
        ASSERT_TRUE(OpenCamera(port));
        ASSERT_EQ(1, driver.setCompleteCallback(hosttest::kGrabber, port, OnSoakFrame));
        ASSERT_TRUE(CloseCamera(port));
    }
    const ProcessResources before = ProcessResources::Now();

    std::atomic<int> failedCycles{0};
    std::vector<std::thread> hosts;
    for (int port = 1; port <= kCycleThreads; ++port) {
        hosts.emplace_back([this, port, &failedCycles] {
            for (int cycle = 0; cycle < kCycles / kCycleThreads; ++cycle) {
                const int framesBefore = Frames(port);
                const testing::AssertionResult opened = OpenCamera(port);
                // Now and then the camera stays open until a frame came.
                const bool streamed = cycle % kFrameEvery != 0 || FramesArrive(port, framesBefore, kStartWaitMs);
                const testing::AssertionResult closed = CloseCamera(port);
                if (!opened || !closed || !streamed) {
                    if (++failedCycles <= 5) {
                        ADD_FAILURE() << "cycle " << cycle << ": " << opened.message() << closed.message()
                                      << (streamed ? "" : "no frame came");
                    }
                }
            }
        });
    }
    for (std::thread& host : hosts) {
        host.join();
    }
    EXPECT_EQ(0, failedCycles.load());
    EXPECT_TRUE(ReturnsTo(before, 5000));
    std::printf("soak: %d open/close cycles; frames %s\n", kCycles, tally.Summary().c_str());
    EXPECT_EQ(1, Finalize());
    server.Kill();
    EXPECT_TRUE(NamesGone(share));
}

}  // namespace
}  // namespace storm
