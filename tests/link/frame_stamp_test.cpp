// The camera-server library's frame numbers and capture times, as a client
// reads them: the ImageReady's param and the stamp after the frame, read
// under the mutex with the frame.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ostream>
#include <vector>

#include "link/shared_memory.h"
#include "link_test_support.h"

namespace {

using linktest::ConnectClient;
using linktest::Pattern;
using linktest::ReadMessage;
using linktest::StartServer;
using linktest::UniqueName;

constexpr int64_t kSecondUs = 1000000;

// A client of one share that reads each announced frame's number and stamp.
class StampReader {
public:
    testing::AssertionResult Attach(const std::string& name, QuorvexServer* server, DimensionsBlock& dimensions) {
        if (!ConnectClient(channel, name, server, 1)) {
            return testing::AssertionFailure() << "no connection";
        }
        if (!linktest::AskDimensions(channel, dimensions)) {
            return testing::AssertionFailure() << "no dimensions";
        }
        frameBytes = int64_t{dimensions.width} * dimensions.height * dimensions.bytesPerPixel;
        return segment.Open(name) ? testing::AssertionSuccess() : testing::AssertionFailure() << "no segment";
    }

    // Reads the next ImageReady and the stamp after the frame.
    testing::AssertionResult Next(MessageHeader& header, FrameStamp& stamp) {
        if (!ReadMessage(channel, &header)) {
            return testing::AssertionFailure() << "no header";
        }
        if (header.type != ImageReady) {
            return testing::AssertionFailure() << "header type " << header.type;
        }
        platform::MutexHold hold;
        if (segment.Acquire(static_cast<int32_t>(frameBytes), nullptr, hold) != CSharedMemory::ReadStatus::Held) {
            return testing::AssertionFailure() << "mutex not taken";
        }
        std::memset(&stamp, 0xA5, sizeof stamp);
        if (!segment.ReadStamp(frameBytes, stamp)) {
            return testing::AssertionFailure() << "no room for a stamp after " << frameBytes << " bytes";
        }
        return testing::AssertionSuccess();
    }

    NamedPipeChannel channel;
    CSharedMemory segment;
    int64_t frameBytes = 0;
};

TEST(FrameStampTest, FramesAreNumberedFromOneAndStampedWhenPublished) {
    const std::string name = UniqueName("stamps");
    // A segment exactly one frame long still has the stamp's room.
    linktest::ServerPtr server = StartServer(name, 8 * 4 * 3, 1);
    ASSERT_NE(server, nullptr);
    ASSERT_EQ(0, QuorvexServerSetDimensions(server.get(), 8, 4, 3));
    StampReader reader;
    DimensionsBlock dimensions{};
    ASSERT_TRUE(reader.Attach(name, server.get(), dimensions));
    int64_t previous = 0;
    for (int32_t expected = 1; expected <= 5; ++expected) {
        const std::vector<uint8_t> frame = Pattern(8 * 4 * 3, expected);
        const int64_t before = StampClockMicroseconds();
        ASSERT_EQ(1, QuorvexServerPublishFrameEx(server.get(), frame.data(), 8, 4, 8 * 3, QUORVEX_FORMAT_RGB24));
        const int64_t after = StampClockMicroseconds();
        MessageHeader header{};
        FrameStamp stamp{};
        ASSERT_TRUE(reader.Next(header, stamp)) << "frame " << expected;
        EXPECT_EQ(expected, header.param);
        EXPECT_EQ(kFrameStampMark, stamp.mark);
        EXPECT_EQ(kFrameStampVersion, stamp.version);
        EXPECT_EQ(static_cast<uint32_t>(expected), stamp.number);
        EXPECT_EQ(0u, stamp.reserved);
        EXPECT_TRUE(StampAnnounced(stamp, header.param));
        EXPECT_GE(stamp.captureMicroseconds, before);
        EXPECT_LE(stamp.captureMicroseconds, after);
        EXPECT_GT(stamp.captureMicroseconds, previous);
        previous = stamp.captureMicroseconds;
    }
}

TEST(FrameStampTest, CaptureTimeAndSkippedNumbersComeFromTheCaller) {
    const std::string name = UniqueName("stampsat");
    linktest::ServerPtr server = StartServer(name, 4096, 1);
    ASSERT_NE(server, nullptr);
    ASSERT_EQ(0, QuorvexServerSetDimensions(server.get(), 16, 16, 1));
    StampReader reader;
    DimensionsBlock dimensions{};
    ASSERT_TRUE(reader.Attach(name, server.get(), dimensions));
    const std::vector<uint8_t> frame = Pattern(16 * 16, 1);
    const long long captured = QuorvexServerClockMicroseconds() - 250000;
    EXPECT_LT(std::llabs(QuorvexServerClockMicroseconds() - StampClockMicroseconds()), kSecondUs);

    // A raw frame longer than the announced one: the stamp lies where the
    // client reads it, after the announced frame.
    const std::vector<uint8_t> longer = Pattern(16 * 16 + 100, 2);
    ASSERT_EQ(1, QuorvexServerPublishFrameAt(server.get(), longer.data(), static_cast<int>(longer.size()), captured));
    MessageHeader header{};
    FrameStamp stamp{};
    ASSERT_TRUE(reader.Next(header, stamp));
    EXPECT_EQ(1, header.param);
    EXPECT_EQ(1u, stamp.number);
    EXPECT_EQ(captured, stamp.captureMicroseconds);

    EXPECT_EQ(-1, QuorvexServerSkipFrames(server.get(), -1));
    EXPECT_EQ(0, QuorvexServerSkipFrames(server.get(), 3));
    ASSERT_EQ(
        1, QuorvexServerPublishFrameExAt(server.get(), frame.data(), 16, 16, 16, QUORVEX_FORMAT_GRAY8, captured + 1));
    ASSERT_TRUE(reader.Next(header, stamp));
    EXPECT_EQ(5, header.param) << "numbers 2, 3 and 4 are left out";
    EXPECT_EQ(5u, stamp.number);
    EXPECT_EQ(captured + 1, stamp.captureMicroseconds);

    ASSERT_EQ(1, QuorvexServerPublishFrame(server.get(), frame.data(), 16 * 16));
    ASSERT_TRUE(reader.Next(header, stamp));
    EXPECT_EQ(6u, stamp.number);
    EXPECT_LT(std::llabs(stamp.captureMicroseconds - StampClockMicroseconds()), kSecondUs);
}

// Rows: a stamp as it may be met, and whether a client takes it as the
// announced frame's.
struct StampRow {
    const char* name;
    FrameStamp stamp;
    int32_t param;
    bool announced;
};

void PrintTo(const StampRow& row, std::ostream* out) {
    *out << row.name;
}

class StampAnnouncedTest : public testing::TestWithParam<StampRow> {};

TEST_P(StampAnnouncedTest, Judges) {
    EXPECT_EQ(GetParam().announced, StampAnnounced(GetParam().stamp, GetParam().param));
}

INSTANTIATE_TEST_SUITE_P(Rows, StampAnnouncedTest,
                         testing::Values(StampRow{"same_number", {kFrameStampMark, 1, 7, 0, 5}, 7, true},
                                         StampRow{"published_again_since", {kFrameStampMark, 1, 9, 0, 5}, 7, true},
                                         StampRow{"later_version", {kFrameStampMark, 2, 7, 0, 5}, 7, true},
                                         StampRow{"wrapped", {kFrameStampMark, 1, 1, 0, 5}, -1, true},
                                         StampRow{"no_mark", {0, 1, 7, 0, 5}, 7, false},
                                         StampRow{"version_zero", {kFrameStampMark, 0, 7, 0, 5}, 7, false},
                                         StampRow{"plain_server_param", {kFrameStampMark, 1, 7, 0, 5}, 0, false},
                                         StampRow{"older_than_announced", {kFrameStampMark, 1, 6, 0, 5}, 7, false},
                                         StampRow{"number_zero", {kFrameStampMark, 1, 0, 0, 5}, 7, false}),
                         RowName());

TEST(FrameNumberTest, WrapsPastTheLargestToOne) {
    EXPECT_EQ(2u, NextFrameNumber(1));
    EXPECT_EQ(1u, NextFrameNumber(UINT32_MAX));
    EXPECT_EQ(1u, NextFrameNumber(0));
}

}  // namespace
