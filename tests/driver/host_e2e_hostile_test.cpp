// The camera road against servers that break the rules: unknown headers,
// frames without a segment or before any dimensions, sizes that no buffer
// can take, a segment shorter than its frame, floods, broken reads.
#include <climits>
#include <cstdint>

#include "host_e2e.h"

namespace e2e {
namespace {

using E2EHostile = E2ETest;

TEST_F(E2EHostile, UnknownHeadersAreAnsweredByAnotherDimensionsRequest) {
    const std::string share = ShareName();
    ScriptedServer server{share};
    ASSERT_TRUE(server.Serve(AnswerWith(DimensionsBlock{32, 4, 1})));
    int dimensions[2];
    ASSERT_TRUE(OpenCamera("Camera 1", 1, share, kLevelSteps, kLongTimeout, dimensions));
    ASSERT_EQ(32, dimensions[0]);
    ASSERT_EQ(1, server.Requests());

    const int unknownTypes[] = {0, 1, 5, -1, INT_MAX};
    int expectedRequests = 1;
    for (const int type : unknownTypes) {
        SCOPED_TRACE("header type " + std::to_string(type));
        ASSERT_TRUE(server.SendHeader(type, 77));
        ++expectedRequests;
        EXPECT_TRUE(WaitUntil([&] { return server.Requests() == expectedRequests; })) << server.Requests();
        EXPECT_TRUE(
            WaitForLine(Format("CmdExchangeThread::ProcessRunningStates: Unknown header received. %d\n", type)));
    }
    Sleep(100);
    EXPECT_EQ(expectedRequests, server.Requests()) << "one request per unknown header, no more";
    EXPECT_EQ(0, server.OtherMessages()) << "the client sends nothing but requests";
    EXPECT_EQ(1, server.Connections());
    EXPECT_EQ(0, Port(1).resets.load()) << "the same dimensions again change nothing";
}

TEST_F(E2EHostile, AMissingSegmentDropsTheLinkAndItReconnects) {
    const std::string share = ShareName();
    ScriptedServer server{share};
    ASSERT_TRUE(server.Serve(AnswerWith(DimensionsBlock{32, 4, 1})));
    int dimensions[2];
    ASSERT_TRUE(OpenCamera("Camera 2", 2, share, kLevelSteps, kLongTimeout, dimensions));
    ASSERT_EQ(32, dimensions[0]);

    ASSERT_TRUE(server.SendHeader(ImageReady, 1));
    EXPECT_TRUE(WaitForLine("CSharedMemory::CSharedMemory: ERROR: Unable to access shared memory segment, err=2\n"));
    EXPECT_TRUE(
        WaitForLine(Format("CmdExchangeThread::ProcessRunningStates: could not attach to shared memory at %s, "
                           "port=2\n",
                           share.c_str())));
    EXPECT_TRUE(WaitForLine(ConnectionLine("Camera 2", 2, false, share)));
    EXPECT_TRUE(WaitUntil([&] { return server.Connections() == 2 && server.Requests() == 2; }, kReconnectWaitMs))
        << server.Connections() << " connections, " << server.Requests() << " requests";
    EXPECT_TRUE(WaitForLine(ConnectionLine("Camera 2", 2, true, share), 2));
    EXPECT_EQ(0, Port(2).frames.load());
    EXPECT_EQ(0, Port(2).resets.load());
}

TEST_F(E2EHostile, AFrameBeforeAnyDimensionsEndsTheLink) {
    const std::string share = ShareName();
    Server server;
    ASSERT_TRUE(server.Create(share, 4096));
    int dimensions[2];
    ASSERT_TRUE(OpenCamera("Camera 3", 3, share, kLevelSteps, 100, dimensions));
    ASSERT_EQ(0, dimensions[0]);
    ASSERT_TRUE(server.WaitForClients(1));

    ASSERT_EQ(1, server.SendHeader(ImageReady, 1));
    EXPECT_TRUE(
        WaitForLine("CmdExchangeThread::ProcessRunningStates: ERROR: image available, but dimensions were not "
                    "assigned as yet, port=3"));
    EXPECT_TRUE(WaitForLine("CmdExchangeThread::ThreadMain: leaving on port=3\n"));
    EXPECT_TRUE(server.WaitForNoClients());
    // The link stays down: dimensions now reach nobody.
    Sleep(1500);
    EXPECT_EQ(0, server.SetDimensions(FrameFormat{32, 8, 1}));
    EXPECT_EQ(0, Port(3).frames.load());
    EXPECT_EQ(0, Port(3).resets.load());
}

// Dimensions that no buffer can take, and dimensions that give no frame at
// all. Either way the host hears "Reset", the link ends, and nothing reads or
// writes outside a buffer.
enum class LinkEnds { AtTheDimensions, AtTheNextFrame };

struct HostileSize {
    const char* name;
    int width;
    int height;
    int bytesPerPixel;
    LinkEnds ends;
};

const HostileSize kHostileSizes[] = {
    {"Absurd", 100000, 100000, 4, LinkEnds::AtTheDimensions},
    {"WrapsToZeroIn32Bits", 65536, 65536, 1, LinkEnds::AtTheDimensions},
    {"OverflowsInt32", INT_MAX, 2, 1, LinkEnds::AtTheDimensions},
    {"ZeroWidth", 0, 480, 1, LinkEnds::AtTheNextFrame},
    {"ZeroHeight", 640, 0, 3, LinkEnds::AtTheNextFrame},
    {"ZeroBytesPerPixel", 32, 8, 0, LinkEnds::AtTheNextFrame},
    {"NegativeWidth", -640, 480, 1, LinkEnds::AtTheNextFrame},
};

class E2EHostileSize : public E2ETest, public testing::WithParamInterface<HostileSize> {};

TEST_P(E2EHostileSize, TheHostIsAskedToResetAndTheLinkEnds) {
    const HostileSize& size = GetParam();
    const std::string share = ShareName();
    const FrameFormat sane{32, 8, 1};
    Server server;
    ASSERT_TRUE(server.Create(share, sane.Bytes()));
    server.SetDimensions(sane);
    int dimensions[2];
    ASSERT_TRUE(OpenCamera("Camera 4", 4, share, kLevelSteps, kLongTimeout, dimensions));
    ASSERT_TRUE(DeliverAndReadBack(server, 4, sane, 1));
    const int resetsBefore = Port(4).resets;

    ASSERT_EQ(1, QuorvexServerSetDimensions(server.get(), size.width, size.height, size.bytesPerPixel));
    if (size.ends == LinkEnds::AtTheDimensions) {
        EXPECT_TRUE(WaitForLine("CmdExchangeThread::ThreadMain: ERROR: ImageBuffer::Allocate: ERROR: incorrect size"));
        EXPECT_EQ(1, CountStartingWith("ImageBuffer::Allocate: ERROR: incorrect size "));
    } else {
        server.SendHeader(ImageReady, 2);
        EXPECT_TRUE(WaitForLine(
            "CmdExchangeThread::ProcessRunningStates: ERROR: buffer not assigned or size incorrect, port=4"));
    }
    EXPECT_TRUE(WaitForLine("CmdExchangeThread::ThreadMain: leaving on port=4\n"));
    EXPECT_TRUE(server.WaitForNoClients());
    // Once for the changed size, once more when the link gives up.
    EXPECT_GE(Port(4).resets - resetsBefore, 1);
    EXPECT_LE(Port(4).resets - resetsBefore, 2);
    EXPECT_EQ(1, Port(4).frames.load());

    // The host follows the announced geometry; the driver copies nothing
    // that lies outside its buffer. A row of no bytes is an empty span, which
    // copies nothing and succeeds.
    int width = hosttest::kPoison;
    ASSERT_EQ(1, driver.getProperty(0, 4, "Width", &width));
    EXPECT_EQ(size.width, width);
    const int emptyRow = int64_t{size.width} * size.bytesPerPixel == 0 ? 1 : 0;
    std::vector<uint8_t> line(static_cast<size_t>(sane.RowBytes()), 0xA5);
    EXPECT_EQ(emptyRow, driver.getCVLGrabRow(0, 4, line.data(), 0, 0, width - 1));
    EXPECT_EQ(emptyRow, driver.getCVLGrabRow(0, 4, line.data(), sane.height - 1, 0, width - 1));
    EXPECT_EQ(std::vector<uint8_t>(line.size(), 0xA5), line);
}

INSTANTIATE_TEST_SUITE_P(Sizes, E2EHostileSize, testing::ValuesIn(kHostileSizes),
                         [](const testing::TestParamInfo<HostileSize>& row) { return std::string(row.param.name); });

TEST_F(E2EHostile, ASegmentShorterThanTheFrameIsNotRead) {
    const std::string share = ShareName();
    const FrameFormat announced{200, 100, 1};
    Server server;
    ASSERT_TRUE(server.Create(share, 4096));
    server.SetDimensions(announced);
    int dimensions[2];
    ASSERT_TRUE(OpenCamera("Camera 5", 5, share, kLevelSteps, kLongTimeout, dimensions));
    ASSERT_EQ(200, dimensions[0]);
    const int resetsBefore = Port(5).resets;

    ASSERT_EQ(1, server.SendHeader(ImageReady, 1));
    EXPECT_TRUE(WaitForLine("CmdExchangeThread::ThreadMain: leaving on port=5\n"));
    EXPECT_EQ(1, CountStartingWith("CSharedMemory::CSharedMemory: ERROR: segment of ")) << Dump();
    EXPECT_TRUE(server.WaitForNoClients());
    EXPECT_EQ(resetsBefore + 1, Port(5).resets.load());
    EXPECT_EQ(0, Port(5).frames.load());
}

TEST_F(E2EHostile, AFloodOfUnknownHeadersLeavesTheLinkWorkingAndTheLogQuiet) {
    constexpr int kFlood = 10000;
    const std::string share = ShareName();
    const FrameFormat format{32, 8, 1};
    Server server;
    ASSERT_TRUE(StartStreaming(server, share, format, "Camera 6", 6, kLevelErrors));
    const int resetsBefore = Port(6).resets;
    log.Clear();

    int delivered = 0;
    for (int i = 0; i < kFlood; ++i) {
        delivered += server.SendHeader(5 + i % 100, i);
    }
    EXPECT_EQ(kFlood, delivered) << "the client stopped taking messages";
    EXPECT_TRUE(DeliverAndReadBack(server, 6, format, 2));
    EXPECT_LT(log.Lines().size(), 10u) << Dump();
    EXPECT_EQ(resetsBefore, Port(6).resets.load());
    EXPECT_EQ(2, Port(6).frames.load());
}

// A read that failed because the server went away is not taken for a
// message: the ImageReady header still in the buffer is not handled twice.
TEST_F(E2EHostile, AFailedReadIsTheServerLostNotAnotherFrame) {
    const std::string share = ShareName();
    const FrameFormat format{32, 8, 1};
    Server server;
    ASSERT_TRUE(StartStreaming(server, share, format, "Camera 7", 7, kLevelSteps));

    ASSERT_EQ(1, QuorvexServerDropClients(server.get()));
    ASSERT_TRUE(WaitForLine("CmdExchangeThread::ThreadMain: server lost on port 7"));
    EXPECT_TRUE(WaitForLine(ConnectionLine("Camera 7", 7, false, share)));
    ASSERT_TRUE(WaitForLine(ConnectionLine("Camera 7", 7, true, share), 2, kReconnectWaitMs));
    EXPECT_EQ(1, Port(7).frames.load()) << "the old header was handled once more";
    EXPECT_EQ(1, Count("CmdExchangeThread::ThreadMain: server lost on port 7"));
    EXPECT_TRUE(DeliverAndReadBack(server, 7, format, 2));
    EXPECT_EQ(2, Port(7).frames.load());
}

// An error that is not the server's loss (here a message longer than the
// client's 12-byte read) drops the connection, which is tried again a second
// later: one error line, no busy loop.
TEST_F(E2EHostile, AnotherErrorDropsTheConnectionForASecond) {
    const std::string share = ShareName();
    const FrameFormat format{32, 8, 1};
    Server server;
    ASSERT_TRUE(StartStreaming(server, share, format, "Camera 8", 8, kLevelSteps));

    const uint8_t longMessage[24] = {0x52, 0x44, 0x48, 0x53, 3};
    const DWORD start = Now();
    ASSERT_EQ(1, QuorvexServerSendRaw(server.get(), longMessage, sizeof longMessage));
    ASSERT_TRUE(WaitForLine(ConnectionLine("Camera 8", 8, false, share)));
    ASSERT_TRUE(WaitForLine(ConnectionLine("Camera 8", 8, true, share), 2, kReconnectWaitMs));
    EXPECT_GE(Now() - start, 800u) << "reconnected without the pause";
    EXPECT_EQ(1, CountStartingWith("CmdExchangeThread::ThreadMain: ERROR (EA): ")) << Dump();
    EXPECT_EQ(1, Port(8).frames.load());
    EXPECT_TRUE(DeliverAndReadBack(server, 8, format, 2));
}

// A message shorter than a header leaves the last header's bytes in the
// read buffer; they are not taken for a new message, so the host never hears
// of a frame twice.
TEST_F(E2EHostile, AShortMessageIsNotTakenForTheLastHeader) {
    const std::string share = ShareName();
    const FrameFormat format{32, 8, 1};
    Server server;
    ASSERT_TRUE(StartStreaming(server, share, format, "Camera 9", 9, kLevelSteps));

    const uint8_t shortMessage[4] = {0x52, 0x44, 0x48, 0x53};
    ASSERT_EQ(1, QuorvexServerSendRaw(server.get(), shortMessage, sizeof shortMessage));
    ASSERT_TRUE(WaitForLine(ConnectionLine("Camera 9", 9, false, share)));
    ASSERT_TRUE(WaitForLine(ConnectionLine("Camera 9", 9, true, share), 2, kReconnectWaitMs));
    EXPECT_EQ(1, Port(9).frames.load()) << "the ImageReady header was handled twice";
    EXPECT_EQ(1, Count("CmdExchangeThread::ThreadMain: ERROR: message of 4 bytes instead of 12")) << Dump();
    EXPECT_TRUE(DeliverAndReadBack(server, 9, format, 2));
    EXPECT_EQ(2, Port(9).frames.load());
}

}  // namespace
}  // namespace e2e
