// Frames from the camera-server library to the driver's client end: the
// request, the dimensions, the ImageReady header and the segment's bytes.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "link/shared_memory.h"
#include "link_test_support.h"

namespace {

using linktest::AskDimensions;
using linktest::ConnectClient;
using linktest::kWaitMs;
using linktest::Pattern;
using linktest::ReadMessage;
using linktest::StartServer;
using linktest::UniqueName;

constexpr int kWidth = 37;  // rows of odd length, so that a row mix-up shows
constexpr int kHeight = 23;
constexpr uint8_t kPoison = 0xCD;

// Reads the next header, which must announce a frame, and copies the frame
// from the segment, attaching it first when needed.
testing::AssertionResult ReceiveFrame(NamedPipeChannel& channel, CSharedMemory& segment, const std::string& shareName,
                                      std::vector<uint8_t>& frame, int32_t& number) {
    MessageHeader header{};
    testing::AssertionResult read = ReadMessage(channel, &header);
    if (!read) {
        return read;
    }
    if (header.type != ImageReady) {
        return testing::AssertionFailure() << "header type " << header.type;
    }
    number = header.param;
    if (!segment.IsAttached() && !segment.Open(shareName)) {
        return testing::AssertionFailure() << "segment did not open";
    }
    std::fill(frame.begin(), frame.end(), kPoison);
    if (segment.Read(frame.data(), static_cast<int32_t>(frame.size()), nullptr) != CSharedMemory::ReadStatus::Copied) {
        return testing::AssertionFailure() << "segment read refused";
    }
    return testing::AssertionSuccess();
}

class FrameTest : public testing::TestWithParam<int> {};

TEST_P(FrameTest, BytesArriveUnchanged) {
    const int bytesPerPixel = GetParam();
    const size_t frameBytes = static_cast<size_t>(kWidth) * kHeight * bytesPerPixel;
    const std::string name = UniqueName("frame");
    linktest::ServerPtr server = StartServer(name, static_cast<int>(frameBytes), 1);
    ASSERT_NE(server, nullptr);
    ASSERT_EQ(0, QuorvexServerSetDimensions(server.get(), kWidth, kHeight, bytesPerPixel));

    NamedPipeChannel channel;
    ASSERT_TRUE(ConnectClient(channel, name, server.get(), 1));
    DimensionsBlock dimensions{};
    ASSERT_TRUE(AskDimensions(channel, dimensions));
    ASSERT_EQ(kWidth, dimensions.width);
    ASSERT_EQ(kHeight, dimensions.height);
    ASSERT_EQ(bytesPerPixel, dimensions.bytesPerPixel);
    const size_t received = static_cast<size_t>(dimensions.width) * dimensions.height * dimensions.bytesPerPixel;
    ASSERT_EQ(frameBytes, received);

    CSharedMemory segment;
    std::vector<uint8_t> frame(received);
    for (int seed = 1; seed <= 3; ++seed) {
        const std::vector<uint8_t> sent = Pattern(frameBytes, seed * bytesPerPixel);
        ASSERT_EQ(1, QuorvexServerPublishFrame(server.get(), sent.data(), static_cast<int>(sent.size())));
        int32_t number = 0;
        ASSERT_TRUE(ReceiveFrame(channel, segment, name, frame, number)) << "frame " << seed;
        EXPECT_EQ(seed, number);
        const size_t rowBytes = static_cast<size_t>(kWidth) * bytesPerPixel;
        for (int row = 0; row < kHeight; ++row) {
            ASSERT_EQ(0, std::memcmp(frame.data() + row * rowBytes, sent.data() + row * rowBytes, rowBytes))
                << "frame " << seed << ", row " << row;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(BytesPerPixel, FrameTest, testing::Values(1, 3, 4),
                         [](const testing::TestParamInfo<int>& row) { return std::to_string(row.param) + "bpp"; });

TEST(EndToEndTest, TwoClientsOnOneServerSeeTheSameFrames) {
    const std::string name = UniqueName("pair");
    constexpr int kFrameBytes = 64 * 48;
    linktest::ServerPtr server = StartServer(name, kFrameBytes, 2);
    ASSERT_NE(server, nullptr);
    ASSERT_EQ(0, QuorvexServerSetDimensions(server.get(), 64, 48, 1));

    NamedPipeChannel channels[2];
    CSharedMemory segments[2];
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(ConnectClient(channels[i], name, server.get(), i + 1));
        DimensionsBlock dimensions{};
        ASSERT_TRUE(AskDimensions(channels[i], dimensions));
        EXPECT_EQ(64, dimensions.width);
    }
    for (int seed = 1; seed <= 2; ++seed) {
        const std::vector<uint8_t> sent = Pattern(kFrameBytes, seed);
        ASSERT_EQ(2, QuorvexServerPublishFrame(server.get(), sent.data(), kFrameBytes));
        for (int i = 0; i < 2; ++i) {
            std::vector<uint8_t> frame(kFrameBytes);
            int32_t number = 0;
            ASSERT_TRUE(ReceiveFrame(channels[i], segments[i], name, frame, number)) << "client " << i;
            EXPECT_EQ(seed, number);
            EXPECT_EQ(sent, frame) << "client " << i << ", frame " << seed;
        }
    }
}

TEST(EndToEndTest, ClientsComeAndGo) {
    const std::string name = UniqueName("churn");
    linktest::ServerPtr server = StartServer(name, 4096, 2);
    ASSERT_NE(server, nullptr);
    ASSERT_EQ(0, QuorvexServerSetDimensions(server.get(), 16, 16, 1));

    NamedPipeChannel stayer;
    ASSERT_TRUE(ConnectClient(stayer, name, server.get(), 1));
    // More visitors than instances: each instance that a visitor leaves must
    // listen again for the next.
    for (int visit = 0; visit < 6; ++visit) {
        NamedPipeChannel visitor;
        ASSERT_TRUE(ConnectClient(visitor, name, server.get(), 2)) << "visit " << visit;
        DimensionsBlock dimensions{};
        ASSERT_TRUE(AskDimensions(visitor, dimensions)) << "visit " << visit;
        EXPECT_EQ(16, dimensions.width);
        visitor.Close();
        const DWORD start = linktest::Now();
        while (QuorvexServerClientCount(server.get()) != 1 && linktest::Now() - start < kWaitMs) {
            Sleep(10);
        }
        ASSERT_EQ(1, QuorvexServerClientCount(server.get())) << "visit " << visit;
    }
    // The client that stayed is served throughout.
    ASSERT_EQ(1, QuorvexServerSendStop(server.get()));
    MessageHeader header{};
    ASSERT_TRUE(ReadMessage(stayer, &header));
    EXPECT_EQ(Stop, header.type);
}

TEST(EndToEndTest, DroppedClientsReconnectAndAskAgain) {
    const std::string name = UniqueName("crash");
    linktest::ServerPtr server = StartServer(name, 4096, 2);
    ASSERT_NE(server, nullptr);
    ASSERT_EQ(0, QuorvexServerSetDimensions(server.get(), 4, 4, 4));
    NamedPipeChannel first;
    NamedPipeChannel second;
    ASSERT_TRUE(ConnectClient(first, name, server.get(), 1));
    ASSERT_TRUE(ConnectClient(second, name, server.get(), 2));

    EXPECT_EQ(2, QuorvexServerDropClients(server.get()));
    EXPECT_EQ(0, QuorvexServerClientCount(server.get()));
    MessageHeader header{};
    EXPECT_FALSE(ReadMessage(first, &header));
    first.Close();
    second.Close();

    ASSERT_TRUE(ConnectClient(first, name, server.get(), 1));
    DimensionsBlock dimensions{};
    ASSERT_TRUE(AskDimensions(first, dimensions));
    EXPECT_EQ(4, dimensions.bytesPerPixel);
}

TEST(EndToEndTest, RestartedServerTakesOverTheSegmentAClientStillHolds) {
    const std::string name = UniqueName("restart");
    constexpr int kFrameBytes = 4096;
    linktest::ServerPtr server = StartServer(name, kFrameBytes, 1);
    ASSERT_NE(server, nullptr);
    NamedPipeChannel channel;
    ASSERT_TRUE(ConnectClient(channel, name, server.get(), 1));
    ASSERT_EQ(1, QuorvexServerSetDimensions(server.get(), 64, 64, 1));
    DimensionsBlock dimensions{};
    ASSERT_TRUE(linktest::ReceiveDimensions(channel, dimensions));
    CSharedMemory segment;
    std::vector<uint8_t> frame(kFrameBytes);
    int32_t number = 0;
    ASSERT_EQ(1, QuorvexServerPublishFrame(server.get(), Pattern(kFrameBytes, 1).data(), kFrameBytes));
    ASSERT_TRUE(ReceiveFrame(channel, segment, name, frame, number));

    server.reset();
    channel.Close();
    // The client still holds the old segment: a larger one cannot be had under
    // its name, one of the same size is taken over.
    linktest::ServerPtr larger(QuorvexServerCreate(name.c_str(), 2 * kFrameBytes, 1));
    EXPECT_EQ(nullptr, larger);
    server = StartServer(name, kFrameBytes, 1);
    ASSERT_NE(server, nullptr);
    ASSERT_TRUE(ConnectClient(channel, name, server.get(), 1));
    ASSERT_EQ(1, QuorvexServerSetDimensions(server.get(), 64, 64, 1));
    ASSERT_TRUE(linktest::ReceiveDimensions(channel, dimensions));
    const std::vector<uint8_t> sent = Pattern(kFrameBytes, 2);
    ASSERT_EQ(1, QuorvexServerPublishFrame(server.get(), sent.data(), kFrameBytes));
    ASSERT_TRUE(ReceiveFrame(channel, segment, name, frame, number));
    EXPECT_EQ(1, number);
    EXPECT_EQ(sent, frame);
}

}  // namespace
