// The camera road while the server behaves: opening, frames and their bytes,
// size changes, Stop, close and reopen, many cameras at once, and the host
// calling back into the driver from its own callback.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <thread>

#include "host_e2e.h"

namespace e2e {
namespace {

// Publishes frames from its own thread, one every `periodMs`, until
// destroyed; seeds count up from 1. The first frame waits until `startWhen`
// holds.
class Publisher {
public:
    Publisher(
        Server& server, const FrameFormat& format, DWORD periodMs,
        std::function<bool()> startWhen = [] { return true; })
        : worker([this, &server, format, periodMs, startWhen] {
              while (!quit && !startWhen()) {
                  Sleep(1);
              }
              while (!quit) {
                  server.Publish(MakeFrame(format, ++published));
                  Sleep(periodMs);
              }
          }) {}
    ~Publisher() {
        quit = true;
        worker.join();
    }
    Publisher(const Publisher&) = delete;
    Publisher& operator=(const Publisher&) = delete;

    std::atomic<uint32_t> published{0};

private:
    std::atomic<bool> quit{false};
    std::thread worker;
};

using E2EStream = E2ETest;

TEST_F(E2EStream, OpenWithTheServerUpReturnsItsDimensions) {
    const std::string share = ShareName();
    const FrameFormat format{640, 480, 1};
    Server server;
    ASSERT_TRUE(server.Create(share, format.Bytes()));
    ASSERT_EQ(0, server.SetDimensions(format));

    int dimensions[2];
    const DWORD start = Now();
    ASSERT_TRUE(OpenCamera("Camera 1", 3, share, kLevelErrors, kLongTimeout, dimensions));
    EXPECT_LT(Now() - start, 5000u) << "the open waited for its time-out instead of the dimensions";
    EXPECT_EQ(640, dimensions[0]);
    EXPECT_EQ(480, dimensions[1]);
    EXPECT_EQ(1, Count(ConnectionLine("Camera 1", 3, true, share))) << Dump();

    int value = hosttest::kPoison;
    EXPECT_EQ(1, driver.getProperty(0, 3, "Width", &value));
    EXPECT_EQ(640, value);
    EXPECT_EQ(1, driver.getProperty(0, 3, "Height", &value));
    EXPECT_EQ(480, value);
    EXPECT_EQ(1, driver.getProperty(0, 3, "PixelSize", &value));
    EXPECT_EQ(8, value);
    EXPECT_TRUE(server.WaitForClients(1));
}

TEST_F(E2EStream, OpenWithTheServerDownTimesOutAndConnectsWhenTheServerStarts) {
    const std::string share = ShareName();
    const FrameFormat format{320, 240, 3};
    int dimensions[2];
    const DWORD start = Now();
    ASSERT_TRUE(OpenCamera("Camera 2", 5, share, kLevelErrors, 200, dimensions));
    const DWORD waited = Now() - start;
    EXPECT_GE(waited, 180u);
    EXPECT_LT(waited, 3000u);
    EXPECT_EQ(0, dimensions[0]);
    EXPECT_EQ(0, dimensions[1]);
    EXPECT_EQ(1, Count("Camera::Open: Could not retrieve image dimensions within given timeout=200, port=5\n"))
        << Dump();
    EXPECT_EQ(0, Count(ConnectionLine("Camera 2", 5, true, share)));

    Server server;
    ASSERT_TRUE(server.Create(share, format.Bytes()));
    server.SetDimensions(format);
    ASSERT_TRUE(WaitForLine(ConnectionLine("Camera 2", 5, true, share), 1, kReconnectWaitMs));
    EXPECT_EQ(1, Port(5).resets.load()) << "the open camera's empty buffer does not fit the first frame";
    EXPECT_TRUE(DeliverAndReadBack(server, 5, format, 7));
    EXPECT_EQ(1, Port(5).resets.load());
}

// Frames read back row by row are the server's bytes, for each pixel size.
class E2EFrameBytes : public E2ETest, public testing::WithParamInterface<int> {};

TEST_P(E2EFrameBytes, FramesArriveWithTheServersBytes) {
    const std::string share = ShareName();
    // An odd width, so that no row starts on a multiple of four.
    const FrameFormat format{333, 7, GetParam()};
    Server server;
    ASSERT_TRUE(server.Create(share, format.Bytes()));
    server.SetDimensions(format);
    int dimensions[2];
    ASSERT_TRUE(OpenCamera("Camera 3", 2, share, kLevelErrors, kLongTimeout, dimensions));
    ASSERT_EQ(333, dimensions[0]);
    ASSERT_EQ(7, dimensions[1]);
    int bits = hosttest::kPoison;
    EXPECT_EQ(1, driver.getProperty(0, 2, "PixelSize", &bits));
    EXPECT_EQ(8 * GetParam(), bits);

    for (uint32_t seed = 1; seed <= 3; ++seed) {
        ASSERT_TRUE(DeliverAndReadBack(server, 2, format, seed));
    }
    EXPECT_EQ(3, Port(2).frames.load());

    // `first` only shortens the copy, which still starts at the row's first
    // pixel.
    const std::vector<uint8_t> frame = MakeFrame(format, 3);
    const size_t rowBytes = static_cast<size_t>(format.RowBytes());
    const size_t shortened = rowBytes - 5 * static_cast<size_t>(GetParam());
    std::vector<uint8_t> line(rowBytes, 0xA5);
    ASSERT_EQ(1, driver.getCVLGrabRow(0, 2, line.data(), 4, 5, format.width - 1));
    EXPECT_EQ(0, std::memcmp(line.data(), frame.data() + 4 * rowBytes, shortened));
    EXPECT_EQ(std::vector<uint8_t>(rowBytes - shortened, 0xA5),
              std::vector<uint8_t>(line.begin() + shortened, line.end()));

    EXPECT_EQ(0, driver.getCVLGrabRow(0, 2, line.data(), format.height, 0, format.width - 1));
    EXPECT_EQ(0, driver.getCVLGrabRow(0, 2, line.data(), -1, 0, format.width - 1));
}

INSTANTIATE_TEST_SUITE_P(PixelSizes, E2EFrameBytes, testing::Values(1, 3, 4),
                         [](const testing::TestParamInfo<int>& row) {
                             return std::to_string(row.param) + "BytesPerPixel";
                         });

TEST_F(E2EStream, LargerAndSmallerFramesWhileStreamingResetOnceEach) {
    const std::string share = ShareName();
    const FrameFormat small{64, 48, 1};
    const FrameFormat large{160, 120, 1};
    const FrameFormat smaller{40, 30, 1};
    Server server;
    ASSERT_TRUE(server.Create(share, large.Bytes()));
    server.SetDimensions(small);
    int dimensions[2];
    ASSERT_TRUE(OpenCamera("Camera 4", 1, share, kLevelErrors, kLongTimeout, dimensions));
    ASSERT_TRUE(DeliverAndReadBack(server, 1, small, 1));
    const int resetsAtStart = Port(1).resets;

    ASSERT_EQ(1, server.SetDimensions(large));
    ASSERT_TRUE(DeliverAndReadBack(server, 1, large, 2));
    EXPECT_EQ(resetsAtStart + 1, Port(1).resets.load());
    ASSERT_TRUE(DeliverAndReadBack(server, 1, large, 3));

    ASSERT_EQ(1, server.SetDimensions(smaller));
    ASSERT_TRUE(DeliverAndReadBack(server, 1, smaller, 4));
    ASSERT_TRUE(DeliverAndReadBack(server, 1, smaller, 5));
    EXPECT_EQ(resetsAtStart + 2, Port(1).resets.load());
    int value = hosttest::kPoison;
    EXPECT_EQ(1, driver.getProperty(0, 1, "Width", &value));
    EXPECT_EQ(40, value);
    EXPECT_EQ(1, driver.getProperty(0, 1, "Height", &value));
    EXPECT_EQ(30, value);
    // The shrunk buffer holds exactly the new frame: a row past it is refused.
    std::vector<uint8_t> line(static_cast<size_t>(large.RowBytes()));
    EXPECT_EQ(0, driver.getCVLGrabRow(0, 1, line.data(), 30, 0, 39));
    EXPECT_EQ(0, driver.getCVLGrabRow(0, 1, line.data(), 29, 0, 40));
}

TEST_F(E2EStream, StopEndsTheLinkAndTheCameraStaysOpen) {
    const std::string share = ShareName();
    const FrameFormat format{32, 8, 1};
    Server server;
    ASSERT_TRUE(StartStreaming(server, share, format, "Camera 5", 8, kLevelSteps));

    ASSERT_EQ(1, server.SendHeader(Stop));
    ASSERT_TRUE(WaitForLine("CmdExchangeThread::ThreadMain: leaving on port=8\n"));
    EXPECT_TRUE(server.WaitForNoClients());
    // The thread dropped the connection before it ended.
    const std::vector<hosttest::LogLine> lines = log.Lines();
    size_t disconnected = lines.size();
    size_t leaving = lines.size();
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].message == ConnectionLine("Camera 5", 8, false, share)) {
            disconnected = i;
        }
        if (lines[i].message == "CmdExchangeThread::ThreadMain: leaving on port=8\n") {
            leaving = i;
        }
    }
    EXPECT_LT(disconnected, leaving) << Dump();

    EXPECT_EQ(0, server.Publish(MakeFrame(format, 2)));
    Sleep(200);
    EXPECT_EQ(1, Port(8).frames.load());
    int value = hosttest::kPoison;
    EXPECT_EQ(1, driver.getProperty(0, 8, "Width", &value)) << "the camera no longer holds its port";

    // Only a close and a new open bring the link back.
    const DWORD start = Now();
    CloseCamera(8);
    EXPECT_LT(Now() - start, 3000u);
    int dimensions[2];
    ASSERT_TRUE(OpenCamera("Camera 5", 8, share, kLevelSteps, kLongTimeout, dimensions));
    EXPECT_EQ(32, dimensions[0]);
    EXPECT_TRUE(DeliverAndReadBack(server, 8, format, 3));
}

// The read-only properties of the link: what a host asks to tell a stream
// that ended from one that stalls.
int LinkProperty(const hosttest::DriverExports& exports, int port, const char* name) {
    int value = hosttest::kPoison;
    EXPECT_EQ(1, exports.getProperty(0, port, name, &value)) << name;
    return value;
}

TEST_F(E2EStream, TheLinksPropertiesTellAStopFromAStall) {
    const std::string share = ShareName();
    const FrameFormat format{32, 8, 1};
    int dimensions[2];
    // No server yet.
    ASSERT_TRUE(OpenCamera("Camera 6", 9, share, kLevelSteps, 100, dimensions));
    EXPECT_EQ(0, LinkProperty(driver, 9, "LinkState"));
    EXPECT_EQ(0, LinkProperty(driver, 9, "FramesDelivered"));
    CloseCamera(9);

    Server server;
    ASSERT_TRUE(StartStreaming(server, share, format, "Camera 6", 9, kLevelSteps));
    EXPECT_EQ(1, LinkProperty(driver, 9, "linkstate"));
    EXPECT_TRUE(DeliverAndReadBack(server, 9, format, 2));
    EXPECT_EQ(Port(9).frames.load(), LinkProperty(driver, 9, "FramesDelivered"));
    EXPECT_EQ(0, LinkProperty(driver, 9, "FramesRefused"));
    EXPECT_EQ(0, LinkProperty(driver, 9, "Reconnections"));
    EXPECT_GE(LinkProperty(driver, 9, "ResetsAsked"), 0);

    ASSERT_EQ(1, server.SendHeader(Stop));
    // The second thread on port 9 leaves: the first left at the close.
    ASSERT_TRUE(WaitForLine("CmdExchangeThread::ThreadMain: leaving on port=9\n", 2));
    EXPECT_EQ(2, LinkProperty(driver, 9, "LinkState"));
    // The three properties of old answer as before.
    EXPECT_EQ(32, LinkProperty(driver, 9, "Width"));
    EXPECT_EQ(8, LinkProperty(driver, 9, "PixelSize"));
}

TEST_F(E2EStream, CloseAndReopenKeepTheCallbacks) {
    const std::string share = ShareName();
    const FrameFormat format{48, 16, 3};
    Server server;
    ASSERT_TRUE(StartStreaming(server, share, format, "Camera 6", 4, kLevelErrors));
    CloseCamera(4);
    EXPECT_TRUE(server.WaitForNoClients());

    // Reopened on another port without setting the callbacks again.
    int dimensions[2];
    ASSERT_TRUE(OpenCamera("Camera 6", 6, share, kLevelErrors, kLongTimeout, dimensions, false));
    ASSERT_EQ(48, dimensions[0]);
    ASSERT_TRUE(DeliverAndReadBack(server, 6, format, 2));
    EXPECT_EQ(1, Port(4).frames.load());
    EXPECT_EQ(1, Port(6).frames.load());
    EXPECT_EQ(0, Port(6).resets.load()) << "the buffer already fits: no reset at the reopen";
}

TEST_F(E2EStream, ThirtyTwoCamerasStreamAtOnce) {
    constexpr int kServers = 4;
    constexpr int kCamerasPerServer = QUORVEX_SERVER_MAX_CLIENTS;
    constexpr int kFrames = 5;
    const int bytesPerPixel[kServers] = {1, 3, 4, 1};
    Server servers[kServers];
    FrameFormat formats[kServers];
    std::string shares[kServers];
    for (int s = 0; s < kServers; ++s) {
        shares[s] = ShareName();
        formats[s] = FrameFormat{96 + 32 * s, 40 + 8 * s, bytesPerPixel[s]};
        ASSERT_TRUE(servers[s].Create(shares[s], formats[s].Bytes(), kCamerasPerServer));
        servers[s].SetDimensions(formats[s]);
    }
    for (int port = 0; port < kServers * kCamerasPerServer; ++port) {
        const int s = port / kCamerasPerServer;
        const std::string camera = "Camera " + std::to_string(port + 1);
        int dimensions[2];
        ASSERT_TRUE(OpenCamera(camera.c_str(), port, shares[s], kLevelErrors, kLongTimeout, dimensions));
        ASSERT_EQ(formats[s].width, dimensions[0]) << camera;
        ASSERT_EQ(formats[s].height, dimensions[1]) << camera;
        Port(port).action = static_cast<int>(OnFrame::ReadRows);
    }
    for (int s = 0; s < kServers; ++s) {
        ASSERT_TRUE(servers[s].WaitForClients(kCamerasPerServer));
    }
    for (int frame = 1; frame <= kFrames; ++frame) {
        for (int s = 0; s < kServers; ++s) {
            ASSERT_EQ(kCamerasPerServer, servers[s].Publish(MakeFrame(formats[s], 1000 * s + frame)));
        }
        for (int port = 0; port < kServers * kCamerasPerServer; ++port) {
            ASSERT_TRUE(WaitForFrames(port, frame, 10000));
        }
    }
    for (int port = 0; port < kServers * kCamerasPerServer; ++port) {
        SCOPED_TRACE("port " + std::to_string(port));
        EXPECT_EQ(kFrames, Port(port).frames.load());
        EXPECT_EQ(kFrames, Port(port).goodFrames.load());
        EXPECT_EQ(static_cast<uint32_t>(1000 * (port / kCamerasPerServer) + kFrames), Port(port).lastSeed.load());
    }
    // 32 link threads, each calling its own camera's callback.
    for (int a = 0; a < kServers * kCamerasPerServer; ++a) {
        for (int b = a + 1; b < kServers * kCamerasPerServer; ++b) {
            EXPECT_NE(Port(a).callbackThread.load(), Port(b).callbackThread.load());
        }
    }
}

TEST_F(E2EStream, CloseWhileTheServerIsAbsentReturnsWithinASecondOrSo) {
    const std::string share = ShareName();
    for (const DWORD pause : {0u, 300u, 900u}) {
        int dimensions[2];
        ASSERT_TRUE(OpenCamera("Camera 7", 9, share, kLevelErrors, 100, dimensions));
        ASSERT_EQ(0, dimensions[0]);
        Sleep(pause);
        const DWORD start = Now();
        CloseCamera(9);
        EXPECT_LT(Now() - start, 3000u) << "after a pause of " << pause << " ms";
    }
}

TEST_F(E2EStream, FramesBeforeTheCompleteCallbackAreDroppedWithOneLine) {
    const std::string share = ShareName();
    const FrameFormat format{32, 8, 1};
    Server server;
    ASSERT_TRUE(server.Create(share, format.Bytes()));
    server.SetDimensions(format);
    int dimensions[2];
    ASSERT_TRUE(OpenCamera("Camera 8", 10, share, kLevelDetails, kLongTimeout, dimensions, false));
    ASSERT_EQ(1, driver.setCmdCallback(0, 10, &OnCommand));
    const std::string dropped = "CmdExchangeThread::ProcessRunningStates: frame dropped, ";
    const std::string dimensionsLine =
        "CmdExchangeThread::ProcessRunningStates: dimensions received, w=32, h=8, bpp=1, port=10";
    // Messages are taken in order: once the dimensions sent after the frames
    // have been handled, so have the frames.
    const auto publishAndAwaitHandling = [&](uint32_t firstSeed, uint32_t lastSeed) {
        for (uint32_t seed = firstSeed; seed <= lastSeed; ++seed) {
            ASSERT_EQ(1, server.Publish(MakeFrame(format, seed)));
        }
        const int handled = Count(dimensionsLine);
        ASSERT_EQ(1, server.SetDimensions(format));
        ASSERT_TRUE(WaitForLine(dimensionsLine, handled + 1));
    };
    ASSERT_NO_FATAL_FAILURE(publishAndAwaitHandling(1, 5));
    ASSERT_EQ(1, driver.setCompleteCallback(0, 10, &OnComplete));
    ASSERT_TRUE(DeliverAndReadBack(server, 10, format, 6));
    EXPECT_EQ(1, Port(10).frames.load());
    EXPECT_EQ(1, CountStartingWith(dropped)) << Dump();
    EXPECT_EQ(1, Count("CmdExchangeThread::ProcessRunningStates: frame dropped, camera has no complete callback yet, "
                       "port=10"));

    // Without a callback again: one more line for the next run of drops.
    ASSERT_EQ(1, driver.setCompleteCallback(0, 10, nullptr));
    ASSERT_NO_FATAL_FAILURE(publishAndAwaitHandling(7, 9));
    ASSERT_EQ(1, driver.setCompleteCallback(0, 10, &OnComplete));
    ASSERT_TRUE(DeliverAndReadBack(server, 10, format, 10));
    EXPECT_EQ(2, Port(10).frames.load());
    EXPECT_EQ(2, CountStartingWith(dropped)) << Dump();
    EXPECT_EQ(0, Port(10).resets.load());
    EXPECT_EQ(0, CountStartingWith("CmdExchangeThread::ProcessRunningStates: ERROR"));
}

// The first frame that comes while openCVLPort still waits (its wait polls
// every 20 ms) and before the host has set its callback is held for the
// host, and the link goes on: with a callback set 100 ms after the open,
// none is dropped.
TEST_F(E2EStream, FramesStreamingThroughTheOpenAreHeldUntilTheHostIsReady) {
    const std::string share = ShareName();
    const FrameFormat format{64, 16, 1};
    Server server;
    ASSERT_TRUE(server.Create(share, format.Bytes()));
    server.SetDimensions(format);
    // A server sends a new client its dimensions before any frame: the
    // stream starts once the link has them.
    Publisher publisher(server, format, 1, [this] {
        return CountStartingWith("CmdExchangeThread::ProcessRunningStates: dimensions received, ") > 0;
    });
    int dimensions[2];
    ASSERT_TRUE(OpenCamera("Camera 9", 11, share, kLevelDetails, kLongTimeout, dimensions, false));
    ASSERT_EQ(64, dimensions[0]) << Dump();
    ASSERT_EQ(1, driver.setCmdCallback(0, 11, &OnCommand));
    // Frames keep coming while the host has no callback yet.
    Sleep(100);
    Port(11).action = static_cast<int>(OnFrame::ReadRows);
    ASSERT_EQ(1, driver.setCompleteCallback(0, 11, &OnComplete));
    ASSERT_TRUE(WaitForFrames(11, 10));
    EXPECT_EQ(0, Port(11).badFrames.load());
    EXPECT_EQ(0, CountStartingWith("CmdExchangeThread::ProcessRunningStates: frame dropped, ")) << Dump();
    EXPECT_EQ(0, CountStartingWith("CmdExchangeThread::ProcessRunningStates: ERROR"));
}

TEST_F(E2EStream, RowsReadInsideTheCallbackAreTheWholeFrame) {
    const std::string share = ShareName();
    const FrameFormat format{640, 480, 3};
    constexpr uint32_t kFrames = 30;
    Server server;
    ASSERT_TRUE(server.Create(share, format.Bytes()));
    server.SetDimensions(format);
    int dimensions[2];
    ASSERT_TRUE(OpenCamera("Camera 10", 12, share, kLevelErrors, kLongTimeout, dimensions));
    Port(12).action = static_cast<int>(OnFrame::ReadRows);
    // As fast as the server goes: the segment changes while the host reads,
    // its buffer must not.
    for (uint32_t seed = 1; seed <= kFrames; ++seed) {
        ASSERT_EQ(1, server.Publish(MakeFrame(format, seed)));
    }
    ASSERT_TRUE(WaitForFrames(12, static_cast<int>(kFrames), 20000));
    EXPECT_EQ(static_cast<int>(kFrames), Port(12).goodFrames.load());
    EXPECT_EQ(0, Port(12).badFrames.load());
    EXPECT_EQ(kFrames, Port(12).lastSeed.load()) << "the last frame copied is the last one published";
    EXPECT_EQ(640, Port(12).lastWidth.load());
}

TEST_F(E2EStream, CloseInsideTheCallbackEndsTheLinkWhenTheCallbackReturns) {
    const std::string share = ShareName();
    const FrameFormat format{32, 8, 1};
    Server server;
    ASSERT_TRUE(server.Create(share, format.Bytes()));
    server.SetDimensions(format);
    int dimensions[2];
    ASSERT_TRUE(OpenCamera("Camera 11", 13, share, kLevelSteps, kLongTimeout, dimensions));
    Port(13).action = static_cast<int>(OnFrame::ClosePort);
    ASSERT_EQ(1, server.Publish(MakeFrame(format, 1)));
    ASSERT_TRUE(WaitForFrames(13, 1));
    EXPECT_EQ(1, Port(13).closedInside.load());
    ASSERT_TRUE(WaitForLine("CmdExchangeThread::ThreadMain: leaving on port=-2\n")) << "the thread did not end";
    EXPECT_TRUE(server.WaitForNoClients());
    int value = hosttest::kPoison;
    EXPECT_EQ(0, driver.getProperty(0, 13, "Width", &value)) << "the closed camera still holds its port";
    EXPECT_EQ(0, server.Publish(MakeFrame(format, 2)));

    // The ended thread is joined by the next open, which starts a new one.
    Port(13).action = static_cast<int>(OnFrame::Count);
    ASSERT_TRUE(OpenCamera("Camera 11", 13, share, kLevelSteps, kLongTimeout, dimensions, false));
    EXPECT_EQ(32, dimensions[0]);
    EXPECT_TRUE(DeliverAndReadBack(server, 13, format, 3));
    EXPECT_EQ(2, Port(13).frames.load());
}

// A host thread reading rows while frames are copied sees every row whole,
// from one frame; while the size changes too, its reads stay inside the
// buffer (checked by the sanitizers) and are either refused or served.
TEST_F(E2EStream, RowReadsNeverMeetAFrameCopyOrAReallocation) {
    const std::string share = ShareName();
    const FrameFormat format{1280, 720, 3};
    const FrameFormat other{1000, 900, 3};
    Server server;
    ASSERT_TRUE(server.Create(share, std::max(format.Bytes(), other.Bytes())));
    server.SetDimensions(format);
    int dimensions[2];
    ASSERT_TRUE(OpenCamera("Camera 12", 14, share, kLevelErrors, kLongTimeout, dimensions));
    ASSERT_TRUE(DeliverAndReadBack(server, 14, format, 1));

    std::vector<uint8_t> line(static_cast<size_t>(other.RowBytes()) * 2);
    // The host reads rows as fast as it can for a second, and on until the
    // server has published a few frames meanwhile: reads never hold frames
    // up. How fast frames come depends on the build and the machine's load,
    // so only a count is asked.
    constexpr DWORD kReadingMs = 1000;
    constexpr uint32_t kFramesWhileReading = 4;
    constexpr int kLeastRows = 100;
    int rowsChecked = 0;
    {
        Publisher publisher(server, format, 0);
        const DWORD start = Now();
        const auto reading = [&] {
            return Now() - start < kReadingMs || publisher.published.load() < kFramesWhileReading ||
                   rowsChecked < kLeastRows;
        };
        for (int row = 0; reading() && Now() - start < 4 * kWaitMs; row = (row + 97) % format.height) {
            ASSERT_EQ(1, driver.getCVLGrabRow(0, 14, line.data(), row, 0, format.width - 1));
            uint32_t seed = 0;
            ASSERT_TRUE(CheckRow(line.data(), static_cast<size_t>(format.RowBytes()), row, seed));
            ++rowsChecked;
        }
        EXPECT_GE(publisher.published.load(), kFramesWhileReading);
    }
    EXPECT_GE(rowsChecked, kLeastRows);

    std::atomic<bool> quit{false};
    std::thread resizer([&] {
        for (uint32_t seed = 100; !quit; ++seed) {
            const FrameFormat& now = seed % 2 == 0 ? format : other;
            server.SetDimensions(now);
            server.Publish(MakeFrame(now, seed));
        }
    });
    const DWORD start = Now();
    for (int row = 0; Now() - start < 1000; row = (row + 89) % other.height) {
        const int result = driver.getCVLGrabRow(0, 14, line.data(), row, 0, format.width - 1);
        EXPECT_TRUE(result == 0 || result == 1);
    }
    quit = true;
    resizer.join();
    EXPECT_GT(Port(14).frames.load(), 2);
}

}  // namespace
}  // namespace e2e
