// quorvexsrc as a recorder: quorvex-server serves its test pattern,
// quorvex-grab saves every frame it receives, and a pipeline
// `quorvexsrc ! pngenc ! multifilesink` records at the same time. Each
// recorded file must hold a whole frame of the pattern and the very pixels
// quorvex-grab saved for the same frame. At widths whose rows are not a
// multiple of 4 bytes, the buffers must have the padded rows their caps
// promise, straight into pngenc and through videoconvert; a server's Stop
// ends the pipeline; two sources cannot share a camera.
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "gst_test_support.h"
#include "image_files.h"
#include "support/row_name.h"
#include "test_pattern.h"

namespace {

using testsupport::operator<<;
using toolstest::ToolRun;

constexpr int kRecorded = 50;
// The grab runs longer than the recording, which starts after it.
constexpr int kGrabbed = 150;
// Frames missing from the grab's files (a host may lose one under load)
// leave a recorded frame without a partner; this many must have one.
constexpr int kLeastMatched = 40;

struct RecordRow {
    std::string name;
    int bytesPerPixel;
    int resizeEvery;  // 0: one size
};

// The files of a folder, read as frames of the pattern of `bytesPerPixel`
// (converted to it as they are loaded), by frame number. Every byte of a
// frame is checked against the pattern the server draws. A host that reaches
// a frame only after the server has resized and written the next one copies
// that frame, of the new size, as one of the old: such a frame is torn. It is
// counted in `torn` and not kept.
std::map<uint32_t, tools::Image> ReadFrames(const std::string& folder, int bytesPerPixel, size_t& files, size_t& torn) {
    std::map<uint32_t, tools::Image> frames;
    files = 0;
    torn = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        ++files;
        tools::Image image;
        std::string error;
        EXPECT_TRUE(tools::LoadImageFile(entry.path().string(), bytesPerPixel, image, error)) << error;
        const tools::PatternReading reading = tools::ReadPattern(image.geometry, image.pixels.data());
        if (reading.check == tools::PatternCheck::Torn) {
            ++torn;
            continue;
        }
        EXPECT_EQ(tools::PatternCheck::Intact, reading.check) << entry.path();
        frames.emplace(reading.stamp.frameNumber, std::move(image));
    }
    return frames;
}

// Each case has its own folder and share.
class SourcePipeline : public testing::Test {
protected:
    std::unique_ptr<ToolRun> StartServer(const std::vector<std::string>& args) {
        auto server = std::make_unique<ToolRun>(dir_, "server.txt");
        EXPECT_TRUE(server->Start(toolstest::ServerTool(), toolstest::Joined({"--share", share_}, args)));
        EXPECT_TRUE(server->WaitForOutput("serving"));
        return server;
    }

    // A folder of the case's folder, made.
    std::string Folder(const std::string& name) {
        const std::string folder = dir_.File(name);
        std::filesystem::create_directories(folder);
        return folder;
    }

    // quorvexsrc on the case's share, its system folder `systemDir`.
    std::string Source(const std::string& systemDir) {
        return "quorvexsrc share=" + share_ + " system-dir=" + systemDir;
    }

    testsupport::TempDir dir_;
    const std::string share_ = toolstest::UniqueShare();
};

class SourceRecording : public SourcePipeline, public testing::WithParamInterface<RecordRow> {};

TEST_P(SourceRecording, RecordsThePixelsTheGrabSaves) {
    const RecordRow& row = GetParam();
    const std::string grabDir = dir_.File("grab");
    const std::string recordDir = dir_.File("record");
    const std::string sourceSystemDir = dir_.File("source-system");
    for (const std::string& folder : {recordDir, sourceSystemDir}) {
        std::filesystem::create_directories(folder);
    }

    std::vector<std::string> serverArgs = {"--size", "160x120", "--bpp", std::to_string(row.bytesPerPixel),
                                           "--fps",  "25"};
    if (row.resizeEvery > 0) {
        serverArgs.insert(serverArgs.end(), {"--resize-every", std::to_string(row.resizeEvery)});
    }
    const std::unique_ptr<ToolRun> server = StartServer(serverArgs);

    ToolRun grab(dir_, "grab.txt");
    ASSERT_TRUE(grab.Start(toolstest::ToolPath(QUORVEX_GRAB_TOOL_FILE),
                           {"--system-dir", dir_.Path(), "--share", share_, "--frames", std::to_string(kGrabbed),
                            "--save", grabDir, "--connect-timeout", "2000"}));
    ASSERT_TRUE(grab.WaitForOutput("open on port"));

    ASSERT_TRUE(gsttest::RunPipeline(dir_, "record.txt",
                                     "quorvexsrc share=" + share_ + " system-dir=" + sourceSystemDir +
                                         " num-buffers=" + std::to_string(kRecorded) +
                                         " ! pngenc ! multifilesink location=" + recordDir + "/frame-%05d.png"));
    int exitCode = -1;
    ASSERT_TRUE(grab.Finish(exitCode));
    ASSERT_EQ(0, exitCode) << grab.Output();
    ASSERT_TRUE(server->Interrupt());
    ASSERT_TRUE(server->Finish(exitCode));

    size_t recordedFiles = 0;
    size_t grabbedFiles = 0;
    size_t recordedTorn = 0;
    size_t grabbedTorn = 0;
    const auto recorded = ReadFrames(recordDir, row.bytesPerPixel, recordedFiles, recordedTorn);
    const auto grabbed = ReadFrames(grabDir, row.bytesPerPixel, grabbedFiles, grabbedTorn);
    EXPECT_EQ(static_cast<size_t>(kRecorded), recordedFiles);
    EXPECT_EQ(recordedFiles - recordedTorn, recorded.size()) << "frames recorded twice";
    // Only a resize can tear a frame, and each one at most the frame or two
    // in flight at that moment.
    const size_t tornAtMost = row.resizeEvery > 0 ? 2 * (kGrabbed / row.resizeEvery) : 0;
    EXPECT_LE(recordedTorn, tornAtMost);
    EXPECT_LE(grabbedTorn, tornAtMost);

    int matched = 0;
    std::set<std::pair<int, int>> sizes;
    for (const auto& [number, image] : recorded) {
        sizes.emplace(image.geometry.width, image.geometry.height);
        const auto partner = grabbed.find(number);
        if (partner == grabbed.end()) {
            continue;
        }
        ++matched;
        EXPECT_EQ(partner->second.geometry, image.geometry) << "frame " << number;
        EXPECT_TRUE(partner->second.pixels == image.pixels) << "frame " << number << " differs from the grab's";
    }
    EXPECT_GE(matched, kLeastMatched) << "of " << recorded.size() << " recorded and " << grabbedFiles << " grabbed";
    if (row.resizeEvery > 0) {
        EXPECT_EQ(2u, sizes.size()) << "the recording did not follow the camera's resets";
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, SourceRecording,
                         testing::Values(RecordRow{"gray", 1, 0}, RecordRow{"rgb", 3, 0}, RecordRow{"rgba", 4, 0},
                                         RecordRow{"gray_resized_every_15", 1, 15}),
                         RowName());

struct WidthRow {
    std::string name;
    int width;
    int height;
    int bytesPerPixel;
    // Between the source and pngenc; empty: the source's buffers go into
    // pngenc as they are.
    std::string between;
};

class SourceWidths : public SourcePipeline, public testing::WithParamInterface<WidthRow> {};

// Rows of 321 or 322 gray bytes or 963 RGB bytes are padded to a multiple of
// 4 in GStreamer's default layout, which the caps promise. A source that
// pushes packed rows stops pngenc ("Failed to map video frame") and gives
// videoconvert nothing to convert: black frames. Every byte of every frame
// must be the server's.
TEST_P(SourceWidths, EveryPixelIsTheServers) {
    const WidthRow& row = GetParam();
    constexpr int kFrames = 10;
    const std::unique_ptr<ToolRun> server =
        StartServer({"--size", std::to_string(row.width) + "x" + std::to_string(row.height), "--bpp",
                     std::to_string(row.bytesPerPixel), "--fps", "25"});
    const std::string recordDir = Folder("record");
    ASSERT_TRUE(gsttest::RunPipeline(dir_, "record.txt",
                                     Source(Folder("system")) + " num-buffers=" + std::to_string(kFrames) + " ! " +
                                         row.between + " pngenc ! multifilesink location=" + recordDir +
                                         "/frame-%05d.png"));
    int exitCode = -1;
    ASSERT_TRUE(server->Interrupt());
    ASSERT_TRUE(server->Finish(exitCode));

    size_t files = 0;
    size_t torn = 0;
    const auto recorded = ReadFrames(recordDir, row.bytesPerPixel, files, torn);
    EXPECT_EQ(static_cast<size_t>(kFrames), files);
    EXPECT_EQ(0u, torn);
    EXPECT_EQ(files, recorded.size()) << "frames recorded twice or not of the pattern";
    for (const auto& [number, image] : recorded) {
        EXPECT_EQ(image.geometry, (tools::FrameGeometry{row.width, row.height, row.bytesPerPixel}))
            << "frame " << number;
    }
}

// videoconvert converts (to RGBA, which pngenc takes) rather than passing
// the buffers through; the PNG is read back in the source's format.
const std::string kConverted = "videoconvert ! video/x-raw,format=RGBA ! ";

INSTANTIATE_TEST_SUITE_P(Rows, SourceWidths,
                         testing::Values(WidthRow{"gray_321x241", 321, 241, 1, ""},
                                         WidthRow{"gray_322x240", 322, 240, 1, ""},
                                         WidthRow{"rgb_321x241", 321, 241, 3, ""},
                                         WidthRow{"gray_321x241_videoconvert", 321, 241, 1, kConverted},
                                         WidthRow{"gray_322x240_videoconvert", 322, 240, 1, kConverted},
                                         WidthRow{"rgb_321x241_videoconvert", 321, 241, 3, kConverted}),
                         RowName());

// A server's Stop is the end of the stream: the pipeline gets EOS and ends
// by itself, with the frames served before it.
TEST_F(SourcePipeline, TheServersStopEndsTheStream) {
    constexpr int kServed = 10;
    // The server waits for the source, so the Stop comes after frames the
    // source receives.
    const std::unique_ptr<ToolRun> server = StartServer({"--size", "64x48", "--bpp", "1", "--fps", "25", "--stop-after",
                                                         std::to_string(kServed), "--wait-for-hosts", "1"});
    const std::string recordDir = Folder("record");
    const auto pipeline = gsttest::StartPipeline(
        dir_, "record.txt",
        Source(Folder("system")) + " ! pngenc ! multifilesink location=" + recordDir + "/frame-%05d.png");
    int exitCode = -1;
    ASSERT_TRUE(pipeline->Finish(exitCode, gsttest::kPipelineMs)) << "no end of the stream after the server's Stop";
    EXPECT_EQ(0, exitCode) << pipeline->Output();
    EXPECT_NE(pipeline->Output().find("Got EOS"), std::string::npos) << pipeline->Output();

    size_t files = 0;
    size_t torn = 0;
    const auto recorded = ReadFrames(recordDir, 1, files, torn);
    EXPECT_GE(files, 1u);
    EXPECT_LE(files, static_cast<size_t>(kServed));
    EXPECT_EQ(files, recorded.size());
    ASSERT_TRUE(server->Interrupt());
    ASSERT_TRUE(server->Finish(exitCode));
}

// Two sources of one pipeline on the default camera: the camera opens once,
// and the second source stops the pipeline with an error that says so
// (before, both took the camera and the pipeline hung without a word).
TEST_F(SourcePipeline, TwoSourcesOnOneCameraEndWithAnError) {
    const std::unique_ptr<ToolRun> server = StartServer({"--size", "64x48", "--bpp", "1", "--fps", "25"});
    const std::string systemDir = Folder("system");
    const auto pipeline = gsttest::StartPipeline(
        dir_, "pipeline.txt", Source(systemDir) + " ! fakesink " + Source(systemDir) + " port=2 ! fakesink");
    int exitCode = -1;
    ASSERT_TRUE(pipeline->Finish(exitCode, gsttest::kPipelineMs)) << "the pipeline hangs";
    EXPECT_NE(0, exitCode) << pipeline->Output();
    EXPECT_NE(pipeline->Output().find("Camera 1 is open already"), std::string::npos) << pipeline->Output();
    ASSERT_TRUE(server->Interrupt());
    ASSERT_TRUE(server->Finish(exitCode));
}

}  // namespace
