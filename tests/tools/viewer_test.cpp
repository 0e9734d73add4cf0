// quorvex-view started as a real process beside a real quorvex-server, its
// window pictured on the X display: the picture must be the test pattern,
// pixel for pixel the frame that quorvex-grab received at the same time,
// and the status line must be under it.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "image_files.h"
#include "quorvex_server.h"
#include "support/row_name.h"
#include "support/screen_capture.h"
#include "test_pattern.h"
#include "tool_run.h"
#include "window_keys.h"

namespace {

using toolstest::Key;
using toolstest::PressKey;
using toolstest::ToolRun;

constexpr int kWidth = 320;
constexpr int kHeight = 240;
constexpr int kPictureTries = 30;
constexpr int kStatusStripRows = 22;
constexpr int kTextPixels = 30;
const char* const kTitle = "quorvex-view: Camera 1";

const std::string& ViewTool() {
    static const std::string path = toolstest::ToolPath(QUORVEX_VIEW_TOOL_FILE);
    return path;
}

// The frame as the screen shows it: where its first pixel is, how many
// screen pixels one frame pixel takes, and the frame's bytes read back.
struct Shown {
    int x = 0;
    int y = 0;
    int scale = 1;
    tools::Image frame;
    tools::PatternReading reading;
};

const uint8_t* ScreenPixel(const tools::Image& screen, int x, int y) {
    return screen.pixels.data() + (int64_t{y} * screen.geometry.width + x) * 3;
}

// Reads a frame of `geometry` back from the screen, pixel (x, y) of the frame
// being the screen's pixel at `origin` + scale * (x, y). Gray shows as three
// equal channels; a pixel that is not reads back as a value that breaks the
// pattern.
tools::Image ReadBack(const tools::Image& screen, int originX, int originY, int scale,
                      const tools::FrameGeometry& geometry) {
    tools::Image frame;
    frame.geometry = geometry;
    frame.pixels.resize(static_cast<size_t>(geometry.Bytes()));
    uint8_t* out = frame.pixels.data();
    for (int y = 0; y < geometry.height; ++y) {
        for (int x = 0; x < geometry.width; ++x, out += geometry.bytesPerPixel) {
            const uint8_t* rgb = ScreenPixel(screen, originX + x * scale, originY + y * scale);
            if (geometry.bytesPerPixel == 1) {
                out[0] = rgb[0] == rgb[1] && rgb[1] == rgb[2] ? rgb[0] : static_cast<uint8_t>(~rgb[0]);
            } else {
                std::memcpy(out, rgb, 3);
            }
        }
    }
    return frame;
}

// Looks for the pattern's magic bytes at the start of a frame of `geometry`
// drawn `scale` times, and reads the whole frame back where it is.
bool FindShown(const tools::Image& screen, const tools::FrameGeometry& geometry, int scale, Shown& shown) {
    const int width = screen.geometry.width;
    const int height = screen.geometry.height;
    const uint8_t magic[4] = {'Q', 'V', 'T', 'P'};
    for (int y = 0; y + geometry.height * scale <= height; ++y) {
        for (int x = 0; x + geometry.width * scale <= width; ++x) {
            bool match = true;
            if (geometry.bytesPerPixel == 1) {
                for (int k = 0; k < 4 && match; ++k) {
                    match = ScreenPixel(screen, x + k * scale, y)[0] == magic[k];
                }
            } else {
                match = std::memcmp(ScreenPixel(screen, x, y), magic, 3) == 0 &&
                        ScreenPixel(screen, x + scale, y)[0] == magic[3];
            }
            if (!match) {
                continue;
            }
            shown.x = x;
            shown.y = y;
            shown.scale = scale;
            shown.frame = ReadBack(screen, x, y, scale, geometry);
            shown.reading = tools::ReadPattern(geometry, shown.frame.pixels.data());
            if (shown.reading.check == tools::PatternCheck::Intact) {
                return true;
            }
        }
    }
    return false;
}

// Pixels of text in the strip under the picture: dark ones on a light
// ground.
testing::AssertionResult HasStatusLine(const tools::Image& screen, const Shown& shown, int pictureWidth,
                                       int pictureHeight) {
    int dark = 0;
    int light = 0;
    const int top = shown.y + pictureHeight;
    for (int y = top; y < std::min(top + kStatusStripRows, screen.geometry.height); ++y) {
        for (int x = shown.x; x < shown.x + pictureWidth; ++x) {
            const uint8_t value = ScreenPixel(screen, x, y)[1];
            dark += value < 80 ? 1 : 0;
            light += value > 180 ? 1 : 0;
        }
    }
    if (dark < kTextPixels || light < kTextPixels) {
        return testing::AssertionFailure() << "the strip under the picture has " << dark << " dark and " << light
                                           << " light pixels: no status line";
    }
    return testing::AssertionSuccess();
}

// The viewer's last status line, printed as it ends.
std::string LastLine(const std::string& output) {
    const size_t end = output.find_last_not_of('\n');
    const size_t start = output.rfind('\n', end);
    return output.substr(start == std::string::npos ? 0 : start + 1, end == std::string::npos ? 0 : end - start);
}

class ViewerTest : public toolstest::ToolsTest {
protected:
    void SetUp() override { std::filesystem::create_directories(kPictureDir); }

    std::unique_ptr<ToolRun> StartViewer() {
        auto viewer = std::make_unique<ToolRun>(dir_, "viewer.txt");
        EXPECT_TRUE(viewer->Start(ViewTool(), {"--system-dir", dir_.Path(), "--share", share_, "--connect-timeout",
                                               "3000", "--save-dir", dir_.Path()}));
        EXPECT_TRUE(viewer->WaitForOutput(" frames, "));
        return viewer;
    }

    // Takes pictures of the screen until one shows an intact frame of
    // `geometry` at `scale`; the last picture stays as `name`.png.
    testing::AssertionResult Picture(const std::string& name, const tools::FrameGeometry& geometry, int scale,
                                     tools::Image& screen, Shown& shown) {
        const std::string path = std::string(kPictureDir) + "/" + name + ".png";
        for (int attempt = 0; attempt < kPictureTries; ++attempt) {
            const std::string problem = testsupport::CaptureScreen(path);
            if (!problem.empty()) {
                return testing::AssertionFailure() << problem;
            }
            std::string error;
            if (!tools::LoadImageFile(path, 3, screen, error)) {
                return testing::AssertionFailure() << error;
            }
            if (FindShown(screen, geometry, scale, shown)) {
                return testing::AssertionSuccess();
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
        }
        return testing::AssertionFailure() << "no intact " << geometry.width << "x" << geometry.height
                                           << " frame drawn " << scale << " times in " << path;
    }

    // The frame that the grab saved with the pattern's number `number`.
    testing::AssertionResult GrabbedFrame(const std::string& folder, int bytesPerPixel, uint32_t number,
                                          tools::Image& frame) {
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            std::string error;
            if (!tools::LoadImageFile(entry.path().string(), bytesPerPixel, frame, error)) {
                return testing::AssertionFailure() << error;
            }
            const tools::PatternReading reading = tools::ReadPattern(frame.geometry, frame.pixels.data());
            if (reading.check == tools::PatternCheck::Intact && reading.stamp.frameNumber == number) {
                return testing::AssertionSuccess();
            }
        }
        return testing::AssertionFailure() << "the grab saved no frame " << number << " in " << folder;
    }

    // Whether the grab has saved a frame in `folder` within 30 s.
    static testing::AssertionResult SavesFrames(const std::string& folder) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        std::error_code error;
        do {
            if (std::filesystem::is_directory(folder, error) && !std::filesystem::is_empty(folder, error)) {
                return testing::AssertionSuccess();
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        } while (std::chrono::steady_clock::now() < deadline);
        return testing::AssertionFailure() << "the grab saved no frame in " << folder << " within 30 s";
    }

    static constexpr const char* kPictureDir = QUORVEX_VIEWER_SCREENSHOT_DIR;
};

class ViewerColours : public ViewerTest, public testing::WithParamInterface<int> {};

TEST_P(ViewerColours, ShowsTheStreamingPatternAsGrabbedWithItsStatusLine) {
    const int bpp = GetParam();
    const tools::FrameGeometry geometry{kWidth, kHeight, bpp};
    auto server = StartServer(
        {"--size", std::to_string(kWidth) + "x" + std::to_string(kHeight), "--bpp", std::to_string(bpp), "--fps", "5"});
    auto viewer = StartViewer();
    const std::string grabbed = dir_.File("grabbed");
    auto grab = StartGrab({"--frames", "25", "--save", grabbed});
    ASSERT_TRUE(grab->WaitForOutput("open on port"));
    // The picture must show a frame the grab saves too: one after its first.
    ASSERT_TRUE(SavesFrames(grabbed));

    tools::Image screen;
    Shown shown;
    ASSERT_TRUE(Picture(bpp == 1 ? "viewer-gray" : "viewer-rgb", geometry, 1, screen, shown));
    EXPECT_TRUE(HasStatusLine(screen, shown, kWidth, kHeight));

    int exitCode = -1;
    ASSERT_TRUE(grab->Finish(exitCode));
    ASSERT_EQ(toolstest::kExitOk, exitCode) << grab->Output();
    tools::Image frame;
    ASSERT_TRUE(GrabbedFrame(grabbed, bpp, shown.reading.stamp.frameNumber, frame));
    EXPECT_TRUE(frame.pixels == shown.frame.pixels)
        << "frame " << shown.reading.stamp.frameNumber << " on the screen differs from the one grabbed";

    // Space holds the picture, S saves it, Q ends the viewer.
    ASSERT_TRUE(PressKey(kTitle, Key::Space));
    ASSERT_TRUE(viewer->WaitForOutput("quorvex-view: paused"));
    ASSERT_TRUE(PressKey(kTitle, Key::S));
    ASSERT_TRUE(viewer->WaitForOutput("quorvex-view: saved "));
    tools::Image saved;
    std::string error;
    ASSERT_TRUE(tools::LoadImageFile(dir_.File("quorvex-view-0001.png"), bpp, saved, error)) << error;
    EXPECT_EQ(tools::PatternCheck::Intact, tools::ReadPattern(saved.geometry, saved.pixels.data()).check);
    ASSERT_TRUE(PressKey(kTitle, Key::Q));
    ASSERT_TRUE(viewer->Finish(exitCode));
    EXPECT_EQ(toolstest::kExitOk, exitCode) << viewer->Output();
    const std::string status = LastLine(viewer->Output());
    EXPECT_LT(0, toolstest::NumberAfter(status, ""));
    EXPECT_NE(std::string::npos, status.find(" fps, 0 lost, 0 repeated, latency ")) << status;
    EXPECT_NE(std::string::npos,
              status.find(bpp == 1 ? " ms, 0 resets, 320x240 gray, paused" : " ms, 0 resets, 320x240 RGB, paused"))
        << status;
    Interrupt(*server);
}

std::string ColourName(const testing::TestParamInfo<int>& row) {
    return row.param == 1 ? "gray" : "rgb";
}

INSTANTIATE_TEST_SUITE_P(Bytes, ViewerColours, testing::Values(1, 3), ColourName);

TEST_F(ViewerTest, SaysWhichShareItWaitsFor) {
    // No server: the status line names the share until a frame comes.
    auto viewer = StartViewer();
    EXPECT_TRUE(viewer->WaitForOutput("waiting for the share \"" + share_ + "\"; 0 frames, "));
    // And that no server answers there, once the driver has looked.
    EXPECT_TRUE(viewer->WaitForOutput(", 0 resets, no camera server answers\n"));
    ASSERT_TRUE(viewer->Interrupt());
    int exitCode = -1;
    ASSERT_TRUE(viewer->Finish(exitCode));
    EXPECT_EQ(toolstest::kExitOk, exitCode) << viewer->Output();
}

// After the server's Stop the status line says that the stream ended, and
// the viewer stays open on the last frame until it is closed.
TEST_F(ViewerTest, ShowsTheStreamEndedByTheServer) {
    auto server = StartServer({"--size", "64x48", "--fps", "25", "--frames", "10", "--wait-for-hosts", "1"});
    auto viewer = StartViewer();
    EXPECT_TRUE(viewer->WaitForOutput("0 resets, 64x48 gray, the server of the share \"" + share_ +
                                      "\" ended the stream (Stop)\n"));
    int exitCode = -1;
    ASSERT_TRUE(server->Finish(exitCode));
    EXPECT_EQ(toolstest::kExitOk, exitCode) << server->Output();
    ASSERT_TRUE(PressKey(kTitle, Key::Q));
    ASSERT_TRUE(viewer->Finish(exitCode));
    EXPECT_EQ(toolstest::kExitOk, exitCode) << viewer->Output();
    const std::string status = LastLine(viewer->Output());
    EXPECT_EQ(10, toolstest::NumberAfter(status, "")) << status;
    EXPECT_NE(std::string::npos, status.find(" 0 lost, 0 repeated, ")) << status;
    EXPECT_NE(std::string::npos, status.find("ended the stream (Stop)")) << status;
}

TEST_F(ViewerTest, FollowsAResetToHalfTheSizeScaledToFit) {
    auto server = StartServer(
        {"--size", std::to_string(kWidth) + "x" + std::to_string(kHeight), "--fps", "10", "--resize-every", "40"});
    auto viewer = StartViewer();
    ASSERT_TRUE(viewer->WaitForOutput(" resets, 160x120 gray"));
    tools::Image screen;
    Shown shown;
    // The half-size frame fills the same picture, each pixel drawn twice.
    ASSERT_TRUE(Picture("viewer-after-reset", tools::FrameGeometry{kWidth / 2, kHeight / 2, 1}, 2, screen, shown));
    EXPECT_TRUE(HasStatusLine(screen, shown, kWidth, kHeight));
    ASSERT_TRUE(PressKey(kTitle, Key::Escape));
    int exitCode = -1;
    ASSERT_TRUE(viewer->Finish(exitCode));
    EXPECT_EQ(toolstest::kExitOk, exitCode) << viewer->Output();
    const std::string status = LastLine(viewer->Output());
    EXPECT_LE(1, toolstest::NumberAfter(status, " ms, ")) << status;
    EXPECT_NE(std::string::npos, status.find(" 0 lost, 0 repeated, ")) << status;
    Interrupt(*server);
}

// The ages the status line gives, from capture to arrival on one machine:
// well under a second, even on a loaded machine.
constexpr int64_t kMostAgeMs = 1000;

// The status line's "latency T ms": a number, and under kMostAgeMs.
testing::AssertionResult GivesAnAge(const std::string& status) {
    const int64_t ms = toolstest::NumberAfter(status, ", latency ");
    if (ms < 0 || ms >= kMostAgeMs) {
        return testing::AssertionFailure() << "no latency under " << kMostAgeMs << " ms in: " << status;
    }
    return testing::AssertionSuccess();
}

// A pattern server that leaves out every fifth number: the status line counts
// the numbers left out as lost, the pattern's drawn numbers agree (no second
// count beside), and the age comes from the capture times.
TEST_F(ViewerTest, CountsTheNumbersLeftOutAsLost) {
    // 21 frames numbered 1 to 26 without 5, 10, 15, 20 and 25.
    auto server = StartServer({"--size", std::to_string(kWidth) + "x" + std::to_string(kHeight), "--fps", "25",
                               "--frames", "21", "--skip-every", "4", "--wait-for-hosts", "1"});
    auto viewer = StartViewer();
    ASSERT_TRUE(viewer->WaitForOutput("ended the stream (Stop)\n"));
    tools::Image screen;
    Shown shown;
    ASSERT_TRUE(Picture("viewer-numbers-left-out", tools::FrameGeometry{kWidth, kHeight, 1}, 1, screen, shown));
    EXPECT_TRUE(HasStatusLine(screen, shown, kWidth, kHeight));
    EXPECT_EQ(26u, shown.reading.stamp.frameNumber) << "the last frame stays shown";
    int exitCode = -1;
    ASSERT_TRUE(server->Finish(exitCode));
    ASSERT_TRUE(PressKey(kTitle, Key::Q));
    ASSERT_TRUE(viewer->Finish(exitCode));
    EXPECT_EQ(toolstest::kExitOk, exitCode) << viewer->Output();
    const std::string status = LastLine(viewer->Output());
    EXPECT_EQ(21, toolstest::NumberAfter(status, "")) << status;
    EXPECT_NE(std::string::npos, status.find(" fps, 5 lost, 0 repeated, latency ")) << status;
    EXPECT_TRUE(GivesAnAge(status));
}

struct ServerDestroyer {
    void operator()(QuorvexServer* server) const noexcept { QuorvexServerDestroy(server); }
};

// A server whose frames are no test pattern, as a video or a camera gives
// them: the numbers it leaves out still count as lost, and its capture
// times give the age.
TEST_F(ViewerTest, CountsLostFramesOfAServerWithoutThePattern) {
    constexpr int kRounds = 5;
    constexpr int kFramesARound = 4;
    const tools::FrameGeometry geometry{kWidth, kHeight, 1};
    const std::unique_ptr<QuorvexServer, ServerDestroyer> server(
        QuorvexServerCreate(share_.c_str(), static_cast<int>(geometry.Bytes()), 1));
    ASSERT_TRUE(server) << QuorvexServerLastError(nullptr);
    ASSERT_EQ(0, QuorvexServerSetDimensions(server.get(), kWidth, kHeight, 1));
    auto viewer = StartViewer();
    std::vector<uint8_t> pixels(static_cast<size_t>(geometry.Bytes()));
    for (size_t i = 0; i < pixels.size(); ++i) {
        pixels[i] = static_cast<uint8_t>(i % 251);
    }
    const auto publish = [&] {
        const int reached = QuorvexServerPublishFrame(server.get(), pixels.data(), static_cast<int>(pixels.size()));
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
        return reached;
    };
    // Until the viewer's camera takes a frame: it counts from that one on.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (publish() < 1) {
        ASSERT_LT(std::chrono::steady_clock::now(), until) << "no viewer took a frame within 30 s";
    }
    for (int round = 0; round < kRounds; ++round) {
        ASSERT_EQ(0, QuorvexServerSkipFrames(server.get(), 1));
        for (int frame = 0; frame < kFramesARound; ++frame) {
            ASSERT_EQ(1, publish()) << "round " << round << ", frame " << frame;
        }
    }
    ASSERT_EQ(1, QuorvexServerSendStop(server.get()));
    ASSERT_TRUE(viewer->WaitForOutput("ended the stream (Stop)\n"));
    const std::string path = std::string(kPictureDir) + "/viewer-no-pattern.png";
    EXPECT_EQ("", testsupport::CaptureScreen(path));
    ASSERT_TRUE(PressKey(kTitle, Key::Q));
    int exitCode = -1;
    ASSERT_TRUE(viewer->Finish(exitCode));
    EXPECT_EQ(toolstest::kExitOk, exitCode) << viewer->Output();
    const std::string status = LastLine(viewer->Output());
    EXPECT_EQ(1 + kRounds * kFramesARound, toolstest::NumberAfter(status, "")) << status;
    EXPECT_NE(std::string::npos, status.find(" fps, " + std::to_string(kRounds) + " lost, 0 repeated, latency "))
        << status;
    EXPECT_TRUE(GivesAnAge(status));
}

}  // namespace
