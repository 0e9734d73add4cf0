// quorvex-server and quorvex-grab started as real processes, as a user or a
// script starts them: their exit codes, messages, summaries and files.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "image_files.h"
#include "platform/win32.h"
#include "support/narrow_text.h"
#include "support/row_name.h"
#include "support/temp_dir.h"
#include "test_pattern.h"
#include "tool_run.h"

namespace {

using toolstest::NumberAfter;
using toolstest::ToolRun;

using toolstest::GrabTool;
using toolstest::kExitFailure;
using toolstest::kExitOk;
using toolstest::kExitShareInUse;
using toolstest::kExitUsage;
using toolstest::ServerTool;
using toolstest::ToolsTest;

struct ArgumentRow {
    std::string name;
    bool server;
    std::vector<std::string> args;
    std::string message;
};

class ToolArguments : public ToolsTest, public testing::WithParamInterface<ArgumentRow> {};

TEST_P(ToolArguments, AreRefusedWithExitCode2AndAMessage) {
    const ArgumentRow& row = GetParam();
    ToolRun run(dir_, "out.txt");
    ASSERT_TRUE(run.Start(row.server ? ServerTool() : GrabTool(), row.args));
    int exitCode = -1;
    ASSERT_TRUE(run.Finish(exitCode));
    EXPECT_EQ(kExitUsage, exitCode);
    const std::string tool = row.server ? "quorvex-server" : "quorvex-grab";
    EXPECT_NE(std::string::npos, run.Output().find(tool + ": " + row.message)) << run.Output();
    EXPECT_NE(std::string::npos, run.Output().find("Try '" + tool + " --help'.")) << run.Output();
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ToolArguments,
    testing::Values(ArgumentRow{"server_unknown_option", true, {"--colour", "red"}, "unknown option --colour"},
                    ArgumentRow{"server_bpp_2", true, {"--bpp", "2"}, "--bpp: \"2\" is not 1, 3 or 4 bytes per pixel"},
                    ArgumentRow{"server_size_without_height", true, {"--size", "640"}, "--size: \"640\" is not a size"},
                    ArgumentRow{"server_images_and_size",
                                true,
                                {"--images", "a.png", "--size", "8x8"},
                                "--size works with the test pattern only"},
                    ArgumentRow{"server_missing_value", true, {"--fps"}, "--fps needs a value N"},
                    ArgumentRow{"grab_log_level_9",
                                false,
                                {"--log-level", "9"},
                                "--log-level: \"9\" is not a whole number from 0 to 4"},
                    ArgumentRow{"grab_every_without_save", false, {"--every", "3"}, "--every needs --save"},
                    ArgumentRow{"grab_stray_argument", false, {"Camera 1"}, "unexpected argument \"Camera 1\""}),
    RowName());

TEST_F(ToolsTest, HelpShowsTheOptionsAndSucceeds) {
    for (const std::string* tool : {&ServerTool(), &GrabTool()}) {
        ToolRun run(dir_, "help.txt");
        ASSERT_TRUE(run.Start(*tool, {"--help"}));
        int exitCode = -1;
        ASSERT_TRUE(run.Finish(exitCode));
        EXPECT_EQ(kExitOk, exitCode);
        EXPECT_NE(std::string::npos, run.Output().find("Usage: quorvex-")) << run.Output();
        EXPECT_NE(std::string::npos, run.Output().find("--frames N")) << run.Output();
    }
}

TEST_F(ToolsTest, ServerRefusesAShareThatIsAlreadyServed) {
    auto first = StartServer({"--size", "64x48"});
    ToolRun second(dir_, "second.txt");
    ASSERT_TRUE(second.Start(ServerTool(), {"--share", share_, "--size", "64x48"}));
    int exitCode = -1;
    ASSERT_TRUE(second.Finish(exitCode));
    EXPECT_EQ(kExitShareInUse, exitCode);
    EXPECT_NE(std::string::npos,
              second.Output().find("quorvex-server: the share \"" + share_ + "\" is already served by another process"))
        << second.Output();
    // The first server goes on serving.
    EXPECT_TRUE(first->WaitForOutput("published"));
    Interrupt(*first);
}

TEST_F(ToolsTest, ServerStopsByItselfAfterItsFrames) {
    ToolRun server(dir_, "server.txt");
    ASSERT_TRUE(server.Start(ServerTool(), {"--share", share_, "--size", "64x48", "--fps", "100", "--frames", "20"}));
    int exitCode = -1;
    ASSERT_TRUE(server.Finish(exitCode));
    EXPECT_EQ(kExitOk, exitCode);
    EXPECT_NE(std::string::npos, server.Output().find("published 20 frames, 0 clients attached")) << server.Output();
    EXPECT_NE(std::string::npos, server.Output().find("quorvex-server: stopped after 20 frames\n")) << server.Output();
}

TEST_F(ToolsTest, ServerStopsCleanlyOnCtrlCAndFreesTheShare) {
    auto server = StartServer({"--size", "64x48"});
    Interrupt(*server);
    // Everything of the share is gone: a new server can take it.
    auto again = StartServer({"--size", "64x48"}, "again.txt");
    Interrupt(*again);
}

TEST_F(ToolsTest, GrabCountsTheFramesTheServerSkipsAndRepeats) {
    constexpr int kSkipEvery = 9;    // numbers that are multiples of 10 never appear
    constexpr int kRepeatEvery = 7;  // every 7th frame published is a repeat
    constexpr int kFrames = 80;
    auto server = StartServer({"--size", "64x48", "--fps", "25", "--skip-every", std::to_string(kSkipEvery),
                               "--repeat-every", std::to_string(kRepeatEvery)});
    const std::string summary = Grab({"--frames", std::to_string(kFrames)});
    Interrupt(*server);

    ASSERT_EQ(kFrames, NumberAfter(summary, "frames: ")) << summary;
    const int64_t first = NumberAfter(summary, "numbers ");
    const int64_t last = NumberAfter(summary, " to ");
    ASSERT_GT(first, 0) << summary;
    ASSERT_GT(last, first) << summary;
    int64_t skipped = 0;
    for (int64_t number = first + 1; number < last; ++number) {
        skipped += number % (kSkipEvery + 1) == 0 ? 1 : 0;
    }
    const int64_t lost = NumberAfter(summary, "lost: ");
    const int64_t repeated = NumberAfter(summary, "repeated: ");
    // Every number the server skipped is lost. A loaded machine may also
    // delay the driver past the next frame, which then overwrites the one
    // announced: one more lost number and the next frame seen twice.
    EXPECT_GE(lost, skipped) << summary;
    const int64_t dropped = lost - skipped;
    // Every frame that brings no new number is a repeat.
    EXPECT_EQ(kFrames - ((last - first + 1) - lost), repeated) << summary;
    // Any run of 80 published frames holds 11 or 12 repeats of the server's.
    EXPECT_GE(repeated, kFrames / kRepeatEvery - dropped) << summary;
    EXPECT_LE(repeated, kFrames / kRepeatEvery + 1 + dropped) << summary;
    EXPECT_EQ(0, NumberAfter(summary, "torn: ")) << summary;
    EXPECT_EQ(0, NumberAfter(summary, "out of order: ")) << summary;
}

// The server leaves out on the wire the numbers the pattern leaves out:
// the grab's two counts of lost frames agree.
TEST_F(ToolsTest, GrabCountsLostFramesFromTheServersNumbers) {
    constexpr int kSkipEvery = 4;  // numbers that are multiples of 5 never appear
    auto server = StartServer({"--size", "64x48", "--fps", "25", "--frames", "30", "--wait-for-hosts", "1",
                               "--skip-every", std::to_string(kSkipEvery)});
    const std::string summary = Grab({"--frames", "40", "--timeout", "2"}, kExitOk);
    int exitCode = -1;
    ASSERT_TRUE(server->Finish(exitCode));

    const size_t numbered = summary.find("server numbers: ");
    ASSERT_NE(std::string::npos, numbered) << summary;
    const std::string line = summary.substr(numbered, summary.find('\n', numbered) - numbered);
    const int64_t frames = NumberAfter(line, "server numbers: ");
    const int64_t first = NumberAfter(line, "frames, ");
    const int64_t last = NumberAfter(line, " to ");
    const int64_t lost = NumberAfter(line.substr(line.find(" to ")), ", ");
    EXPECT_EQ(NumberAfter(summary, "frames: "), frames) << summary;
    EXPECT_EQ(1, first) << "the host was there before the first frame\n" << summary;
    // 30 frames take the numbers 1 to 37, 5, 10 ... 35 left out; a loaded
    // machine may lose more on the way, as both counts show.
    EXPECT_EQ(37, last) << summary;
    EXPECT_GE(lost, 7) << summary;
    EXPECT_EQ(NumberAfter(summary, "lost: "), lost) << "the pattern and the server count alike\n" << summary;
    EXPECT_EQ(0, NumberAfter(line, "lost, ")) << "out of order\n" << summary;
    EXPECT_NE(std::string::npos, summary.find("capture latency: median ")) << summary;
}

TEST_F(ToolsTest, GrabSeesTheImageServersFramesNumberedWithoutGaps) {
    const tools::FrameGeometry geometry{40, 30, 1};
    std::vector<uint8_t> pixels(static_cast<size_t>(geometry.Bytes()), 0x42);
    ASSERT_TRUE(tools::SavePng(dir_.File("numbered.png"), geometry, pixels.data()));
    auto server = StartServer(
        {"--images", dir_.File("numbered.png"), "--bpp", "1", "--fps", "25", "--frames", "6", "--wait-for-hosts", "1"});
    const std::string summary = Grab({"--frames", "6"});
    int exitCode = -1;
    ASSERT_TRUE(server->Finish(exitCode));
    EXPECT_NE(std::string::npos, summary.find("test pattern: none found")) << summary;
    EXPECT_NE(std::string::npos, summary.find("server numbers: 6 frames, 1 to 6, 0 lost, 0 out of order\n")) << summary;
    const int64_t latencyMs = NumberAfter(summary, "capture latency: median ");
    EXPECT_GE(latencyMs, 0) << summary;
    EXPECT_LT(latencyMs, 1000) << summary;
}

const std::string& CheckTool() {
    static const std::string path = toolstest::ToolPath(QUORVEX_CHECK_TOOL_FILE);
    return path;
}

// quorvex-check passes the reference server in each of its modes.
TEST_F(ToolsTest, CheckPassesTheServerInEveryMode) {
    const tools::FrameGeometry geometry{40, 30, 3};
    std::vector<uint8_t> pixels(static_cast<size_t>(geometry.Bytes()), 0x5A);
    ASSERT_TRUE(tools::SavePng(dir_.File("checked.png"), geometry, pixels.data()));
    const std::vector<std::vector<std::string>> modes = {
        {"--size", "64x48", "--fps", "25"},
        {"--size", "64x48", "--fps", "25", "--resize-every", "3"},
        {"--images", dir_.File("checked.png"), "--bpp", "3", "--fps", "25"}};
    for (const std::vector<std::string>& mode : modes) {
        SCOPED_TRACE(mode[0] + " " + mode[1] + (mode.size() > 4 ? " " + mode[4] : ""));
        auto server = StartServer(mode);
        ToolRun check(dir_, "check.txt");
        ASSERT_TRUE(check.Start(CheckTool(), {share_, "--json", "--frames", "12"}));
        int exitCode = -1;
        ASSERT_TRUE(check.Finish(exitCode));
        Interrupt(*server);
        EXPECT_EQ(kExitOk, exitCode) << check.Output();
        EXPECT_EQ(0u, check.Output().find("{\"share\": \"" + share_ + "\", \"pass\": true, ")) << check.Output();
        EXPECT_NE(std::string::npos, check.Output().find("frames numbered")) << check.Output();
    }
}

TEST_F(ToolsTest, CheckFailsWithoutAServer) {
    ToolRun check(dir_, "check.txt");
    ASSERT_TRUE(check.Start(CheckTool(), {share_, "--timeout", "1"}));
    int exitCode = -1;
    ASSERT_TRUE(check.Finish(exitCode));
    EXPECT_EQ(kExitFailure, exitCode) << check.Output();
    EXPECT_NE(std::string::npos, check.Output().find("FAIL message-pipe: the pipe is a message pipe; saw: not "
                                                     "checked: cannot open the pipe"))
        << check.Output();
    EXPECT_NE(std::string::npos, check.Output().find("quorvex-check: 10 of 10 rules broken\n")) << check.Output();
}

TEST_F(ToolsTest, GrabReadsTheNewSizeAfterAReset) {
    // At 10 fps a reader may stall for 100 ms before a frame is written over
    // its unread one: under a loaded wine, a 25 fps stream loses some 2% of
    // its frames to stalls of 40 ms, resets or not.
    auto server = StartServer({"--size", "64x48", "--fps", "10", "--resize-every", "8"});
    const std::string summary = Grab({"--frames", "32"});
    Interrupt(*server);
    // Every frame checked whole, in both sizes: the rows were read with the
    // dimensions of their frame.
    EXPECT_EQ(32, NumberAfter(summary, "test pattern: ")) << summary;
    EXPECT_EQ(0, NumberAfter(summary, "torn: ")) << summary;
    EXPECT_EQ(0, NumberAfter(summary, "lost: ")) << summary;
    EXPECT_GE(NumberAfter(summary, "resets: "), 3) << summary;
    EXPECT_EQ(std::string::npos, summary.find("rows not read")) << summary;
}

TEST_F(ToolsTest, GrabKeepsGrabbingAfterTheServerDropsItsClients) {
    // The drop comes some three seconds in, while the grab runs; its driver
    // reconnects (at once, or after a second when the pipe is not back yet)
    // and frames flow again.
    auto server = StartServer({"--size", "64x48", "--fps", "25", "--drop-after", "75"});
    const std::string summary = Grab({"--frames", "75"});
    Interrupt(*server);
    EXPECT_NE(std::string::npos, server->Output().find("quorvex-server: dropped 1 client after frame 75"))
        << server->Output();
    EXPECT_EQ(75, NumberAfter(summary, "frames: ")) << summary;
    // Frames from before the drop and after it.
    EXPECT_LE(NumberAfter(summary, "numbers "), 75) << summary;
    EXPECT_GT(NumberAfter(summary, " to "), 75) << summary;
    EXPECT_EQ(0, NumberAfter(summary, "torn: ")) << summary;
}

// A Stop is the end of the stream, not a stall: the grab says so at once and
// succeeds, long before its time-out. The server holds its first frame for
// the grab, which under wine may take longer to attach than ten frames.
TEST_F(ToolsTest, GrabEndsWhenTheServerStopsTheStream) {
    auto server = StartServer({"--size", "64x48", "--fps", "25", "--stop-after", "10", "--wait-for-hosts", "1"});
    const std::string output = Grab({"--timeout", "600"}, kExitOk);
    EXPECT_TRUE(server->WaitForOutput("quorvex-server: sent Stop after frame 10 to 1 client"));
    Interrupt(*server);
    EXPECT_NE(std::string::npos, output.find("quorvex-grab: the server ended the stream\n")) << output;
    EXPECT_EQ(std::string::npos, output.find("giving up")) << output;
    EXPECT_LE(NumberAfter(output, "frames: "), 10) << output;
}

struct ChannelRow {
    std::string name;
    int bytesPerPixel;
};

class GrabPngs : public ToolsTest, public testing::WithParamInterface<ChannelRow> {};

TEST_P(GrabPngs, EqualTheServedImage) {
    const tools::FrameGeometry geometry{40, 30, GetParam().bytesPerPixel};
    std::vector<uint8_t> pixels(static_cast<size_t>(geometry.Bytes()));
    for (size_t i = 0; i < pixels.size(); ++i) {
        pixels[i] = static_cast<uint8_t>((i * 7) ^ (i >> 5));
    }
    ASSERT_TRUE(tools::SavePng(dir_.File("served.png"), geometry, pixels.data()));
    auto server = StartServer(
        {"--images", dir_.File("served.png"), "--bpp", std::to_string(geometry.bytesPerPixel), "--fps", "25"});
    const std::string summary = Grab({"--frames", "3", "--save", dir_.File("out")});
    Interrupt(*server);
    EXPECT_NE(std::string::npos, summary.find("test pattern: none found")) << summary;
    EXPECT_NE(std::string::npos, summary.find("saved: 3 PNG files")) << summary;
    for (const char* name : {"frame-000001.png", "frame-000003.png"}) {
        tools::Image image;
        std::string error;
        ASSERT_TRUE(tools::LoadImageFile(dir_.File("out") + platform::kPathSeparator + name, geometry.bytesPerPixel,
                                         image, error))
            << error;
        EXPECT_EQ(geometry, image.geometry) << name;
        EXPECT_EQ(pixels, image.pixels) << name;
    }
}

TEST_P(GrabPngs, HoldTheWholeTestPattern) {
    auto server = StartServer({"--size", "64x48", "--bpp", std::to_string(GetParam().bytesPerPixel), "--fps", "25"});
    const std::string summary = Grab({"--frames", "4", "--save", dir_.File("out"), "--every", "2"});
    Interrupt(*server);
    EXPECT_NE(std::string::npos, summary.find("saved: 2 PNG files")) << summary;
    EXPECT_FALSE(dir_.Exists("out/frame-000001.png"));
    uint32_t previous = 0;
    for (const char* name : {"frame-000002.png", "frame-000004.png"}) {
        tools::Image image;
        std::string error;
        ASSERT_TRUE(tools::LoadImageFile(dir_.File("out") + platform::kPathSeparator + name, GetParam().bytesPerPixel,
                                         image, error))
            << error;
        const tools::PatternReading reading = tools::ReadPattern(image.geometry, image.pixels.data());
        EXPECT_EQ(tools::PatternCheck::Intact, reading.check) << name;
        EXPECT_GT(reading.stamp.frameNumber, previous) << name;
        previous = reading.stamp.frameNumber;
    }
}

INSTANTIATE_TEST_SUITE_P(Channels, GrabPngs,
                         testing::Values(ChannelRow{"gray", 1}, ChannelRow{"rgb", 3}, ChannelRow{"rgba", 4}),
                         RowName());

TEST_F(ToolsTest, GrabStopsCleanlyOnCtrlCWhileWaiting) {
    auto grab = StartGrab({"--timeout", "0", "--connect-timeout", "100"});
    ASSERT_TRUE(grab->WaitForOutput("no dimensions yet: waiting for its server"));
    ASSERT_TRUE(grab->Interrupt());
    int exitCode = -1;
    ASSERT_TRUE(grab->Finish(exitCode));
    EXPECT_EQ(kExitOk, exitCode) << grab->Output();
    EXPECT_NE(std::string::npos, grab->Output().find("frames: 0 in")) << grab->Output();
}

TEST_F(ToolsTest, GrabGivesUpWithoutFrames) {
    const std::string output = Grab({"--timeout", "1", "--connect-timeout", "100"}, kExitFailure);
    EXPECT_NE(std::string::npos, output.find("quorvex-grab: no frame for 1 s; giving up")) << output;
}

TEST_F(ToolsTest, GrabWritesTheCameraSettingsBeforeOpening) {
    const std::string output = Grab({"--camera", "Camera 5", "--log-level", "3", "--timeout", "1"}, kExitFailure);
    const std::string file = dir_.File("Quorvex.ini");
    char pipeName[256] = "poison";
    GetPrivateProfileStringA("Camera 5", "PipeName", "missing", pipeName, sizeof pipeName, file.c_str());
    EXPECT_EQ(share_, pipeName);
    EXPECT_EQ(3u, GetPrivateProfileIntA("Camera 5", "LogLevel", -1, file.c_str()));
    EXPECT_EQ(2000u, GetPrivateProfileIntA("Camera 5", "ConnectionTimeout", -1, file.c_str()));
    EXPECT_NE(std::string::npos, output.find("set PipeName=" + share_ + " for Camera 5 in " + file)) << output;
}

TEST_F(ToolsTest, GrabLogPrintsTheDriversLinesWithTheirTimestamps) {
    auto server = StartServer({"--size", "64x48", "--fps", "25"});
    const std::string output = Grab({"--frames", "2", "--log", "--log-level", "2"});
    Interrupt(*server);
    // "dd/mm/yy hh:mm:ss: " and then the message, on one line.
    const std::string message = "openCVLPort: leaving -- Camera Camera 1 OPENED on port 1\n";
    const size_t at = output.find(message);
    ASSERT_NE(std::string::npos, at) << output;
    ASSERT_GE(at, 19u);
    const std::string timestamp = output.substr(at - 19, 19);
    EXPECT_TRUE(at == 19 || output[at - 20] == '\n') << output;
    for (const size_t digit : {0, 1, 3, 4, 6, 7, 9, 10, 12, 13, 15, 16}) {
        EXPECT_TRUE(timestamp[digit] >= '0' && timestamp[digit] <= '9') << timestamp;
    }
    EXPECT_EQ("/", timestamp.substr(2, 1));
    EXPECT_EQ(": ", timestamp.substr(17, 2));
    EXPECT_NE(std::string::npos, output.find("connected to share '" + share_ + "'")) << output;
}

TEST_F(ToolsTest, GrabWithoutLogPrintsNoDriverLines) {
    const std::string output = Grab({"--timeout", "1", "--connect-timeout", "100"}, kExitFailure);
    EXPECT_EQ(std::string::npos, output.find("Opening camera")) << output;
}

TEST_F(ToolsTest, GrabListsTheDriversCameras) {
    const std::string output = Grab({"--list"});
    for (int i = 1; i <= 32; ++i) {
        EXPECT_NE(std::string::npos, output.find("Camera " + std::to_string(i) + "\n")) << i;
    }
    EXPECT_EQ(std::string::npos, output.find("Camera 33")) << output;
}

TEST_F(ToolsTest, GrabRefusesACameraTheDriverDoesNotHave) {
    const std::string output = Grab({"--camera", "camera 1"}, kExitUsage);
    EXPECT_NE(std::string::npos, output.find("the driver has no camera \"camera 1\"")) << output;
}

TEST_F(ToolsTest, GrabRefusesAnUnknownCameraBeforeWritingAnything) {
    const std::string output = Grab({"--camera", "Camera 99", "--log-level", "2"}, kExitUsage);
    EXPECT_NE(std::string::npos, output.find("quorvex-grab: the driver has no camera \"Camera 99\"")) << output;
    EXPECT_FALSE(dir_.Exists("Quorvex.ini")) << dir_.Read("Quorvex.ini");
}

TEST_F(ToolsTest, GrabRefusesAnUnknownCameraLeavingTheSettingsFileAsItWas) {
    const std::string before = "; the host's settings\r\n[Camera 1]\r\nPipeName=untouched\r\n";
    dir_.Write("Quorvex.ini", before);
    const std::string output = Grab({"--camera", "Camera 99", "--share", "other", "--log-level", "2"}, kExitUsage);
    EXPECT_NE(std::string::npos, output.find("quorvex-grab: the driver has no camera \"Camera 99\"")) << output;
    EXPECT_EQ(std::string::npos, output.find("set ")) << output;
    EXPECT_EQ(before, dir_.Read("Quorvex.ini"));
}

TEST_F(ToolsTest, GrabRefusesAShareNameTheDriverWouldReadBackDifferently) {
    dir_.Write("Quorvex.ini", "[Camera 2]\r\nPipeName=untouched\r\n");
    const std::string output = Grab({"--share", "mine\n[Camera 2]\nPipeName=stolen"}, kExitFailure);
    EXPECT_NE(std::string::npos, output.find("quorvex-grab: the share name \"mine\n[Camera 2]\nPipeName=stolen\" is "
                                             "refused: it holds a line break"))
        << output;
    EXPECT_EQ("[Camera 2]\r\nPipeName=untouched\r\n", dir_.Read("Quorvex.ini"));
}

// A share named beyond ASCII: on Windows quorvex-server takes it in the ANSI
// code page of its command line, and quorvex-grab reads its own command line
// whole and hands the host library UTF-8, which writes it where the driver
// reads it, in that same code page.
TEST_F(ToolsTest, GrabReachesAServerWhoseShareIsBeyondAscii) {
    const std::string share = share_ + " caf\xC3\xA9";
    const std::string narrow = testsupport::NarrowForm(share);
    ASSERT_FALSE(narrow.empty()) << "the ANSI code page holds no é";
    ToolRun server(dir_, "server.txt");
    ASSERT_TRUE(server.Start(ServerTool(), {"--share", narrow, "--size", "64x48", "--fps", "25"}));
    ASSERT_TRUE(server.WaitForOutput("serving"));
    ToolRun grab(dir_, "grab.txt");
    ASSERT_TRUE(grab.Start(GrabTool(), {"--system-dir", dir_.Path(), "--share", narrow, "--connect-timeout", "5000",
                                        "--frames", "3", "--timeout", "10"}));
    int exitCode = -1;
    ASSERT_TRUE(grab.Finish(exitCode));
    Interrupt(server);
    EXPECT_EQ(kExitOk, exitCode) << grab.Output();
    EXPECT_EQ(3, NumberAfter(grab.Output(), "frames: ")) << grab.Output();
    // Said in UTF-8, as the library gives it back.
    EXPECT_NE(std::string::npos, grab.Output().find("set PipeName=" + share + " for Camera 1")) << grab.Output();
    char pipeName[256] = "poison";
    GetPrivateProfileStringA("Camera 1", "PipeName", "missing", pipeName, sizeof pipeName,
                             dir_.File("Quorvex.ini").c_str());
    EXPECT_EQ(narrow, pipeName);
}

TEST_F(ToolsTest, GrabReportsADriverThatCannotBeLoaded) {
    const std::string output = Grab({"--driver", dir_.File("missing-driver")}, kExitFailure);
    EXPECT_NE(std::string::npos, output.find("quorvex-grab: cannot load the driver")) << output;
}

}  // namespace

// With --wait-for-hosts the first frame waits until the grab can take it:
// whichever starts first, the grab sees every frame from number 1.
TEST_F(ToolsTest, TheFirstFrameReachesTheGrabInTwentyOfTwentyTries) {
    constexpr int kTries = 20;
    for (int attempt = 0; attempt < kTries; ++attempt) {
        const std::string share = share_ + "-" + std::to_string(attempt);
        ToolRun server(dir_, "server-" + std::to_string(attempt) + ".txt");
        ToolRun grab(dir_, "grab-" + std::to_string(attempt) + ".txt");
        const auto startServer = [&] {
            return server.Start(ServerTool(), {"--share", share, "--size", "64x48", "--fps", "25", "--frames", "3",
                                               "--wait-for-hosts", "1", "--wait-timeout", "30"});
        };
        const auto startGrab = [&] {
            return grab.Start(GrabTool(), {"--system-dir", dir_.Path(), "--share", share, "--connect-timeout", "5000",
                                           "--frames", "3", "--timeout", "10"});
        };
        // Every other try the grab comes first and looks for its server.
        if (attempt % 2 == 0) {
            ASSERT_TRUE(startServer());
            ASSERT_TRUE(server.WaitForOutput("waiting for 1 host"));
            ASSERT_TRUE(startGrab());
        } else {
            ASSERT_TRUE(startGrab());
            ASSERT_TRUE(startServer());
        }
        int grabExit = -1;
        int serverExit = -1;
        ASSERT_TRUE(grab.Finish(grabExit));
        ASSERT_TRUE(server.Finish(serverExit));
        const std::string summary = grab.Output();
        ASSERT_EQ(kExitOk, grabExit) << "try " << attempt << "\n" << summary << server.Output();
        EXPECT_EQ(kExitOk, serverExit) << "try " << attempt << "\n" << server.Output();
        EXPECT_EQ(1, NumberAfter(summary, "numbers ")) << "try " << attempt << "\n" << summary;
        EXPECT_EQ(3, NumberAfter(summary, " to ")) << "try " << attempt << "\n" << summary;
        EXPECT_EQ(0, NumberAfter(summary, "lost: ")) << "try " << attempt << "\n" << summary;
    }
}

// After the last of --frames the server sends Stop, which the host reads
// after that frame, and ends once the host has let go.
TEST_F(ToolsTest, AfterItsLastFrameTheServerSendsStopAndEnds) {
    auto server = StartServer({"--size", "64x48", "--fps", "25", "--frames", "3", "--wait-for-hosts", "1"});
    const std::string output = Grab({"--frames", "5", "--timeout", "2", "--log", "--log-level", "3"}, kExitOk);
    int exitCode = -1;
    ASSERT_TRUE(server->Finish(exitCode));
    EXPECT_EQ(kExitOk, exitCode) << server->Output();
    EXPECT_NE(std::string::npos, server->Output().find("quorvex-server: end of the frames; sent Stop to 1 host\n"))
        << server->Output();
    EXPECT_NE(std::string::npos, server->Output().find("quorvex-server: stopped after 3 frames\n")) << server->Output();
    // Each frame whole, the last one included, and then the Stop.
    EXPECT_EQ(3, NumberAfter(output, "frames: ")) << output;
    EXPECT_EQ(1, NumberAfter(output, "numbers ")) << output;
    EXPECT_EQ(0, NumberAfter(output, "torn: ")) << output;
    const size_t lastFrame = output.rfind("image received, port=1");
    const size_t stop = output.find("header received, type=4, port=1");
    ASSERT_NE(std::string::npos, stop) << output;
    EXPECT_LT(lastFrame, stop) << output;
    EXPECT_NE(std::string::npos, output.find("quorvex-grab: the server ended the stream\n")) << output;
}

TEST_F(ToolsTest, WaitForHostsGivesUpAfterItsTimeout) {
    ToolRun server(dir_, "server.txt");
    ASSERT_TRUE(server.Start(ServerTool(),
                             {"--share", share_, "--size", "64x48", "--wait-for-hosts", "2", "--wait-timeout", "1"}));
    int exitCode = -1;
    ASSERT_TRUE(server.Finish(exitCode));
    EXPECT_EQ(kExitFailure, exitCode) << server.Output();
    EXPECT_NE(std::string::npos,
              server.Output().find("quorvex-server: 2 hosts did not come within 1 s (--wait-timeout)"))
        << server.Output();
}
