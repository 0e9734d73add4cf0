// quorvex-server serving a GenICam camera: Aravis's simulated GigE Vision
// camera on the loopback interface, read by quorvex-grab through the driver.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include "shared_clock.h"
#include "tool_run.h"

namespace {

using toolstest::kExitFailure;
using toolstest::kExitOk;
using toolstest::ServerTool;
using toolstest::ToolRun;

const char* const kSimulator = "/usr/bin/arv-fake-gv-camera-0.8";
constexpr auto kSimulatorStart = std::chrono::seconds(20);

class GenicamTest : public toolstest::ToolsTest {
protected:
    void SetUp() override {
        if (!std::ifstream(kSimulator).good()) {
            GTEST_SKIP() << kSimulator << " (package aravis-tools) is not installed: no simulated camera to serve";
        }
        StartSimulator();
    }

    // The simulator with this case's serial number, on 127.0.0.1, and
    // listed by the server before the case goes on.
    void StartSimulator() {
        ++simulatorRuns_;
        simulator_ = std::make_unique<ToolRun>(dir_, "simulator-" + std::to_string(simulatorRuns_) + ".txt");
        ASSERT_TRUE(simulator_->Start(kSimulator, {"-i", "127.0.0.1", "-s", serial_}));
        const auto until = std::chrono::steady_clock::now() + kSimulatorStart;
        std::string listed;
        while (std::chrono::steady_clock::now() < until) {
            ToolRun list(dir_, "list.txt");
            ASSERT_TRUE(list.Start(ServerTool(), {"--list"}));
            int exitCode = -1;
            ASSERT_TRUE(list.Finish(exitCode));
            ASSERT_EQ(kExitOk, exitCode) << list.Output();
            listed = list.Output();
            if (listed.find("Aravis-Fake-" + serial_ + ": Aravis Fake, GigEVision at 127.0.0.1") != std::string::npos) {
                return;
            }
        }
        FAIL() << "quorvex-server --list did not show the simulator; it listed:\n" << listed;
    }

    std::unique_ptr<ToolRun> simulator_;
    int simulatorRuns_ = 0;
    const std::string serial_ = "Q" + std::to_string(tools::SharedClockMicroseconds() % 1000000);
};

TEST_F(GenicamTest, AHostReceivesTheCamerasFramesThroughTheDriver) {
    auto server = StartServer({"--genicam", "127.0.0.1"});
    EXPECT_NE(std::string::npos, server->Output().find("with Aravis Fake (127.0.0.1), 512x512 Mono8"))
        << server->Output();
    const std::string grab = Grab({"--frames", "20"});
    EXPECT_NE(std::string::npos, grab.find("frames: 20 in")) << grab;
    EXPECT_NE(std::string::npos, grab.find("frame size: 512x512, 1 byte per pixel")) << grab;
    EXPECT_EQ(std::string::npos, grab.find("rows not read")) << grab;
    // Numbered by the server and stamped with the time Aravis received each.
    EXPECT_NE(std::string::npos, grab.find("server numbers: 20 frames, ")) << grab;
    const size_t latency = grab.find("capture latency: median ");
    ASSERT_NE(std::string::npos, latency) << grab;
    EXPECT_LT(toolstest::NumberAfter(grab.substr(latency), "capture latency: median "), 1000) << grab;
    Interrupt(*server);
}

TEST_F(GenicamTest, QuorvexCheckPassesTheGenicamServer) {
    auto server = StartServer({"--genicam", "Aravis-Fake-" + serial_, "--feature", "Height=64"});
    ToolRun check(dir_, "check.txt");
    ASSERT_TRUE(
        check.Start(toolstest::ToolPath(QUORVEX_CHECK_TOOL_FILE), {share_, "--frames", "8", "--timeout", "10"}));
    int exitCode = -1;
    ASSERT_TRUE(check.Finish(exitCode));
    Interrupt(*server);
    EXPECT_EQ(0, exitCode) << check.Output();
    EXPECT_NE(std::string::npos, check.Output().find("PASS numbering: 8 frames numbered")) << check.Output();
}

TEST_F(GenicamTest, FeaturesOnTheCommandLineChangeTheFrameSizeAndFormat) {
    auto server = StartServer({"--genicam", "Aravis-Fake-" + serial_, "--feature", "Width=256", "--feature",
                               "Height=120", "--feature=PixelFormat=RGB8"});
    EXPECT_NE(std::string::npos, server->Output().find("256x120 RGB8")) << server->Output();
    const std::string grab = Grab({"--frames", "10"});
    EXPECT_NE(std::string::npos, grab.find("frames: 10 in")) << grab;
    EXPECT_NE(std::string::npos, grab.find("frame size: 256x120, 3 bytes per pixel")) << grab;
    Interrupt(*server);
}

TEST_F(GenicamTest, APixelFormatThatCannotBePublishedIsRefusedWithTheCamerasChoices) {
    ToolRun server(dir_, "server.txt");
    ASSERT_TRUE(server.Start(ServerTool(), {"--share", share_, "--genicam", "--feature", "PixelFormat=BayerRG8"}));
    int exitCode = -1;
    ASSERT_TRUE(server.Finish(exitCode));
    EXPECT_EQ(kExitFailure, exitCode);
    EXPECT_NE(std::string::npos,
              server.Output().find("quorvex-server: the camera's pixel format BayerRG8 cannot be published; the "
                                   "camera offers BayerBG8, BayerGB8, BayerGR8, BayerRG8, Mono8, RGB8, Mono16; the "
                                   "server publishes Mono8, Mono10, Mono12, Mono16, RGB8, BGR8"))
        << server.Output();
}

TEST_F(GenicamTest, AnUnknownFeatureOrCameraEndsTheServerWithAMessage) {
    ToolRun feature(dir_, "feature.txt");
    ASSERT_TRUE(feature.Start(ServerTool(), {"--share", share_, "--genicam", "127.0.0.1", "--feature", "Colour=red"}));
    int exitCode = -1;
    ASSERT_TRUE(feature.Finish(exitCode));
    EXPECT_EQ(kExitFailure, exitCode);
    EXPECT_NE(std::string::npos, feature.Output().find("quorvex-server: the camera has no feature Colour"))
        << feature.Output();

    ToolRun missing(dir_, "missing.txt");
    ASSERT_TRUE(missing.Start(ServerTool(), {"--share", share_, "--genicam", "No-Such-Camera"}));
    ASSERT_TRUE(missing.Finish(exitCode));
    EXPECT_EQ(kExitFailure, exitCode);
    EXPECT_NE(std::string::npos, missing.Output().find("quorvex-server: no GenICam camera \"No-Such-Camera\" found"))
        << missing.Output();
}

TEST_F(GenicamTest, TheSimulatorKilledAndRestartedIsFoundAgain) {
    auto server = StartServer({"--genicam", "Aravis-Fake-" + serial_, "--feature", "Height=64"});
    // 25 frames a second: some before the camera goes, the rest after.
    auto grab = StartGrab({"--frames", "150", "--timeout", "60"});
    std::this_thread::sleep_for(std::chrono::seconds(2));
    simulator_->Kill();
    ASSERT_TRUE(server->WaitForOutput("quorvex-server: lost the camera Aravis-Fake-" + serial_ +
                                      "; looking for it again every second"));
    ASSERT_TRUE(server->WaitForOutput("; looking for it again ("));
    StartSimulator();
    ASSERT_TRUE(server->WaitForOutput("quorvex-server: found the camera again after "));
    EXPECT_NE(std::string::npos, server->Output().find("(Aravis-Fake-" + serial_ + "), 512x64 Mono8"))
        << server->Output();
    int exitCode = -1;
    ASSERT_TRUE(grab->Finish(exitCode, 60000));
    EXPECT_EQ(kExitOk, exitCode) << grab->Output();
    EXPECT_NE(std::string::npos, grab->Output().find("frames: 150 in")) << grab->Output();
    Interrupt(*server);
}

}  // namespace
