// quorvexsrc in this process, on GStreamer's check harness, with a real
// camera server (quorvex-server) at the other end: flushing while it waits
// for a server, the caps following the server's resets, state changes
// while frames are being copied, the warnings while no server answers, and
// what it refuses at start, in the host library's words.
#include <gst/video/video.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <ostream>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "harness_support.h"
#include "quorvex_host.h"
#include "quorvex_server.h"
#include "settings_rules/settings_rules.h"
#include "support/host_owners.h"
#include "support/row_name.h"
#include "test_pattern.h"
#include "tool_run.h"

namespace {

using gsttest::kElementMs;
using gsttest::UniqueBuffer;
using gsttest::UniqueCaps;
using gsttest::UniqueHarness;
using toolstest::ToolRun;

// How long a source without a server is watched for frames it must not give.
constexpr unsigned kQuietMs = 500;

tools::FrameGeometry GeometryOf(const GstCaps* caps) {
    GstVideoInfo info;
    if (!gst_video_info_from_caps(&info, caps)) {
        return tools::FrameGeometry{};
    }
    return tools::FrameGeometry{static_cast<int32_t>(GST_VIDEO_INFO_WIDTH(&info)),
                                static_cast<int32_t>(GST_VIDEO_INFO_HEIGHT(&info)),
                                static_cast<int32_t>(GST_VIDEO_INFO_COMP_PSTRIDE(&info, 0))};
}

// The stamp of a buffer that holds one whole frame of the pattern at the
// geometry of `caps`.
testing::AssertionResult HoldsPatternFrame(GstBuffer* buffer, const GstCaps* caps, tools::PatternStamp& stamp) {
    const tools::FrameGeometry geometry = GeometryOf(caps);
    if (gst_buffer_get_size(buffer) != static_cast<gsize>(geometry.Bytes())) {
        return testing::AssertionFailure() << "a buffer of " << gst_buffer_get_size(buffer) << " bytes for frames of "
                                           << geometry.width << "x" << geometry.height << "x" << geometry.bytesPerPixel;
    }
    GstMapInfo map;
    if (!gst_buffer_map(buffer, &map, GST_MAP_READ)) {
        return testing::AssertionFailure() << "the buffer cannot be read";
    }
    const tools::PatternReading reading = tools::ReadPattern(geometry, map.data);
    gst_buffer_unmap(buffer, &map);
    if (reading.check != tools::PatternCheck::Intact) {
        return testing::AssertionFailure()
               << "the buffer holds no whole frame of the pattern (frame " << reading.stamp.frameNumber << ")";
    }
    stamp = reading.stamp;
    return testing::AssertionSuccess();
}

class SourceHarness : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(gsttest::StartGStreamer());
        // A camera without a server gives up waiting for its size quickly;
        // its thread goes on looking for the server.
        ASSERT_TRUE(testsupport::WriteHostSettings(dir_.Path(), "Camera 1", {nullptr, QUORVEX_HOST_KEEP, 100}));
    }

    UniqueHarness Source() {
        GstElement* element = gsttest::MakeElement("quorvexsrc");
        g_object_set(element, "share", share_.c_str(), "system-dir", dir_.Path().c_str(), nullptr);
        return gsttest::HarnessOf(element, false);
    }

    std::unique_ptr<ToolRun> StartServer(const std::vector<std::string>& args) {
        auto server = std::make_unique<ToolRun>(dir_, "server.txt");
        EXPECT_TRUE(server->Start(toolstest::ServerTool(), toolstest::Joined({"--share", share_}, args)));
        EXPECT_TRUE(server->WaitForOutput("serving"));
        return server;
    }

    testsupport::TempDir dir_;
    const std::string share_ = toolstest::UniqueShare();
};

GstTaskState TaskStateOf(GstElement* element) {
    GstPad* pad = gst_element_get_static_pad(element, "src");
    const GstTaskState state = gst_pad_get_task_state(pad);
    gst_object_unref(pad);
    return state;
}

testing::AssertionResult TaskReaches(GstElement* element, GstTaskState state) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kElementMs);
    while (TaskStateOf(element) != state) {
        if (std::chrono::steady_clock::now() > until) {
            return testing::AssertionFailure() << "the streaming task is " << TaskStateOf(element) << ", not " << state
                                               << ", after " << kElementMs << " ms";
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return testing::AssertionSuccess();
}

// While no server serves the share, the streaming thread waits for a frame
// inside the element: a flush must end that wait, and once the flush is over
// the frames of a server that comes later flow.
TEST_F(SourceHarness, FlushEndsTheWaitForAServer) {
    UniqueHarness harness = Source();
    gst_harness_play(harness.get());
    EXPECT_FALSE(gsttest::PullWithin(harness.get(), kQuietMs)) << "a frame without a server";
    ASSERT_EQ(TaskStateOf(harness->element), GST_TASK_STARTED);

    // As an application flushes it: on the element, which restarts its
    // streaming task after the flush.
    ASSERT_TRUE(gsttest::SendEvent(harness->element, gst_event_new_flush_start()));
    EXPECT_TRUE(TaskReaches(harness->element, GST_TASK_PAUSED));
    ASSERT_TRUE(gsttest::SendEvent(harness->element, gst_event_new_flush_stop(TRUE)));
    EXPECT_TRUE(TaskReaches(harness->element, GST_TASK_STARTED));
    EXPECT_FALSE(gsttest::PullWithin(harness.get(), kQuietMs)) << "a frame without a server after the flush";

    auto server = StartServer({"--size", "64x48", "--bpp", "1", "--fps", "50"});
    UniqueBuffer buffer = gsttest::PullWithin(harness.get(), kElementMs);
    ASSERT_TRUE(buffer) << "no frame within " << kElementMs << " ms of the server's start";
    UniqueCaps caps = gsttest::NextCapsWithin(harness.get(), 0);
    ASSERT_TRUE(caps) << "a frame before its caps";
    GstVideoInfo info;
    ASSERT_TRUE(gst_video_info_from_caps(&info, caps.get()));
    EXPECT_EQ(GST_VIDEO_INFO_FORMAT(&info), GST_VIDEO_FORMAT_GRAY8);
    EXPECT_EQ(GeometryOf(caps.get()), (tools::FrameGeometry{64, 48, 1}));
    tools::PatternStamp stamp;
    EXPECT_TRUE(HoldsPatternFrame(buffer.get(), caps.get(), stamp));
}

// A state change to NULL ends the wait too, and with it the streaming task.
TEST_F(SourceHarness, StopEndsTheWaitForAServer) {
    UniqueHarness harness = Source();
    gst_harness_play(harness.get());
    EXPECT_FALSE(gsttest::PullWithin(harness.get(), kQuietMs)) << "a frame without a server";
    EXPECT_TRUE(gsttest::ChangeState(harness->element, GST_STATE_NULL));
    EXPECT_EQ(TaskStateOf(harness->element), GST_TASK_STOPPED);
}

// The buffers and caps in the order the source sends them, as its pad's
// next peer would see them.
class Recorder {
public:
    explicit Recorder(GstElement* element) : pad(gst_element_get_static_pad(element, "src")) {
        probe = gst_pad_add_probe(
            pad, static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
            &Recorder::Seen, this, nullptr);
    }
    ~Recorder() {
        gst_pad_remove_probe(pad, probe);
        gst_object_unref(pad);
    }
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    struct Frame {
        tools::FrameGeometry geometry;  // of the caps in force
        gsize bytes;
    };
    std::vector<Frame> Frames() {
        std::lock_guard<std::mutex> hold(lock);
        return frames;
    }

private:
    static GstPadProbeReturn Seen(GstPad*, GstPadProbeInfo* info, gpointer self) {
        auto* recorder = static_cast<Recorder*>(self);
        std::lock_guard<std::mutex> hold(recorder->lock);
        if ((info->type & GST_PAD_PROBE_TYPE_BUFFER) != 0) {
            recorder->frames.push_back(Frame{recorder->geometry, gst_buffer_get_size(GST_PAD_PROBE_INFO_BUFFER(info))});
            return GST_PAD_PROBE_OK;
        }
        GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
        if (GST_EVENT_TYPE(event) == GST_EVENT_CAPS) {
            GstCaps* caps = nullptr;
            gst_event_parse_caps(event, &caps);
            recorder->geometry = GeometryOf(caps);
        }
        return GST_PAD_PROBE_OK;
    }

    GstPad* pad;
    gulong probe = 0;
    std::mutex lock;
    tools::FrameGeometry geometry;
    std::vector<Frame> frames;
};

// A server that changes its frame size: every buffer has the size of the
// caps sent before it, and the caps follow both sizes.
TEST_F(SourceHarness, CapsFollowTheServersResets) {
    constexpr int kResizeEvery = 8;
    constexpr size_t kFrames = 40;
    auto server =
        StartServer({"--size", "64x48", "--bpp", "3", "--fps", "50", "--resize-every", std::to_string(kResizeEvery)});
    UniqueHarness harness = Source();
    Recorder recorder(harness->element);
    gst_harness_play(harness.get());
    for (size_t i = 0; i < kFrames; ++i) {
        ASSERT_TRUE(gsttest::PullWithin(harness.get(), kElementMs)) << "frame " << i;
    }
    std::set<std::pair<int32_t, int32_t>> sizes;
    const std::vector<Recorder::Frame> frames = recorder.Frames();
    for (size_t i = 0; i < frames.size(); ++i) {
        const Recorder::Frame& frame = frames[i];
        EXPECT_EQ(frame.bytes, static_cast<gsize>(frame.geometry.Bytes())) << "frame " << i;
        EXPECT_EQ(frame.geometry.bytesPerPixel, 3) << "frame " << i;
        sizes.emplace(frame.geometry.width, frame.geometry.height);
    }
    EXPECT_EQ(sizes.size(), 2u) << "the caps did not follow the camera's resets";
}

// A state change may come while the camera's thread copies a frame for the
// element: each must end in time, and frames flow again after it.
TEST_F(SourceHarness, StateChangesWhileFramesArrive) {
    auto server = StartServer({"--size", "640x480", "--bpp", "4", "--fps", "60"});
    UniqueHarness harness = Source();
    gst_harness_play(harness.get());
    constexpr int kRounds = 8;
    uint32_t lastFrame = 0;
    guint64 lastOffset = 0;
    for (int round = 0; round < kRounds * 3; ++round) {
        const GstState state = round % 3 == 0 ? GST_STATE_READY : round % 3 == 1 ? GST_STATE_PAUSED : GST_STATE_NULL;
        SCOPED_TRACE(std::string("round ") + std::to_string(round) + " through " + gst_element_state_get_name(state));
        UniqueBuffer buffer = gsttest::PullWithin(harness.get(), kElementMs);
        ASSERT_TRUE(buffer) << "no frame within " << kElementMs << " ms";
        GstCaps* caps = gst_pad_get_current_caps(harness->sinkpad);
        ASSERT_NE(caps, nullptr);
        tools::PatternStamp stamp;
        EXPECT_TRUE(HoldsPatternFrame(buffer.get(), caps, stamp));
        gst_caps_unref(caps);
        // A host that falls behind the server copies the newest frame once
        // for each announcement waiting in its pipe, so the same frame may
        // come again; an older one may not. The offset is the server's
        // number of the frame.
        EXPECT_GE(stamp.frameNumber, lastFrame)
            << "an old frame after the state change: frame " << lastFrame << " came at offset " << lastOffset
            << ", now offset " << GST_BUFFER_OFFSET(buffer.get());
        lastFrame = stamp.frameNumber;
        lastOffset = GST_BUFFER_OFFSET(buffer.get());
        // Mid-stream: the camera's thread copies the next frame about now.
        ASSERT_TRUE(gsttest::ChangeState(harness->element, state));
        ASSERT_TRUE(gsttest::ChangeState(harness->element, GST_STATE_PLAYING));
    }
}

// While no server answers, the source says so on the bus every few seconds,
// naming the share, and goes on waiting: a server that comes later is
// served.
TEST_F(SourceHarness, WarnsWhileNoServerAnswers) {
    // Warnings come at most this often: every few seconds, not at each of
    // the source's short reads.
    constexpr auto kLeastApart = std::chrono::seconds(1);
    UniqueHarness harness = Source();
    gsttest::BusWatch bus(harness->element);
    gst_harness_play(harness.get());
    gsttest::UniqueMessage first = bus.Next(GST_MESSAGE_WARNING, kElementMs);
    ASSERT_TRUE(first) << "no warning within " << kElementMs << " ms without a server";
    const auto firstAt = std::chrono::steady_clock::now();
    const std::string text = gsttest::TextOf(first.get());
    EXPECT_NE(text.find("\"" + share_ + "\""), std::string::npos) << text;
    EXPECT_NE(text.find("no camera server answers"), std::string::npos) << text;
    gsttest::UniqueMessage second = bus.Next(GST_MESSAGE_WARNING, kElementMs);
    ASSERT_TRUE(second) << "one warning only";
    EXPECT_GE(std::chrono::steady_clock::now() - firstAt, kLeastApart);
    EXPECT_EQ(gsttest::TextOf(second.get()), text);
    EXPECT_FALSE(gsttest::PullWithin(harness.get(), 0)) << "a frame without a server";
    EXPECT_FALSE(bus.Next(GST_MESSAGE_ERROR, 0)) << "an error while waiting for a server";

    auto server = StartServer({"--size", "64x48", "--bpp", "1", "--fps", "50"});
    EXPECT_TRUE(gsttest::PullWithin(harness.get(), kElementMs))
        << "no frame within " << kElementMs << " ms of the server's start";
}

struct ShareRow {
    std::string name;
    std::string share;
};

void PrintTo(const ShareRow& row, std::ostream* out) {
    *out << row.name;
}

class RefusedShare : public SourceHarness, public testing::WithParamInterface<ShareRow> {};

// A share name the driver would not read back as written is refused at
// start, with the words every host shows, and the settings file is left as
// it was: a line break cannot write another camera's section.
TEST_P(RefusedShare, StartFailsWithTheHostsWordsAndTheFileUnchanged) {
    const std::string share = GetParam().share;
    const std::string settingsFile = "Quorvex.ini";
    const std::string before = dir_.Read(settingsFile);
    ASSERT_FALSE(before.empty());
    UniqueHarness harness = Source();
    g_object_set(harness->element, "share", share.c_str(), nullptr);
    gsttest::BusWatch bus(harness->element);
    EXPECT_FALSE(gsttest::ChangeState(harness->element, GST_STATE_PLAYING));
    gsttest::UniqueMessage error = bus.Next(GST_MESSAGE_ERROR, 0);
    ASSERT_TRUE(error) << "no error on the bus";
    EXPECT_EQ(gsttest::TextOf(error.get()), settings_rules::ShareNameRefusal(share));
    EXPECT_EQ(dir_.Read(settingsFile), before);
}

INSTANTIATE_TEST_SUITE_P(Names, RefusedShare,
                         testing::Values(ShareRow{"line_break", "Mine\n[Camera 2]\nPipeName=Theirs"},
                                         ShareRow{"quoted", "\"Mine\""}, ShareRow{"leading_blank", " Mine"},
                                         ShareRow{"trailing_blank", "Mine "},
                                         ShareRow{"bytes_256", std::string(256, 'm')}),
                         RowName());

// A camera opens once in a process: a second source on the camera of a
// playing one fails at start with the words the host library gives any
// host, and the first goes on.
TEST_F(SourceHarness, ASecondSourceOnTheCameraIsRefused) {
    auto server = StartServer({"--size", "64x48", "--bpp", "1", "--fps", "50"});
    UniqueHarness first = Source();
    gst_harness_play(first.get());
    ASSERT_TRUE(gsttest::PullWithin(first.get(), kElementMs)) << "no frame within " << kElementMs << " ms";

    const testsupport::UniqueHost host(QuorvexHostOpen(nullptr, dir_.Path().c_str()));
    ASSERT_TRUE(host) << QuorvexHostLastError();
    const QuorvexHostCameraOptions options{2, 1, 1};
    ASSERT_EQ(QuorvexHostCameraOpen(host.get(), "Camera 1", &options), nullptr);
    const std::string refusal = QuorvexHostLastError();

    UniqueHarness second = Source();
    g_object_set(second->element, "port", 2, nullptr);
    gsttest::BusWatch bus(second->element);
    EXPECT_FALSE(gsttest::ChangeState(second->element, GST_STATE_PLAYING));
    gsttest::UniqueMessage error = bus.Next(GST_MESSAGE_ERROR, 0);
    ASSERT_TRUE(error) << "no error on the bus";
    EXPECT_EQ(gsttest::TextOf(error.get()), refusal);
    EXPECT_NE(refusal.find("Camera 1 is open already"), std::string::npos) << refusal;
    while (UniqueBuffer(gst_harness_try_pull(first.get()))) {
    }
    EXPECT_TRUE(gsttest::PullWithin(first.get(), kElementMs)) << "the first source stopped";
}

// The offsets and the DISCONT flags of the buffers a source gives.
struct Numbered {
    guint64 offset;
    bool discont;
    GstClockTime pts;
};

std::vector<Numbered> PullNumbered(GstHarness* harness, size_t count) {
    std::vector<Numbered> buffers;
    while (buffers.size() < count) {
        UniqueBuffer buffer = gsttest::PullWithin(harness, kElementMs);
        if (!buffer) {
            ADD_FAILURE() << "no frame within " << kElementMs << " ms after " << buffers.size();
            break;
        }
        buffers.push_back(Numbered{GST_BUFFER_OFFSET(buffer.get()),
                                   GST_BUFFER_FLAG_IS_SET(buffer.get(), GST_BUFFER_FLAG_DISCONT),
                                   GST_BUFFER_PTS(buffer.get())});
    }
    return buffers;
}

// A server that numbers its frames and skips none, holding its first frame
// until the source's camera can take it: the offsets are the server's
// numbers 1, 2, 3 ..., and only the first buffer is a discontinuity.
TEST_F(SourceHarness, OffsetsAreTheServersNumbers) {
    constexpr size_t kFrames = 30;
    UniqueHarness harness = Source();
    gst_harness_play(harness.get());
    auto server = StartServer({"--size", "64x48", "--bpp", "1", "--fps", "50", "--wait-for-hosts", "1"});
    const std::vector<Numbered> buffers = PullNumbered(harness.get(), kFrames);
    for (size_t i = 0; i < buffers.size(); ++i) {
        EXPECT_EQ(buffers[i].offset, i + 1) << "buffer " << i;
        EXPECT_EQ(buffers[i].discont, i == 0) << "buffer " << i << ", offset " << buffers[i].offset;
    }
}

// A server that leaves out every fifth number: each buffer after a number
// left out is a discontinuity and its offset jumps by two; no other buffer
// but the first is.
TEST_F(SourceHarness, ANumberLeftOutIsADiscontinuity) {
    constexpr size_t kFrames = 30;
    constexpr guint64 kSkipEvery = 4;
    UniqueHarness harness = Source();
    gst_harness_play(harness.get());
    auto server = StartServer({"--size", "64x48", "--bpp", "1", "--fps", "50", "--wait-for-hosts", "1", "--skip-every",
                               std::to_string(kSkipEvery)});
    const std::vector<Numbered> buffers = PullNumbered(harness.get(), kFrames);
    ASSERT_EQ(buffers.size(), kFrames);
    EXPECT_EQ(buffers[0].offset, 1u);
    EXPECT_TRUE(buffers[0].discont);
    size_t jumps = 0;
    for (size_t i = 1; i < buffers.size(); ++i) {
        const guint64 step = buffers[i].offset - buffers[i - 1].offset;
        const bool skipped = buffers[i - 1].offset % (kSkipEvery + 1) == kSkipEvery;
        EXPECT_EQ(step, skipped ? 2u : 1u) << "buffer " << i << ", offset " << buffers[i].offset;
        EXPECT_EQ(buffers[i].discont, skipped) << "buffer " << i << ", offset " << buffers[i].offset;
        jumps += skipped ? 1 : 0;
    }
    EXPECT_EQ(jumps, (kFrames - 1) / kSkipEvery) << "numbers left out";
}

struct ServerDestroyer {
    void operator()(QuorvexServer* server) const noexcept { QuorvexServerDestroy(server); }
};

// With timestamps=capture, the PTS follow the capture times the server
// gives, not the arrival: frames published 30 ms apart but captured 10 ms
// apart are 10 ms apart in PTS; with the default, they are as far apart as
// they came.
TEST_F(SourceHarness, CaptureTimestampsFollowTheServersCaptureTimes) {
    constexpr int kWidth = 64;
    constexpr int kHeight = 48;
    constexpr size_t kTimed = 10;
    constexpr long long kCapturedApartUs = 10000;
    constexpr auto kPublishedApart = std::chrono::milliseconds(30);
    // The capture times are carried to the microsecond and arrivals follow
    // publishing within a few milliseconds; the spans of the two modes
    // differ by 180 ms or more.
    constexpr GstClockTime kSpanBound = 45 * GST_MSECOND;
    constexpr GstClockTime kCapturedSpan = (kTimed - 1) * kCapturedApartUs * GST_USECOND;

    for (const char* mode : {"capture", "arrival"}) {
        SCOPED_TRACE(std::string("timestamps=") + mode);
        const std::string share = toolstest::UniqueShare();
        const std::unique_ptr<QuorvexServer, ServerDestroyer> server(
            QuorvexServerCreate(share.c_str(), kWidth * kHeight, 1));
        ASSERT_TRUE(server) << QuorvexServerLastError(nullptr);
        ASSERT_EQ(QuorvexServerSetDimensions(server.get(), kWidth, kHeight, 1), 0);
        UniqueHarness harness = Source();
        gst_util_set_object_arg(G_OBJECT(harness->element), "timestamps", mode);
        g_object_set(harness->element, "share", share.c_str(), nullptr);
        gst_harness_play(harness.get());

        // Frames stamped with their publishing until the camera takes one.
        const std::vector<uint8_t> pixels(kWidth * kHeight, 0x80);
        long long published = 0;
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kElementMs);
        int reached = 0;
        while (reached < 1 && std::chrono::steady_clock::now() < until) {
            reached = QuorvexServerPublishFrame(server.get(), pixels.data(), static_cast<int>(pixels.size()));
            ++published;
            std::this_thread::sleep_for(kPublishedApart);
        }
        ASSERT_EQ(reached, 1) << "no camera within " << kElementMs << " ms";
        // The running time has to exceed the frames' ages for their capture
        // to lie after the start.
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        const long long firstCaptureUs = QuorvexServerClockMicroseconds() - 50000;
        std::vector<std::chrono::steady_clock::time_point> publishedAt;
        for (size_t i = 0; i < kTimed; ++i) {
            publishedAt.push_back(std::chrono::steady_clock::now());
            ASSERT_EQ(QuorvexServerPublishFrameAt(server.get(), pixels.data(), static_cast<int>(pixels.size()),
                                                  firstCaptureUs + static_cast<long long>(i) * kCapturedApartUs),
                      1)
                << "frame " << i;
            std::this_thread::sleep_for(kPublishedApart);
        }

        std::vector<GstClockTime> timed;
        GstClockTime last = 0;
        while (timed.size() < kTimed) {
            UniqueBuffer buffer = gsttest::PullWithin(harness.get(), kElementMs);
            ASSERT_TRUE(buffer) << "no frame within " << kElementMs << " ms after " << timed.size() << " timed";
            const GstClockTime pts = GST_BUFFER_PTS(buffer.get());
            ASSERT_TRUE(GST_CLOCK_TIME_IS_VALID(pts));
            EXPECT_GE(pts, last) << "the PTS went back";
            last = pts;
            if (static_cast<long long>(GST_BUFFER_OFFSET(buffer.get())) > published) {
                EXPECT_EQ(GST_BUFFER_OFFSET(buffer.get()), static_cast<guint64>(published) + timed.size() + 1);
                timed.push_back(pts);
            }
        }
        const GstClockTime span = timed.back() - timed.front();
        const GstClockTime expected =
            std::string(mode) == "capture"
                ? kCapturedSpan
                : static_cast<GstClockTime>(std::chrono::nanoseconds(publishedAt.back() - publishedAt.front()).count());
        EXPECT_LT(span > expected ? span - expected : expected - span, kSpanBound)
            << "the timed frames span " << span / GST_USECOND << " us, not about " << expected / GST_USECOND << " us";
    }
}

}  // namespace
