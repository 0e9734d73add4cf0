// quorvexsrc as a recorder: quorvex-server serves its test pattern,
// quorvex-grab saves every frame it receives, and a pipeline
// `quorvexsrc ! pngenc ! multifilesink` records at the same time. Each
// recorded file must hold a whole frame of the pattern and the very pixels
// quorvex-grab saved for the same frame.
#include <filesystem>
#include <map>
#include <set>
#include <utility>

#include "gst_test_support.h"
#include "host_harness.h"
#include "image_files.h"
#include "support/row_name.h"
#include "test_pattern.h"

namespace {

using hosttest::operator<<;
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

class SourceRecording : public testing::TestWithParam<RecordRow> {
protected:
    // The files of a folder, read as frames of the pattern, by frame number.
    // A host that reaches a frame only after the server has resized and
    // written the next one copies that frame, of the new size, as one of the
    // old: such a frame is torn. It is counted in `torn` and not kept.
    std::map<uint32_t, tools::Image> ReadFrames(const std::string& folder, int bytesPerPixel, size_t& files,
                                                size_t& torn) {
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

    testsupport::TempDir dir_;
    const std::string share_ = toolstest::UniqueShare();
};

TEST_P(SourceRecording, RecordsThePixelsTheGrabSaves) {
    const RecordRow& row = GetParam();
    const std::string grabDir = dir_.File("grab");
    const std::string recordDir = dir_.File("record");
    const std::string sourceSystemDir = dir_.File("source-system");
    for (const std::string& folder : {recordDir, sourceSystemDir}) {
        std::filesystem::create_directories(folder);
    }

    ToolRun server(dir_, "server.txt");
    std::vector<std::string> serverArgs = {
        "--share", share_, "--size", "160x120", "--bpp", std::to_string(row.bytesPerPixel), "--fps", "25"};
    if (row.resizeEvery > 0) {
        serverArgs.insert(serverArgs.end(), {"--resize-every", std::to_string(row.resizeEvery)});
    }
    ASSERT_TRUE(server.Start(toolstest::ToolPath(QUORVEX_SERVER_TOOL_FILE), serverArgs));
    ASSERT_TRUE(server.WaitForOutput("serving"));

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
    ASSERT_TRUE(server.Interrupt());
    ASSERT_TRUE(server.Finish(exitCode));

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

}  // namespace
