// quorvexsink in this process, on GStreamer's check harness, with a host of
// the built driver at the other end: caps changes reaching the host as
// resets, and flushes and state changes while the first frame waits for
// the hosts. The test pushes one frame at a time and waits until the host
// has it, so no frame can be overwritten unseen.
// The driver's Win32 declarations first: they define TRUE and FALSE as
// Windows does, which GLib then keeps.
#include "support/waits.h"
#include "test_host.h"
// Then GStreamer's.
#include <gst/video/video.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "harness_support.h"
#include "support/row_name.h"
#include "tool_run.h"

namespace {

using gsttest::HostFrame;
using gsttest::kElementMs;
using gsttest::UniqueHarness;

// Long enough never to end a wait that the test ends itself.
constexpr int kHostWaitMs = 60000;
constexpr int kFramesPerCaps = 5;
constexpr int kSecondSeed = 100;

class SinkHarness : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(gsttest::StartGStreamer()); }
    void TearDown() override { host_.Close(); }

    // A sink serving this case's share; it starts at once. With
    // `waitForHosts`, its first frame waits for that many hosts.
    UniqueHarness Sink(int waitForHosts) {
        GstElement* element = gsttest::MakeElement("quorvexsink");
        g_object_set(element, "share", share_.c_str(), "wait-for-hosts", waitForHosts, "wait-timeout", kHostWaitMs,
                     "sync", FALSE, nullptr);
        return gsttest::HarnessOf(element, true);
    }

    testsupport::TempDir dir_;
    const std::string share_ = toolstest::UniqueShare();
    gsttest::TestHost host_;
};

// One frame of the harness's current caps, every byte `value`.
GstFlowReturn PushFrame(GstHarness* harness, uint8_t value) {
    GstCaps* caps = gst_pad_get_current_caps(harness->srcpad);
    GstVideoInfo info;
    const bool known = caps != nullptr && gst_video_info_from_caps(&info, caps);
    if (caps != nullptr) {
        gst_caps_unref(caps);
    }
    if (!known) {
        ADD_FAILURE() << "no video caps to push a frame with";
        return GST_FLOW_NOT_NEGOTIATED;
    }
    GstBuffer* buffer = gst_harness_create_buffer(harness, GST_VIDEO_INFO_SIZE(&info));
    gst_buffer_memset(buffer, 0, value, GST_VIDEO_INFO_SIZE(&info));
    return gst_harness_push(harness, buffer);
}

// Pushes `count` frames, frame i of bytes `seed` + i, each taken by the
// host before the next goes.
testing::AssertionResult PushToHost(GstHarness* harness, gsttest::TestHost& host, int seed, int count) {
    for (int i = 0; i < count; ++i) {
        const size_t before = host.FrameCount();
        const GstFlowReturn pushed = PushFrame(harness, static_cast<uint8_t>(seed + i));
        if (pushed != GST_FLOW_OK) {
            return testing::AssertionFailure() << "frame " << seed + i << ": " << gst_flow_get_name(pushed);
        }
        testing::AssertionResult received = host.WaitForFrames(before + 1, kElementMs);
        if (!received) {
            return received << " (frame " << seed + i << ")";
        }
    }
    return testing::AssertionSuccess();
}

testing::AssertionResult IsFrame(const HostFrame& frame, int width, int height, int bytesPerPixel, uint8_t value) {
    if (frame.width != width || frame.height != height || frame.bytesPerPixel != bytesPerPixel) {
        return testing::AssertionFailure()
               << "a frame of " << frame.width << "x" << frame.height << "x" << frame.bytesPerPixel << ", expected "
               << width << "x" << height << "x" << bytesPerPixel;
    }
    const auto wrong =
        std::find_if(frame.pixels.begin(), frame.pixels.end(), [value](uint8_t byte) { return byte != value; });
    if (frame.pixels.size() != static_cast<size_t>(width) * height * bytesPerPixel || wrong != frame.pixels.end()) {
        return testing::AssertionFailure() << "the frame's bytes are not all " << int{value};
    }
    return testing::AssertionSuccess();
}

struct CapsRow {
    std::string name;
    std::string first;
    int firstWidth, firstHeight, firstBytesPerPixel;
    std::string second;
    int secondWidth, secondHeight, secondBytesPerPixel;

    friend void PrintTo(const CapsRow& row, std::ostream* out) { *out << row.name; }
};

class SinkCapsChange : public SinkHarness, public testing::WithParamInterface<CapsRow> {};

// New caps in the middle of the stream: the host is told by a reset before
// the first frame of the new size and reads every frame at its own size.
TEST_P(SinkCapsChange, ReachesTheHostAsAReset) {
    const CapsRow& row = GetParam();
    UniqueHarness harness = Sink(1);
    ASSERT_TRUE(host_.Open(dir_.Path(), share_));
    gst_harness_set_src_caps_str(harness.get(), row.first.c_str());
    ASSERT_TRUE(PushToHost(harness.get(), host_, 0, kFramesPerCaps));
    gst_harness_set_src_caps_str(harness.get(), row.second.c_str());
    ASSERT_TRUE(PushToHost(harness.get(), host_, kSecondSeed, kFramesPerCaps));

    const std::vector<HostFrame> frames = host_.Frames();
    ASSERT_EQ(frames.size(), 2u * kFramesPerCaps) << gsttest::Describe(frames);
    for (int i = 0; i < kFramesPerCaps; ++i) {
        EXPECT_TRUE(IsFrame(frames[i], row.firstWidth, row.firstHeight, row.firstBytesPerPixel, i)) << "frame " << i;
        const HostFrame& second = frames[kFramesPerCaps + i];
        EXPECT_TRUE(IsFrame(second, row.secondWidth, row.secondHeight, row.secondBytesPerPixel, kSecondSeed + i))
            << "frame " << kFramesPerCaps + i;
        EXPECT_GT(second.resetsBefore, frames[kFramesPerCaps - 1].resetsBefore) << gsttest::Describe(frames);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SinkCapsChange,
    testing::Values(CapsRow{"GrayShrinks", "video/x-raw,format=GRAY8,width=64,height=48,framerate=0/1", 64, 48, 1,
                            "video/x-raw,format=GRAY8,width=40,height=30,framerate=0/1", 40, 30, 1},
                    CapsRow{"GrayGrows", "video/x-raw,format=GRAY8,width=40,height=30,framerate=0/1", 40, 30, 1,
                            "video/x-raw,format=GRAY8,width=64,height=48,framerate=0/1", 64, 48, 1},
                    CapsRow{"GrayToRgbSameSize", "video/x-raw,format=GRAY8,width=64,height=48,framerate=0/1", 64, 48, 1,
                            "video/x-raw,format=RGB,width=64,height=48,framerate=0/1", 64, 48, 3},
                    // Rows padded to four bytes on the way in, not on the way out.
                    CapsRow{"RgbxToOddGray", "video/x-raw,format=RGBx,width=32,height=24,framerate=0/1", 32, 24, 4,
                            "video/x-raw,format=GRAY8,width=42,height=31,framerate=0/1", 42, 31, 1}),
    RowName());

// Frames larger than the sink's segment replace its server by a larger one;
// the host attaches to it on its own and reads the large frames whole.
TEST_F(SinkHarness, CapsBeyondTheSegmentReplaceTheServer) {
    constexpr int kWidth = 2048;
    constexpr int kHeight = 1100;  // four bytes per pixel: more than full HD's
    constexpr auto kRetryPause = std::chrono::milliseconds(50);
    UniqueHarness harness = Sink(1);
    ASSERT_TRUE(host_.Open(dir_.Path(), share_));
    gst_harness_set_src_caps_str(harness.get(), "video/x-raw,format=GRAY8,width=64,height=48,framerate=0/1");
    ASSERT_TRUE(PushToHost(harness.get(), host_, 0, 1));
    const int resetsBefore = host_.Resets();
    gst_harness_set_src_caps_str(harness.get(), ("video/x-raw,format=RGBA,width=" + std::to_string(kWidth) +
                                                 ",height=" + std::to_string(kHeight) + ",framerate=0/1")
                                                    .c_str());
    // Until the host is back, a frame reaches nobody: the same one goes
    // again.
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kElementMs);
    while (host_.FrameCount() < 2 && std::chrono::steady_clock::now() < until) {
        ASSERT_EQ(PushFrame(harness.get(), kSecondSeed), GST_FLOW_OK);
        std::this_thread::sleep_for(kRetryPause);
    }
    const std::vector<HostFrame> frames = host_.Frames();
    ASSERT_GE(frames.size(), 2u) << "the host did not come back within " << kElementMs << " ms";
    EXPECT_TRUE(IsFrame(frames[0], 64, 48, 1, 0));
    EXPECT_TRUE(IsFrame(frames[1], kWidth, kHeight, 4, kSecondSeed));
    EXPECT_GT(frames[1].resetsBefore, resetsBefore);
}

// The first frame waits for a host inside the sink; a state change must end
// the wait at once, and leave the share free for the next server.
TEST_F(SinkHarness, StopEndsTheWaitForHosts) {
    UniqueHarness harness = Sink(1);
    gst_harness_set_src_caps_str(harness.get(), "video/x-raw,format=GRAY8,width=16,height=16,framerate=0/1");
    GstHarness* fed = harness.get();
    testsupport::BackgroundCall<GstFlowReturn> push("the first frame's push", [fed] { return PushFrame(fed, 1); });
    EXPECT_FALSE(push.Wait(500)) << "the first frame did not wait for a host";
    EXPECT_TRUE(gsttest::ChangeState(harness->element, GST_STATE_NULL));
    EXPECT_EQ(push.Wait(kElementMs), GST_FLOW_FLUSHING);

    UniqueHarness next = Sink(0);
    GstState state = GST_STATE_VOID_PENDING;
    gst_element_get_state(next->element, &state, nullptr, 0);
    EXPECT_EQ(state, GST_STATE_PLAYING) << "a second sink cannot serve the share";
}

// A flush ends the wait too; after it, the next frame waits for the hosts
// again and reaches the one that comes.
TEST_F(SinkHarness, FlushEndsTheWaitForHosts) {
    UniqueHarness harness = Sink(1);
    gst_harness_set_src_caps_str(harness.get(), "video/x-raw,format=GRAY8,width=16,height=16,framerate=0/1");
    GstHarness* fed = harness.get();
    {
        testsupport::BackgroundCall<GstFlowReturn> push("the first frame's push", [fed] { return PushFrame(fed, 1); });
        EXPECT_FALSE(push.Wait(500)) << "the first frame did not wait for a host";
        ASSERT_TRUE(gst_harness_push_event(fed, gst_event_new_flush_start()));
        EXPECT_EQ(push.Wait(kElementMs), GST_FLOW_FLUSHING);
    }
    ASSERT_TRUE(gst_harness_push_event(fed, gst_event_new_flush_stop(TRUE)));
    GstSegment segment;
    gst_segment_init(&segment, GST_FORMAT_TIME);
    ASSERT_TRUE(gst_harness_push_event(fed, gst_event_new_segment(&segment)));

    {
        testsupport::BackgroundCall<GstFlowReturn> push("the frame after the flush",
                                                        [fed] { return PushFrame(fed, 2); });
        EXPECT_FALSE(push.Wait(500)) << "the frame after the flush did not wait for a host";
        // The host attaches inside openCVLPort, before it can set its
        // callbacks: the frame that was waiting may go out before they are,
        // and reach the host or not.
        ASSERT_TRUE(host_.Open(dir_.Path(), share_));
        EXPECT_EQ(push.Wait(kElementMs), GST_FLOW_OK);
    }
    // So the host's count cannot tell which frame came: it waits for the
    // next one by its bytes.
    ASSERT_EQ(PushFrame(fed, 3), GST_FLOW_OK);
    const auto lastIsThird = [this] {
        const std::vector<HostFrame> frames = host_.Frames();
        return !frames.empty() && IsFrame(frames.back(), 16, 16, 1, 3);
    };
    ASSERT_TRUE(testsupport::WaitUntil(lastIsThird, kElementMs)) << gsttest::Describe(host_.Frames());
    const std::vector<HostFrame> frames = host_.Frames();
    ASSERT_LE(frames.size(), 2u) << gsttest::Describe(frames);
    if (frames.size() == 2) {
        EXPECT_TRUE(IsFrame(frames[0], 16, 16, 1, 2));
    }
}

// Stopping the sink releases the share and starting it serves it again: the
// host comes back on its own, and the first frame waits for it.
TEST_F(SinkHarness, RestartServesTheHostAgain) {
    constexpr char kCaps[] = "video/x-raw,format=GRAY8,width=24,height=16,framerate=0/1";
    UniqueHarness harness = Sink(1);
    ASSERT_TRUE(host_.Open(dir_.Path(), share_));
    gst_harness_set_src_caps_str(harness.get(), kCaps);
    ASSERT_TRUE(PushToHost(harness.get(), host_, 0, kFramesPerCaps));
    for (const GstState state : {GST_STATE_READY, GST_STATE_NULL}) {
        SCOPED_TRACE(std::string("through ") + gst_element_state_get_name(state));
        ASSERT_TRUE(gsttest::ChangeState(harness->element, state));
        ASSERT_TRUE(gsttest::ChangeState(harness->element, GST_STATE_PLAYING));
        gst_harness_set_src_caps_str(harness.get(), kCaps);
        ASSERT_TRUE(PushToHost(harness.get(), host_, kSecondSeed, kFramesPerCaps));
        EXPECT_TRUE(IsFrame(host_.Frames().back(), 24, 16, 1, kSecondSeed + kFramesPerCaps - 1));
    }
}

}  // namespace
