// quorvexsink in real pipelines, run by gst-launch-1.0 (or, for a caps
// change, built in a child process), with a host of the driver reading
// every frame in this process.
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <thread>

#include "gst_children.h"
#include "gst_test_support.h"
#include "platform/process.h"
#include "platform/win32.h"
#include "quorvex_server.h"
#include "support/row_name.h"
#include "test_host.h"

namespace {

using gsttest::HostFrame;
using gsttest::kFirstSize;
using gsttest::kFramesPerSize;
using gsttest::kSecondSeed;
using gsttest::kSecondSize;
using gsttest::RunPipeline;
using gsttest::StartPipeline;
using gsttest::TestHost;
using testsupport::operator<<;

constexpr int kFrames = 300;

// GStreamer's own rows start 4-byte aligned.
int GstStride(int rowBytes) {
    return (rowBytes + 3) / 4 * 4;
}

class SinkTest : public testing::Test {
protected:
    void TearDown() override { host_.Close(); }

    // The share is free: a server can be created on it.
    testing::AssertionResult ShareIsFree() {
        QuorvexServer* server = QuorvexServerCreate(share_.c_str(), 16, 1);
        if (server == nullptr) {
            return testing::AssertionFailure() << "the share " << share_ << " is still served";
        }
        QuorvexServerDestroy(server);
        return testing::AssertionSuccess();
    }

    testsupport::TempDir dir_;
    const std::string share_ = toolstest::UniqueShare();
    TestHost host_;
};

// ---- Every frame of videotestsrc, byte for byte ----

struct StreamRow {
    std::string name;
    std::string format;
    int width;
    int bytesPerPixel;  // in the pipeline
    std::string order;
    // Host byte c of a pixel is pipeline byte channels[c].
    std::vector<int> channels;
};

class SinkStream : public SinkTest, public testing::WithParamInterface<StreamRow> {
protected:
    // The frames videotestsrc makes, as the host must receive them: rows
    // without GStreamer's padding, channels in the sink's order.
    std::vector<std::vector<uint8_t>> ExpectedFrames(const std::string& source, const StreamRow& row, int height) {
        const std::string caps = "video/x-raw,format=" + row.format + ",width=" + std::to_string(row.width) +
                                 ",height=" + std::to_string(height) + ",framerate=100/1";
        EXPECT_TRUE(RunPipeline(dir_, "reference.txt",
                                source + " ! " + caps + " ! filesink location=" + dir_.File("reference.raw")));
        const std::string raw = dir_.Read("reference.raw");
        const int stride = GstStride(row.width * row.bytesPerPixel);
        const size_t frameBytes = static_cast<size_t>(stride) * static_cast<size_t>(height);
        EXPECT_EQ(frameBytes * kFrames, raw.size());
        std::vector<std::vector<uint8_t>> frames;
        const int hostBpp = static_cast<int>(row.channels.size());
        for (size_t at = 0; at + frameBytes <= raw.size(); at += frameBytes) {
            std::vector<uint8_t> frame;
            frame.reserve(static_cast<size_t>(row.width * hostBpp * height));
            for (int y = 0; y < height; ++y) {
                const char* line = raw.data() + at + static_cast<size_t>(y) * static_cast<size_t>(stride);
                for (int x = 0; x < row.width; ++x) {
                    for (int channel : row.channels) {
                        frame.push_back(static_cast<uint8_t>(line[x * row.bytesPerPixel + channel]));
                    }
                }
            }
            frames.push_back(std::move(frame));
        }
        return frames;
    }
};

TEST_P(SinkStream, EveryFrameReachesTheHostByteForByte) {
    const StreamRow& row = GetParam();
    constexpr int kHeight = 240;
    const std::string source =
        "videotestsrc num-buffers=" + std::to_string(kFrames) + " pattern=ball animation-mode=frames";
    const auto expected = ExpectedFrames(source, row, kHeight);
    ASSERT_EQ(static_cast<size_t>(kFrames), expected.size());

    ASSERT_TRUE(host_.Open(dir_.Path(), share_));
    const std::string acknowledgements = share_ + "-read";
    ASSERT_TRUE(host_.AcknowledgeThrough(acknowledgements));
    // The sink holds the first frame until the host is attached, and each
    // frame after it until the host has read the one before.
    toolstest::ToolRun child(dir_, "child.txt");
    ASSERT_TRUE(child.Start(platform::ProgramPath(),
                            {std::string("--child=") + gsttest::kLockstepVerb, acknowledgements,
                             source + " ! video/x-raw,format=" + row.format + ",width=" + std::to_string(row.width) +
                                 ",height=" + std::to_string(kHeight) +
                                 ",framerate=100/1 ! quorvexsink name=sink sync=false share=" + share_ +
                                 " order=" + row.order + " wait-for-hosts=1"}));
    int exitCode = -1;
    ASSERT_TRUE(child.Finish(exitCode, gsttest::kPipelineMs));
    ASSERT_EQ(0, exitCode) << child.Output();
    ASSERT_TRUE(host_.WaitForFrames(kFrames, gsttest::kPipelineMs));
    EXPECT_TRUE(ShareIsFree());
    host_.Close();

    const std::vector<HostFrame> frames = host_.Frames();
    ASSERT_EQ(static_cast<size_t>(kFrames), frames.size()) << gsttest::Describe(frames);
    for (size_t i = 0; i < frames.size(); ++i) {
        ASSERT_EQ(row.width, frames[i].width) << "frame " << i;
        ASSERT_EQ(kHeight, frames[i].height) << "frame " << i;
        ASSERT_EQ(static_cast<int>(row.channels.size()), frames[i].bytesPerPixel) << "frame " << i;
        ASSERT_TRUE(frames[i].pixels == expected[i]) << "frame " << i << " differs from videotestsrc's";
        // In lockstep nothing is lost: the server's numbers run 1, 2, 3 ...
        ASSERT_EQ(static_cast<int>(i + 1), frames[i].number) << "frame " << i;
        ASSERT_EQ(0, frames[i].gap) << "frame " << i;
        ASSERT_TRUE(i == 0 || frames[i].captureUs > frames[i - 1].captureUs) << "frame " << i;
    }
}

// ---- Frame numbers and capture times ----

// Frames that run through one at a time: the sink waits for the host before
// the first and after each.
std::vector<HostFrame> LockstepFrames(TestHost& host, const testsupport::TempDir& dir, const std::string& share,
                                      const std::string& pipeline, size_t count) {
    const std::string acknowledgements = share + "-read";
    EXPECT_TRUE(host.Open(dir.Path(), share));
    EXPECT_TRUE(host.AcknowledgeThrough(acknowledgements));
    toolstest::ToolRun child(dir, "child.txt");
    EXPECT_TRUE(child.Start(platform::ProgramPath(),
                            {std::string("--child=") + gsttest::kLockstepVerb, acknowledgements,
                             pipeline + " ! quorvexsink name=sink share=" + share + " wait-for-hosts=1"}));
    int exitCode = -1;
    EXPECT_TRUE(child.Finish(exitCode, gsttest::kPipelineMs));
    EXPECT_EQ(0, exitCode) << child.Output();
    EXPECT_TRUE(host.WaitForFrames(count, gsttest::kPipelineMs));
    host.Close();
    return host.Frames();
}

TEST_F(SinkTest, CaptureTimesFollowTheBuffersOnTheHostsClock) {
    constexpr size_t kTimed = 10;
    const std::vector<HostFrame> frames =
        LockstepFrames(host_, dir_, share_,
                       "videotestsrc num-buffers=" + std::to_string(kTimed) +
                           " ! video/x-raw,format=GRAY8,width=64,height=16,framerate=25/1",
                       kTimed);
    ASSERT_EQ(kTimed, frames.size()) << gsttest::Describe(frames);
    for (size_t i = 0; i < frames.size(); ++i) {
        EXPECT_EQ(static_cast<int>(i + 1), frames[i].number) << "frame " << i;
        EXPECT_LT(std::llabs(frames[i].arrivedUs - frames[i].captureUs), 1000000) << "frame " << i;
        if (i > 0) {
            // 25 frames per second: the buffers' timestamps 40 ms apart.
            const int64_t stepUs = frames[i].captureUs - frames[i - 1].captureUs;
            EXPECT_GT(stepUs, 30000) << "frame " << i;
            EXPECT_LT(stepUs, 50000) << "frame " << i;
        }
    }
}

TEST_F(SinkTest, FramesDroppedUpstreamAreLeftOutOfTheNumbers) {
    constexpr int kSent = 60;
    const std::vector<HostFrame> frames = LockstepFrames(
        host_, dir_, share_,
        "videotestsrc num-buffers=" + std::to_string(kSent) +
            " ! video/x-raw,format=GRAY8,width=32,height=8,framerate=100/1 ! identity drop-probability=0.3",
        1);
    ASSERT_FALSE(frames.empty());
    SCOPED_TRACE(gsttest::Describe(frames));
    int gaps = 0;
    for (size_t i = 1; i < frames.size(); ++i) {
        EXPECT_EQ(frames[i - 1].number + frames[i].gap + 1, frames[i].number) << "frame " << i;
        gaps += frames[i].gap;
    }
    EXPECT_EQ(1, frames.front().number);
    EXPECT_EQ(frames.back().number - static_cast<int>(frames.size()), gaps);
    // Of 60 frames, about 18 are dropped; none would be a sink that skips no number.
    EXPECT_GT(gaps, 0);
    EXPECT_LE(frames.back().number, kSent);
}

INSTANTIATE_TEST_SUITE_P(Formats, SinkStream,
                         testing::Values(StreamRow{"gray8", "GRAY8", 320, 1, "rgb", {0}},
                                         StreamRow{"rgb", "RGB", 320, 3, "rgb", {0, 1, 2}},
                                         StreamRow{"bgrx", "BGRx", 320, 4, "rgb", {2, 1, 0, 3}},
                                         // 321 pixels of 3 bytes: GStreamer pads each row by one byte.
                                         StreamRow{"rgb_padded_rows_bgr_order", "RGB", 321, 3, "bgr", {2, 1, 0}}),
                         RowName());

// ---- A caps change while playing ----

TEST_F(SinkTest, ACapsChangeWhilePlayingGivesTheHostAResetAndTheNewSize) {
    ASSERT_TRUE(host_.Open(dir_.Path(), share_));
    toolstest::ToolRun child(dir_, "child.txt");
    ASSERT_TRUE(child.Start(platform::ProgramPath(), {std::string("--child=") + gsttest::kCapsChangeVerb, share_}));
    int exitCode = -1;
    ASSERT_TRUE(child.Finish(exitCode, gsttest::kPipelineMs));
    ASSERT_EQ(0, exitCode) << child.Output();
    ASSERT_TRUE(host_.WaitForFrames(2 * kFramesPerSize, gsttest::kPipelineMs)) << gsttest::Describe(host_.Frames());
    host_.Close();

    const std::vector<HostFrame> frames = host_.Frames();
    ASSERT_EQ(static_cast<size_t>(2 * kFramesPerSize), frames.size()) << gsttest::Describe(frames);
    SCOPED_TRACE(gsttest::Describe(frames));
    // The sink does not wait for the host between frames, so a host that is
    // slow to copy one may find the next already in the segment: every frame
    // must be whole, of its size, and never older than the one before.
    int previous = -1;
    for (int i = 0; i < 2 * kFramesPerSize; ++i) {
        const bool second = i >= kFramesPerSize;
        const gsttest::Size size = second ? kSecondSize : kFirstSize;
        const int first = second ? kSecondSeed : 0;
        const HostFrame& frame = frames[static_cast<size_t>(i)];
        EXPECT_EQ(size.width, frame.width) << "frame " << i;
        EXPECT_EQ(size.height, frame.height) << "frame " << i;
        ASSERT_FALSE(frame.pixels.empty()) << "frame " << i;
        const int value = frame.pixels.front();
        EXPECT_EQ(std::vector<uint8_t>(static_cast<size_t>(size.width * size.height), static_cast<uint8_t>(value)),
                  frame.pixels)
            << "frame " << i << " is not whole";
        EXPECT_GE(value, std::max(first, previous)) << "frame " << i;
        EXPECT_LT(value, first + kFramesPerSize) << "frame " << i;
        previous = value;
    }
    EXPECT_GT(frames[kFramesPerSize].resetsBefore, frames[kFramesPerSize - 1].resetsBefore)
        << "no Reset between the last frame of the first size and the first of the second";
}

// ---- The sink as a camera server ----

TEST_F(SinkTest, QuorvexCheckPassesTheSink) {
    auto pipeline =
        StartPipeline(dir_, "pipeline.txt",
                      "videotestsrc is-live=true ! video/x-raw,format=RGB,width=64,height=32,framerate=50/1 "
                      "! quorvexsink share=" +
                          share_);
    toolstest::ToolRun check(dir_, "check.txt");
    ASSERT_TRUE(check.Start(toolstest::ToolPath(QUORVEX_CHECK_TOOL_FILE), {share_, "--frames", "12"}));
    int exitCode = -1;
    ASSERT_TRUE(check.Finish(exitCode, gsttest::kPipelineMs));
    pipeline->Kill();
    EXPECT_EQ(0, exitCode) << check.Output();
    EXPECT_NE(std::string::npos, check.Output().find("PASS numbering: 12 frames numbered")) << check.Output();
}

// ---- One share, one server ----

TEST_F(SinkTest, ASecondSinkOnTheSameShareFailsWithAnElementErrorAndTheFirstGoesOn) {
    ASSERT_TRUE(host_.Open(dir_.Path(), share_));
    auto first = StartPipeline(dir_, "first.txt",
                               "videotestsrc is-live=true ! video/x-raw,format=GRAY8,width=64,height=48,framerate=50/1 "
                               "! quorvexsink share=" +
                                   share_);
    ASSERT_TRUE(host_.WaitForFrames(5, gsttest::kPipelineMs));

    auto second = StartPipeline(dir_, "second.txt",
                                "videotestsrc num-buffers=10 ! video/x-raw,format=GRAY8,width=64,height=48 ! "
                                "quorvexsink share=" +
                                    share_);
    int exitCode = 0;
    ASSERT_TRUE(second->Finish(exitCode, gsttest::kPipelineMs));
    EXPECT_NE(0, exitCode);
    const std::string output = second->Output();
    EXPECT_NE(std::string::npos, output.find("ERROR: from element")) << output;
    EXPECT_NE(std::string::npos, output.find("GstQuorvexSink")) << output;
    EXPECT_NE(std::string::npos, output.find("Cannot serve the share \"" + share_ + "\"")) << output;

    // The first still serves its host.
    const size_t before = host_.FrameCount();
    EXPECT_TRUE(host_.WaitForFrames(before + 5, gsttest::kPipelineMs));
    ASSERT_TRUE(first->Interrupt());
    ASSERT_TRUE(first->Finish(exitCode, gsttest::kPipelineMs));
    EXPECT_TRUE(ShareIsFree());
}

// wait-for-hosts holds the first frame until a host that comes after the
// pipeline started can take it: at 2 fps every frame reaches it, in each of
// several tries.
TEST_F(SinkTest, AHostThatComesLaterReceivesTheFirstFrame) {
    constexpr int kTries = 5;
    constexpr int kFramesPerTry = 2;
    for (int attempt = 0; attempt < kTries; ++attempt) {
        const std::string share = share_ + "-" + std::to_string(attempt);
        auto pipeline = StartPipeline(dir_, "pipeline-" + std::to_string(attempt) + ".txt",
                                      "videotestsrc num-buffers=" + std::to_string(kFramesPerTry) +
                                          " ! video/x-raw,format=GRAY8,width=64,height=48,framerate=2/1 ! "
                                          "quorvexsink share=" +
                                          share + " wait-for-hosts=1 wait-timeout=30000");
        Sleep(200);
        ASSERT_TRUE(host_.Open(dir_.Path(), share));
        ASSERT_TRUE(host_.WaitForFrames(static_cast<size_t>(kFramesPerTry * (attempt + 1)), gsttest::kPipelineMs))
            << "try " << attempt << ": " << gsttest::Describe(host_.Frames()) << pipeline->Output();
        int exitCode = -1;
        ASSERT_TRUE(pipeline->Finish(exitCode, gsttest::kPipelineMs));
        EXPECT_EQ(0, exitCode) << pipeline->Output();
        host_.Close();
    }
    EXPECT_EQ(static_cast<size_t>(kTries * kFramesPerTry), host_.FrameCount());
}

TEST_F(SinkTest, HostsThatComeAndGoDoNotDisturbThePipeline) {
    auto pipeline = StartPipeline(dir_, "pipeline.txt",
                                  "videotestsrc num-buffers=150 is-live=true ! "
                                  "video/x-raw,format=RGB,width=64,height=48,framerate=50/1 ! quorvexsink share=" +
                                      share_);
    for (int visit = 0; visit < 3; ++visit) {
        ASSERT_TRUE(host_.Open(dir_.Path(), share_));
        ASSERT_TRUE(host_.WaitForFrames(host_.FrameCount() + 3, gsttest::kPipelineMs)) << "visit " << visit;
        host_.Close();
    }
    int exitCode = -1;
    ASSERT_TRUE(pipeline->Finish(exitCode, gsttest::kPipelineMs));
    EXPECT_EQ(0, exitCode) << pipeline->Output();
    EXPECT_EQ(std::string::npos, pipeline->Output().find("WARNING")) << pipeline->Output();
    EXPECT_TRUE(ShareIsFree());
}

// ---- Media from elsewhere ----

// Why a pipeline of `elements` cannot run here, or "" when it can.
std::string MissingElements(std::initializer_list<const char*> elements) {
    for (const char* element : elements) {
        if (!gsttest::HasElement(element)) {
            return std::string("GStreamer has no ") + element +
                   " (gstreamer1.0-plugins-good, -ugly and gstreamer1.0-libav provide these)";
        }
    }
    return "";
}

TEST_F(SinkTest, AVideoFilePlayedThroughDecodebinReachesTheHost) {
    const std::string missing = MissingElements({"x264enc", "mp4mux", "qtdemux", "avdec_h264"});
    if (!missing.empty()) {
        GTEST_SKIP() << missing;
    }
    constexpr int kFileFrames = 30;
    const std::string movie = dir_.File("movie.mp4");
    ASSERT_TRUE(RunPipeline(dir_, "encode.txt",
                            "videotestsrc num-buffers=" + std::to_string(kFileFrames) +
                                " pattern=ball ! video/x-raw,width=160,height=120,framerate=30/1 ! x264enc ! mp4mux ! "
                                "filesink location=" +
                                movie));
    ASSERT_TRUE(host_.Open(dir_.Path(), share_));
    ASSERT_TRUE(RunPipeline(dir_, "play.txt",
                            "filesrc location=" + movie + " ! decodebin ! videoconvert ! quorvexsink share=" + share_ +
                                " wait-for-hosts=1 max-lateness=-1 qos=false"));
    ASSERT_TRUE(host_.WaitForFrames(kFileFrames, gsttest::kPipelineMs));
    host_.Close();
    const std::vector<HostFrame> frames = host_.Frames();
    EXPECT_EQ(static_cast<size_t>(kFileFrames), frames.size());
    EXPECT_EQ(160, frames.back().width);
    EXPECT_EQ(120, frames.back().height);
}

TEST_F(SinkTest, AnH264StreamOverRtpReachesTheHost) {
    const std::string missing = MissingElements({"x264enc", "rtph264pay", "rtph264depay", "avdec_h264"});
    if (!missing.empty()) {
        GTEST_SKIP() << missing;
    }
    const int port = gsttest::FreeUdpPort();
    ASSERT_GT(port, 0);
    ASSERT_TRUE(host_.Open(dir_.Path(), share_));
    auto receiver = StartPipeline(
        dir_, "receiver.txt",
        "udpsrc address=127.0.0.1 port=" + std::to_string(port) +
            " caps=application/x-rtp,media=video,clock-rate=90000,encoding-name=H264,payload=96 ! rtph264depay ! "
            "avdec_h264 ! videoconvert ! video/x-raw,format=GRAY8 ! quorvexsink share=" +
            share_);
    ASSERT_TRUE(receiver->WaitForOutput("PLAYING", gsttest::kPipelineMs));
    ASSERT_TRUE(RunPipeline(dir_, "sender.txt",
                            "videotestsrc num-buffers=150 is-live=true pattern=ball ! "
                            "video/x-raw,width=320,height=240,framerate=30/1 ! x264enc tune=zerolatency "
                            "speed-preset=ultrafast key-int-max=15 ! rtph264pay config-interval=1 pt=96 ! "
                            "udpsink host=127.0.0.1 port=" +
                                std::to_string(port)));
    EXPECT_TRUE(host_.WaitForFrames(30, 5000)) << receiver->Output();
    ASSERT_TRUE(receiver->Interrupt());
    int exitCode = -1;
    ASSERT_TRUE(receiver->Finish(exitCode, gsttest::kPipelineMs));
    host_.Close();

    const std::vector<HostFrame> frames = host_.Frames();
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(320, frames.back().width);
    EXPECT_EQ(240, frames.back().height);
    EXPECT_EQ(1, frames.back().bytesPerPixel);
}

// ---- Documentation ----

TEST(GstInspect, DocumentsBothElementsAndTheirProperties) {
    testsupport::TempDir dir;
    struct Expected {
        const char* element;
        std::vector<std::string> texts;
    };
    const Expected rows[] = {
        {"quorvexsink",
         {"Quorvex camera server", "share", "max-clients", "order", "wait-for-hosts", "GRAY8", "BGRx",
          "\"Camera Share\""}},
        {"quorvexsrc", {"Quorvex camera", "camera", "share", "system-dir", "port", "RGBA", "\"Camera 1\""}},
    };
    for (const Expected& row : rows) {
        toolstest::ToolRun inspect(dir, std::string(row.element) + ".txt");
        ASSERT_TRUE(inspect.Start(QUORVEX_GST_INSPECT, {row.element}));
        int exitCode = -1;
        ASSERT_TRUE(inspect.Finish(exitCode));
        ASSERT_EQ(0, exitCode) << inspect.Output();
        for (const std::string& text : row.texts) {
            EXPECT_NE(std::string::npos, inspect.Output().find(text)) << row.element << ": " << text;
        }
    }
}

}  // namespace
