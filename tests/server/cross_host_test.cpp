// The 32-bit side of the cross-bitness test: this host loads the 32-bit
// driver and opens a camera on a share that a 64-bit server process (its
// path in QUORVEX_SERVER64) serves, twice, as a server restarted. Every
// frame must arrive byte for byte as the plan's source converted to the
// host's RGB order, in the plan's size and pixel size.
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

#include "cross_plan.h"
#include "host_harness.h"
#include "platform/process.h"
#include "support/child_process.h"

namespace {

constexpr int kPort = 3;
constexpr unsigned kServerRunMs = 120000;

// What the complete callback saw; it runs on the camera's thread.
struct Received {
    std::atomic<int> frames{0};
    HANDLE ack = nullptr;
    std::mutex lock;
    std::vector<std::string> problems;

    void Problem(int step, const std::string& text) {
        std::lock_guard<std::mutex> hold(lock);
        problems.push_back("step " + std::to_string(step) + ": " + text);
    }
};

Received received;

// Reads the frame as a host does, compares it with the plan's step and lets
// the server go on.
void QUORVEX_CALL OnFrame(int, int port) {
    const auto& driver = hosttest::HostLibrary::Get().Exports();
    const int step = received.frames;
    if (step >= crossplan::kStepCount) {
        received.Problem(step, "a frame beyond the plan");
    } else {
        const sourceimage::SourceImage image = crossplan::Source(step);
        int width = 0;
        int height = 0;
        int bits = 0;
        driver.getProperty(0, port, "Width", &width);
        driver.getProperty(0, port, "Height", &height);
        driver.getProperty(0, port, "PixelSize", &bits);
        if (width != image.width || height != image.height || bits != 8 * sourceimage::BytesPerPixel(image.format)) {
            received.Problem(step, "the driver reports " + std::to_string(width) + "x" + std::to_string(height) +
                                       " at " + std::to_string(bits) + " bits");
        } else {
            const size_t rowBytes = static_cast<size_t>(width) * (bits / 8);
            std::vector<uint8_t> frame(rowBytes * height);
            for (int row = 0; row < height; ++row) {
                driver.getCVLGrabRow(0, port, frame.data() + rowBytes * row, row, 0, width - 1);
            }
            if (frame != sourceimage::Expected(image, "RGB")) {
                received.Problem(step, std::string("the ") + image.format.name + " frame's bytes differ");
            }
        }
    }
    ++received.frames;
    SetEvent(received.ack);
}

class CrossBitness : public hosttest::HostTest {};

TEST_F(CrossBitness, FramesOfA64BitServerReachA32BitHostByteForByte) {
    const char* serverPath = std::getenv("QUORVEX_SERVER64");
    ASSERT_NE(nullptr, serverPath) << "QUORVEX_SERVER64 must name the 64-bit cross_server program";
    ASSERT_EQ(4u, sizeof(void*)) << "the host side is the 32-bit build";
    const std::string share = hosttest::UniqueName("QuorvexCross");
    platform::UniqueEvent ack(CreateEventA(nullptr, FALSE, FALSE, crossplan::AckEventName(share).c_str()));
    ASSERT_TRUE(ack);
    received.ack = ack.get();

    WriteSection("Camera 1", hosttest::CameraSection{share, 1, 200});
    ASSERT_EQ(1, Initialize());
    int dimensions[2];
    ASSERT_EQ(1, driver.openCVLPort(0, kPort, "Camera 1", dimensions));
    ASSERT_EQ(1, driver.setCompleteCallback(0, kPort, &OnFrame));

    const int runs[][2] = {{0, crossplan::kRestartAt}, {crossplan::kRestartAt, crossplan::kStepCount}};
    for (const auto& run : runs) {
        platform::ChildProcess server;
        const std::string output =
            systemDir.Path() + platform::kPathSeparator + "server" + std::to_string(run[0]) + ".out";
        ASSERT_TRUE(server.Start(serverPath, {share, std::to_string(run[0]), std::to_string(run[1])}, output))
            << "cannot start " << serverPath << " " << testsupport::WhyNotStarted();
        int exitCode = -1;
        ASSERT_TRUE(server.Wait(kServerRunMs, exitCode)) << "the 64-bit server did not finish its run";
        std::ifstream said(output, std::ios::binary);
        EXPECT_EQ(0, exitCode) << "the 64-bit server failed (see cross_server's exit codes); it said:\n"
                               << std::string(std::istreambuf_iterator<char>(said), {});
        EXPECT_EQ(run[1], received.frames.load());
    }
    EXPECT_EQ(1, driver.closeCVLPort(0, kPort));
    EXPECT_EQ(crossplan::kStepCount, received.frames.load());
    std::lock_guard<std::mutex> hold(received.lock);
    EXPECT_TRUE(received.problems.empty()) << testing::PrintToString(received.problems);
}

}  // namespace
