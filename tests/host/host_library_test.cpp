// The host library's cameras: frames read into the caller's row layout, the
// newest-wins queue, one driver and one open per camera in a process, and
// what a read says when no frame comes.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <regex>
#include <string>
#include <thread>

#include "host_fixture.h"
#include "support/background_call.h"
#include "support/child_process.h"
#include "support/row_name.h"
#include "support/scripted_camera.h"

namespace hosttests {
namespace {

// Which frame `frame` is, checking every byte of every row and that the
// padding keeps the pitch asked for; 0 when a byte is wrong.
uint32_t SeedOf(const QuorvexHostFrame& frame, int rowAlignment) {
    const int rowBytes = frame.width * frame.bytesPerPixel;
    const int pitch = (rowBytes + rowAlignment - 1) / rowAlignment * rowAlignment;
    if (frame.rowPitch != pitch) {
        return 0;
    }
    for (uint32_t seed = 1; seed < 256; ++seed) {
        bool same = true;
        for (int row = 0; same && row < frame.height; ++row) {
            const unsigned char* bytes = frame.pixels + static_cast<ptrdiff_t>(row) * frame.rowPitch;
            for (int at = 0; same && at < rowBytes; ++at) {
                same = bytes[at] == PixelByte(seed, row, at);
            }
        }
        if (same) {
            return seed;
        }
    }
    return 0;
}

struct PitchRow {
    std::string name;
    int width;
    int height;
    int bytesPerPixel;
    int rowAlignment;
};

class RowPitch : public HostTest, public testing::WithParamInterface<PitchRow> {};

TEST_P(RowPitch, RowsLandAtTheCallersPitch) {
    const PitchRow& row = GetParam();
    Server server(row.width, row.height, row.bytesPerPixel);
    ASSERT_TRUE(server.Up());
    QuorvexHostCamera* camera = OpenOn(server.Share(), "Camera 3", {4, 1, row.rowAlignment});
    ASSERT_NE(nullptr, camera);
    int width = 0;
    int height = 0;
    QuorvexHostCameraOpenedSize(camera, &width, &height);
    EXPECT_EQ(row.width, width);
    EXPECT_EQ(row.height, height);

    ASSERT_TRUE(Deliver(server, camera, 7));
    QuorvexHostFrame frame{};
    ASSERT_EQ(QUORVEX_HOST_FRAME, QuorvexHostCameraRead(camera, kWaitMs, &frame)) << QuorvexHostLastError();
    EXPECT_EQ(row.width, frame.width);
    EXPECT_EQ(row.height, frame.height);
    EXPECT_EQ(row.bytesPerPixel, frame.bytesPerPixel);
    const int rowBytes = row.width * row.bytesPerPixel;
    EXPECT_EQ((rowBytes + row.rowAlignment - 1) / row.rowAlignment * row.rowAlignment, frame.rowPitch);
    EXPECT_EQ(7u, SeedOf(frame, row.rowAlignment));
    QuorvexHostCameraRelease(camera, &frame);
    QuorvexHostCameraClose(camera);
}

INSTANTIATE_TEST_SUITE_P(Layouts, RowPitch,
                         testing::Values(PitchRow{"gray_321_packed", 321, 241, 1, 1},
                                         PitchRow{"gray_321_by_4", 321, 241, 1, 4},
                                         PitchRow{"gray_322_by_4", 322, 240, 1, 4},
                                         PitchRow{"rgb_321_by_4", 321, 241, 3, 4},
                                         PitchRow{"rgba_13_by_64", 13, 5, 4, 64}),
                         RowName());

TEST_F(HostTest, FramesCarryTheServersNumbersTimesAndGaps) {
    Server server(24, 6, 1);
    ASSERT_TRUE(server.Up());
    QuorvexHostCamera* camera = OpenOn(server.Share(), "Camera 2", {2, 8, 1});
    ASSERT_NE(nullptr, camera);
    // Once one frame has come, every later one is announced to the camera.
    ASSERT_TRUE(Deliver(server, camera, 1));
    // Frame 1 may have been published, and taken, more than once: the last
    // one taken is where the numbers go on from.
    long long firstNumber = 0;
    long long lastCapture = 0;
    QuorvexHostFrame first{};
    while (QuorvexHostCameraRead(camera, 0, &first) == QUORVEX_HOST_FRAME) {
        firstNumber = first.serverNumber;
        lastCapture = first.captureUs;
        QuorvexHostCameraRelease(camera, &first);
    }
    EXPECT_GE(firstNumber, 1);
    const long long lostBefore = Counters(camera).lost;

    const int skips[] = {0, 0, 2, 0, 1};
    long long expected = firstNumber;
    for (uint32_t seed = 2; seed < 2 + sizeof skips / sizeof skips[0]; ++seed) {
        const int skip = skips[seed - 2];
        ASSERT_EQ(0, QuorvexServerSkipFrames(server.Get(), skip));
        ASSERT_TRUE(server.Publish(seed));
        expected += skip + 1;
        QuorvexHostFrame frame{};
        ASSERT_EQ(QUORVEX_HOST_FRAME, QuorvexHostCameraRead(camera, kWaitMs, &frame)) << QuorvexHostLastError();
        EXPECT_EQ(seed, SeedOf(frame, 1));
        EXPECT_EQ(expected, frame.serverNumber) << "frame " << seed;
        EXPECT_EQ(skip, frame.gap) << "frame " << seed;
        EXPECT_GT(frame.captureUs, lastCapture);
        EXPECT_GE(frame.arrivedRealUs, frame.captureUs);
        EXPECT_LT(frame.arrivedRealUs - frame.captureUs, 1000000) << "older than a second on arrival";
        lastCapture = frame.captureUs;
        QuorvexHostCameraRelease(camera, &frame);
    }
    EXPECT_EQ(lostBefore + 3, Counters(camera).lost);
    QuorvexHostCameraClose(camera);
}

TEST_F(HostTest, AFrameTheDriverGivesTwiceIsQueuedOnce) {
    testsupport::ServerFaults faults;
    faults.stamps = true;
    faults.announceTwice = true;
    const std::string share = testsupport::UniqueName("twice");
    testsupport::ScriptedCamera server(share, faults);
    ASSERT_TRUE(server.Start());
    QuorvexHostCamera* camera = OpenOn(share, "Camera 3", {3, 64, 1});
    ASSERT_NE(nullptr, camera);
    long long previous = 0;
    for (int frames = 0; frames < 5; ++frames) {
        QuorvexHostFrame frame{};
        ASSERT_EQ(QUORVEX_HOST_FRAME, QuorvexHostCameraRead(camera, kWaitMs, &frame)) << QuorvexHostLastError();
        EXPECT_GT(frame.serverNumber, previous);
        previous = frame.serverNumber;
        QuorvexHostCameraRelease(camera, &frame);
    }
    const QuorvexHostCounters counters = Counters(camera);
    EXPECT_GE(counters.repeated, 4) << "each frame after the first comes twice";
    EXPECT_EQ(0, counters.lost);
    QuorvexHostCameraClose(camera);
}

TEST_F(HostTest, AFullQueueKeepsTheNewestFrames) {
    Server server(16, 8, 1);
    ASSERT_TRUE(server.Up());
    QuorvexHostCamera* camera = OpenOn(server.Share(), "Camera 1", {1, 2, 1});
    ASSERT_NE(nullptr, camera);
    for (uint32_t seed = 1; seed <= 5; ++seed) {
        ASSERT_TRUE(Deliver(server, camera, seed));
    }
    const QuorvexHostCounters counters = Counters(camera);
    // Frames published again while the link settled arrive more than once;
    // all but the last two were replaced unread.
    EXPECT_EQ(counters.received - 2, counters.replaced);

    QuorvexHostFrame older{};
    QuorvexHostFrame newer{};
    ASSERT_EQ(QUORVEX_HOST_FRAME, QuorvexHostCameraRead(camera, kWaitMs, &older)) << QuorvexHostLastError();
    ASSERT_EQ(QUORVEX_HOST_FRAME, QuorvexHostCameraRead(camera, kWaitMs, &newer)) << QuorvexHostLastError();
    EXPECT_EQ(5u, SeedOf(newer, 1));
    EXPECT_GE(SeedOf(older, 1), 4u);
    EXPECT_LT(older.number, newer.number);
    EXPECT_EQ(counters.received, newer.number);
    // Nothing more waits.
    QuorvexHostFrame none{};
    EXPECT_EQ(QUORVEX_HOST_NOTHING_YET, QuorvexHostCameraRead(camera, 0, &none));
    QuorvexHostCameraRelease(camera, &older);
    QuorvexHostCameraRelease(camera, &newer);
    QuorvexHostCameraClose(camera);
}

TEST_F(HostTest, AReadWithoutAServerNamesTheShare) {
    QuorvexHostSettings settings{"nobody serves this share", QUORVEX_HOST_KEEP, 100};
    ASSERT_EQ(1, QuorvexHostWriteSettings(host_, "Camera 2", &settings)) << QuorvexHostLastError();
    QuorvexHostCamera* camera = QuorvexHostCameraOpen(host_, "Camera 2", nullptr);
    ASSERT_NE(nullptr, camera) << QuorvexHostLastError();
    QuorvexHostFrame frame{};
    EXPECT_EQ(QUORVEX_HOST_NO_SERVER, QuorvexHostCameraRead(camera, 100, &frame));
    EXPECT_EQ(QUORVEX_HOST_LINK_NO_SERVER, QuorvexHostCameraLinkState(camera));
    EXPECT_NE(
        std::string::npos,
        std::string(QuorvexHostLastError()).find("no camera server answers on the share \"nobody serves this share\""))
        << QuorvexHostLastError();
    QuorvexHostCameraClose(camera);
}

TEST_F(HostTest, AStalledServerIsNothingYet) {
    Server server(16, 8, 1);
    ASSERT_TRUE(server.Up());
    PointAt("Camera 1", server.Share());
    QuorvexHostCamera* camera = QuorvexHostCameraOpen(host_, "Camera 1", nullptr);
    ASSERT_NE(nullptr, camera) << QuorvexHostLastError();
    QuorvexHostFrame frame{};
    EXPECT_EQ(QUORVEX_HOST_NOTHING_YET, QuorvexHostCameraRead(camera, 100, &frame)) << QuorvexHostLastError();
    EXPECT_NE(std::string::npos, std::string(QuorvexHostLastError()).find(server.Share()));
    QuorvexHostCameraClose(camera);
}

TEST_F(HostTest, AServersStopEndsTheStream) {
    Server server(16, 8, 1);
    ASSERT_TRUE(server.Up());
    PointAt("Camera 1", server.Share());
    QuorvexHostCamera* camera = QuorvexHostCameraOpen(host_, "Camera 1", nullptr);
    ASSERT_NE(nullptr, camera) << QuorvexHostLastError();
    ASSERT_TRUE(Deliver(server, camera, 1));
    QuorvexHostFrame frame{};
    ASSERT_EQ(QUORVEX_HOST_FRAME, QuorvexHostCameraRead(camera, kWaitMs, &frame)) << QuorvexHostLastError();
    QuorvexHostCameraRelease(camera, &frame);
    EXPECT_EQ(QUORVEX_HOST_LINK_CONNECTED, QuorvexHostCameraLinkState(camera));
    ASSERT_NE(0, QuorvexServerSendStop(server.Get()));
    // Until the link has read the Stop, the server is only silent.
    int result = QUORVEX_HOST_NOTHING_YET;
    ASSERT_TRUE(WaitUntil(
        [&] {
            result = QuorvexHostCameraRead(camera, 10, &frame);
            return result != QUORVEX_HOST_NOTHING_YET;
        },
        kWaitMs));
    EXPECT_EQ(QUORVEX_HOST_ENDED, result) << QuorvexHostLastError();
    EXPECT_EQ("the server of the share \"" + server.Share() + "\" ended the stream (Stop)",
              std::string(QuorvexHostLastError()));
    // Told apart from an end the driver chose.
    EXPECT_EQ(QUORVEX_HOST_LINK_STOPPED, QuorvexHostCameraLinkState(camera));
    QuorvexHostCameraClose(camera);
    EXPECT_EQ(-1, QuorvexHostCameraLinkState(nullptr));
}

// A read that waits, with a long time-out or none, returns once the server
// has stopped the stream, not at the end of its wait: no frame can come.
TEST_F(HostTest, AWaitingReadReturnsWhenTheServerStops) {
    Server server(16, 8, 1);
    ASSERT_TRUE(server.Up());
    PointAt("Camera 1", server.Share());
    QuorvexHostCamera* camera = QuorvexHostCameraOpen(host_, "Camera 1", nullptr);
    ASSERT_NE(nullptr, camera) << QuorvexHostLastError();
    ASSERT_TRUE(Deliver(server, camera, 1));
    QuorvexHostFrame frame{};
    ASSERT_EQ(QUORVEX_HOST_FRAME, QuorvexHostCameraRead(camera, kWaitMs, &frame)) << QuorvexHostLastError();
    QuorvexHostCameraRelease(camera, &frame);
    for (const int timeoutMs : {50000, -1}) {
        testsupport::BackgroundCall<int> read("a read of " + std::to_string(timeoutMs) + " ms", [camera, timeoutMs] {
            QuorvexHostFrame none{};
            return QuorvexHostCameraRead(camera, timeoutMs, &none);
        });
        if (timeoutMs > 0) {
            EXPECT_FALSE(read.Wait(200).has_value()) << "the read returned before the Stop";
            ASSERT_NE(0, QuorvexServerSendStop(server.Get()));
        }
        const std::optional<int> result = read.Wait(kWaitMs);
        ASSERT_TRUE(result.has_value()) << "a read of " << timeoutMs << " ms went on after the Stop";
        EXPECT_EQ(QUORVEX_HOST_ENDED, *result);
    }
    QuorvexHostCameraClose(camera);
}

TEST_F(HostTest, ASecondHostWithAnotherFolderIsRefused) {
    testsupport::TempDir other;
    QuorvexHost* second = QuorvexHostOpen(nullptr, other.Path().c_str());
    EXPECT_EQ(nullptr, second);
    const std::string error = QuorvexHostLastError();
    EXPECT_NE(std::string::npos, error.find("the driver keeps one settings folder for the whole process")) << error;
    EXPECT_NE(std::string::npos, error.find(other.Path())) << error;
    QuorvexHostClose(second);

    // The same folder is shared.
    QuorvexHost* same = QuorvexHostOpen(nullptr, dir_.Path().c_str());
    ASSERT_NE(nullptr, same) << QuorvexHostLastError();
    QuorvexHostClose(same);
}

TEST_F(HostTest, ACameraOpenInTheProcessIsRefusedOnAnyPort) {
    Server server(16, 8, 1);
    ASSERT_TRUE(server.Up());
    PointAt("Camera 1", server.Share());
    QuorvexHost* second = QuorvexHostOpen(nullptr, dir_.Path().c_str());
    ASSERT_NE(nullptr, second) << QuorvexHostLastError();
    const QuorvexHostCameraOptions first{1, 1, 1};
    QuorvexHostCamera* camera = QuorvexHostCameraOpen(host_, "Camera 1", &first);
    ASSERT_NE(nullptr, camera) << QuorvexHostLastError();

    const QuorvexHostCameraOptions otherPort{2, 1, 1};
    for (QuorvexHost* asking : {host_, second}) {
        EXPECT_EQ(nullptr, QuorvexHostCameraOpen(asking, "Camera 1", &otherPort));
        EXPECT_STREQ("Camera 1 is open already, on port 1; a camera is opened once in a process",
                     QuorvexHostLastError());
    }
    // Its settings are not changed under it either.
    const std::string written = dir_.Read("Quorvex.ini");
    const QuorvexHostSettings elsewhere{"another share", QUORVEX_HOST_KEEP, QUORVEX_HOST_KEEP};
    EXPECT_EQ(0, QuorvexHostWriteSettings(second, "Camera 1", &elsewhere));
    EXPECT_STREQ("Camera 1 is open already, on port 1; a camera is opened once in a process", QuorvexHostLastError());
    EXPECT_EQ(written, dir_.Read("Quorvex.ini"));
    // Another camera on the port taken.
    EXPECT_EQ(nullptr, QuorvexHostCameraOpen(second, "Camera 2", &first));
    EXPECT_STREQ("port 1 holds Camera 1 already", QuorvexHostLastError());

    // Frames still reach the first open.
    ASSERT_TRUE(Deliver(server, camera, 3));
    QuorvexHostCameraClose(camera);
    // Closed, it may be opened again, from the other host.
    QuorvexHostCamera* again = QuorvexHostCameraOpen(second, "Camera 1", &otherPort);
    ASSERT_NE(nullptr, again) << QuorvexHostLastError();
    ASSERT_TRUE(Deliver(server, again, 4));
    QuorvexHostClose(second);
}

TEST_F(HostTest, PropertiesAreTheDriversForTheCamerasPort) {
    Server server(16, 8, 3);
    ASSERT_TRUE(server.Up());
    QuorvexHostCamera* camera = OpenOn(server.Share(), "Camera 5", {7, 1, 1});
    ASSERT_NE(nullptr, camera);
    int width = 0;
    int height = 0;
    int bits = 0;
    int linkState = -1;
    EXPECT_EQ(1, QuorvexHostCameraProperty(camera, "Width", &width));
    EXPECT_EQ(1, QuorvexHostCameraProperty(camera, "Height", &height));
    EXPECT_EQ(1, QuorvexHostCameraProperty(camera, "PixelSize", &bits));
    EXPECT_EQ(1, QuorvexHostCameraProperty(camera, "LinkState", &linkState));
    EXPECT_EQ(16, width);
    EXPECT_EQ(8, height);
    EXPECT_EQ(24, bits);
    EXPECT_EQ(1, linkState);
    // The size follows the server before any frame is read.
    ASSERT_NE(0, QuorvexServerSetDimensions(server.Get(), 4, 2, 1));
    EXPECT_TRUE(
        WaitUntil([&] { return QuorvexHostCameraProperty(camera, "Width", &width) == 1 && width == 4; }, kWaitMs));
    int value = 0;
    EXPECT_EQ(0, QuorvexHostCameraProperty(camera, "NoSuchProperty", &value));
    EXPECT_EQ(0, QuorvexHostCameraProperty(camera, nullptr, &value));
    EXPECT_EQ(0, QuorvexHostCameraProperty(nullptr, "Width", &value));
    QuorvexHostCameraClose(camera);
}

TEST_F(HostTest, ResetsAreFollowed) {
    Server server(16, 8, 1);
    ASSERT_TRUE(server.Up());
    PointAt("Camera 1", server.Share());
    QuorvexHostCamera* camera = QuorvexHostCameraOpen(host_, "Camera 1", nullptr);
    ASSERT_NE(nullptr, camera) << QuorvexHostLastError();
    ASSERT_TRUE(Deliver(server, camera, 1));
    const long long resetsBefore = Counters(camera).resets;
    ASSERT_NE(0, QuorvexServerSetDimensions(server.Get(), 8, 4, 2));
    const std::vector<uint8_t> small = MakeFrame(8, 4, 2, 9);
    ASSERT_TRUE(WaitUntil(
        [&] {
            QuorvexServerPublishFrame(server.Get(), small.data(), static_cast<int>(small.size()));
            QuorvexHostFrame frame{};
            if (QuorvexHostCameraRead(camera, 200, &frame) != QUORVEX_HOST_FRAME) {
                return false;
            }
            const bool resized = frame.width == 8 && frame.height == 4 && frame.bytesPerPixel == 2;
            const bool intact = !resized || SeedOf(frame, 1) == 9;
            QuorvexHostCameraRelease(camera, &frame);
            EXPECT_TRUE(intact);
            return resized;
        },
        kWaitMs));
    EXPECT_GT(Counters(camera).resets, resetsBefore);
    QuorvexHostCameraClose(camera);
}

// A driver that cannot be loaded, in a process of its own: once a process
// has loaded the driver, it keeps that one.
const bool kLoadMissing = testsupport::RegisterChildVerb("load-missing", [](const std::vector<std::string>& args) {
    QuorvexHost* host = QuorvexHostOpen(args.at(0).c_str(), args.at(1).c_str());
    std::fputs(QuorvexHostLastError(), stdout);
    std::fflush(stdout);
    return host == nullptr ? 0 : 1;
});

// A system error's number without the system's words for it: "(system
// error 126)". Windows' own form, "(system error 126: Module not found.)",
// carries them.
bool HasBareNumber(const std::string& text) {
    return std::regex_search(text, std::regex("system error [0-9]+\\)"));
}

TEST(HostLoading, ADriverThatCannotBeLoadedIsReportedInTheSystemsWords) {
    testsupport::TempDir dir;
    const std::string missing = dir.File("no-such-driver");
    ASSERT_EQ(0, RunChild("load-missing", {missing, dir.Path()}, dir.File("out.txt")));
    const std::string said = dir.Read("out.txt");
    EXPECT_EQ(0u, said.find("cannot load the driver \"" + missing + "\": ")) << said;
    EXPECT_FALSE(HasBareNumber(said)) << said;
    // The system's own sentence, not a number alone.
    EXPECT_GT(said.size(), missing.size() + 40) << said;

    dir.Write("not-a-driver", "text, not a library");
    ASSERT_EQ(0, RunChild("load-missing", {dir.File("not-a-driver"), dir.Path()}, dir.File("out2.txt")));
    EXPECT_FALSE(HasBareNumber(dir.Read("out2.txt"))) << dir.Read("out2.txt");
    EXPECT_GT(dir.Read("out2.txt").size(), dir.File("not-a-driver").size() + 40) << dir.Read("out2.txt");
}

}  // namespace
}  // namespace hosttests
