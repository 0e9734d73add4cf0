// The frame as the host reads it back: shapes that change while the byte
// count stays, the empty span, reads on other threads racing the last
// finalize, hostile bytes per pixel, and a host log procedure that hands
// lines to a thread reading rows.
#include <atomic>
#include <climits>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "host_e2e.h"

namespace e2e {
namespace {

struct ShapeChange {
    const char* name;
    FrameFormat before;
    FrameFormat after;
};

class E2EShapeChange : public E2ETest, public testing::WithParamInterface<ShapeChange> {};

// The server keeps the byte count but changes the shape: the host is asked
// to reset, and every row of the new shape reads back whole.
TEST_P(E2EShapeChange, TheBufferFollowsAndTheHostIsAskedToReset) {
    const ShapeChange& row = GetParam();
    ASSERT_EQ(row.before.Bytes(), row.after.Bytes());
    const std::string share = ShareName();
    Server server;
    ASSERT_TRUE(StartStreaming(server, share, row.before, "Camera 1", 30, kLevelErrors));
    const int resetsBefore = Port(30).resets;

    ASSERT_EQ(1, server.SetDimensions(row.after));
    ASSERT_TRUE(DeliverAndReadBack(server, 30, row.after, 2));
    EXPECT_EQ(resetsBefore + 1, Port(30).resets.load());
    ASSERT_TRUE(DeliverAndReadBack(server, 30, row.after, 3));
    EXPECT_EQ(resetsBefore + 1, Port(30).resets.load());
    int value = hosttest::kPoison;
    EXPECT_EQ(1, driver.getProperty(0, 30, "Width", &value));
    EXPECT_EQ(row.after.width, value);
    EXPECT_EQ(1, driver.getProperty(0, 30, "Height", &value));
    EXPECT_EQ(row.after.height, value);
    EXPECT_EQ(1, driver.getProperty(0, 30, "PixelSize", &value));
    EXPECT_EQ(8 * row.after.bytesPerPixel, value);
    std::vector<uint8_t> line(static_cast<size_t>(row.after.RowBytes()) + 64);
    EXPECT_EQ(0, driver.getCVLGrabRow(0, 30, line.data(), row.after.height, 0, row.after.width - 1));
}

INSTANTIATE_TEST_SUITE_P(Shapes, E2EShapeChange,
                         testing::Values(ShapeChange{"WideToTall", {32, 16, 1}, {16, 32, 1}},
                                         ShapeChange{"TallToWide", {16, 32, 3}, {32, 16, 3}},
                                         ShapeChange{"TwoToFourBytesPerPixel", {32, 8, 2}, {16, 8, 4}},
                                         ShapeChange{"FourToOneBytesPerPixelSameRows", {16, 8, 4}, {64, 8, 1}}),
                         RowName());

using E2EStreamRows = E2ETest;

// last = first - 1 asks for no bytes: the call succeeds and writes nothing.
// One less is refused.
TEST_F(E2EStreamRows, AnEmptySpanSucceedsAndWritesNothing) {
    const std::string share = ShareName();
    const FrameFormat format{32, 8, 3};
    Server server;
    ASSERT_TRUE(StartStreaming(server, share, format, "Camera 2", 31, kLevelErrors));
    log.Clear();
    std::vector<uint8_t> line(static_cast<size_t>(format.RowBytes()), 0xA5);
    for (const int first : {0, 5, format.width}) {
        SCOPED_TRACE("first " + std::to_string(first));
        EXPECT_EQ(1, driver.getCVLGrabRow(0, 31, line.data(), 3, first, first - 1));
        EXPECT_EQ(std::vector<uint8_t>(line.size(), 0xA5), line);
    }
    EXPECT_EQ(0, CountStartingWith("ImageBuffer::")) << Dump();
    EXPECT_EQ(0, driver.getCVLGrabRow(0, 31, line.data(), 3, 5, 3));
    EXPECT_EQ(1, CountStartingWith("ImageBuffer::CopyRow: ERROR: refused to copy -3 bytes from row 3 "));
    // The row must still exist.
    EXPECT_EQ(0, driver.getCVLGrabRow(0, 31, line.data(), format.height, 0, -1));
    EXPECT_EQ(std::vector<uint8_t>(line.size(), 0xA5), line);
}

// Host threads read rows while the host's own thread runs the last
// finalize: it waits for the reads under way, is not held up by the reads
// that keep coming, and frees nothing that a read still uses (the sanitizer
// builds see to that). The reads after it are refused.
TEST_F(E2EStreamRows, RowReadsOnOtherThreadsNeitherHoldUpNorOutliveFinalize) {
    const std::string share = ShareName();
    const FrameFormat format{64, 16, 1};
    Server server;
    ASSERT_TRUE(StartStreaming(server, share, format, "Camera 2", 33, kLevelErrors));
    std::atomic<bool> stop{false};
    std::atomic<int64_t> read{0};
    std::atomic<int64_t> refused{0};
    std::vector<std::thread> readers;
    for (int i = 0; i < 4; ++i) {
        readers.emplace_back([&] {
            std::vector<uint8_t> line(static_cast<size_t>(format.RowBytes()));
            for (int row = 0; !stop; row = (row + 1) % format.height) {
                ++(driver.getCVLGrabRow(0, 33, line.data(), row, 0, format.width - 1) == 1 ? read : refused);
            }
        });
    }
    const bool readsUnderWay = testsupport::WaitUntil([&] { return read.load() > 1000; });
    const DWORD start = GetTickCount();
    const int finalized = driver.finalize();
    const DWORD took = GetTickCount() - start;
    const int64_t readBefore = read.load();
    const bool refusedAfter = testsupport::WaitUntil([&] { return refused.load() > 1000; });
    const int64_t readAfter = read.load();
    stop = true;
    for (std::thread& reader : readers) {
        reader.join();
    }
    EXPECT_TRUE(readsUnderWay);
    EXPECT_EQ(1, finalized);
    EXPECT_LT(took, kWaitMs) << "the finalize waited for reads that kept coming";
    EXPECT_TRUE(refusedAfter);
    // Each reader may count the read that the finalize waited for late.
    EXPECT_LE(readAfter - readBefore, static_cast<int64_t>(readers.size())) << "rows were read after the finalize";
    EXPECT_TRUE(server.WaitForNoClients());
    ASSERT_EQ(1, driver.initialize(systemDir.Path().c_str(), &hosttest::LogRecorder::Record));
}

struct HostileBytesPerPixel {
    const char* name;
    int bytesPerPixel;
    int bitsPerPixel;
};

class E2EHostilePixelSize : public E2ETest, public testing::WithParamInterface<HostileBytesPerPixel> {};

// Bits per pixel that do not fit an int are held at its limits; none comes
// out as a plausible small number.
TEST_P(E2EHostilePixelSize, PixelSizeIsHeldAtTheIntsLimits) {
    const HostileBytesPerPixel& row = GetParam();
    const std::string share = ShareName();
    const FrameFormat sane{32, 8, 1};
    Server server;
    ASSERT_TRUE(server.Create(share, sane.Bytes()));
    server.SetDimensions(sane);
    int dimensions[2];
    ASSERT_TRUE(OpenCamera("Camera 3", 32, share, kLevelDetails, kLongTimeout, dimensions));
    ASSERT_EQ(1, QuorvexServerSetDimensions(server.get(), 2, 2, row.bytesPerPixel));
    ASSERT_TRUE(WaitForLine(Format(
        "CmdExchangeThread::ProcessRunningStates: dimensions received, w=2, h=2, bpp=%d, port=32", row.bytesPerPixel)));
    int bits = hosttest::kPoison;
    EXPECT_EQ(1, driver.getProperty(0, 32, "PixelSize", &bits));
    EXPECT_EQ(row.bitsPerPixel, bits);
}

INSTANTIATE_TEST_SUITE_P(Sizes, E2EHostilePixelSize,
                         testing::Values(HostileBytesPerPixel{"LargestThatFits", INT_MAX / 8, INT_MAX / 8 * 8},
                                         HostileBytesPerPixel{"OneMore", INT_MAX / 8 + 1, INT_MAX},
                                         HostileBytesPerPixel{"WouldWrapToEight", 0x20000001, INT_MAX},
                                         HostileBytesPerPixel{"Largest", INT_MAX, INT_MAX},
                                         HostileBytesPerPixel{"NegativeThatFits", INT_MIN / 8, INT_MIN},
                                         HostileBytesPerPixel{"NegativeBeyond", INT_MIN / 8 - 1, INT_MIN},
                                         HostileBytesPerPixel{"Smallest", INT_MIN, INT_MIN}),
                         RowName());

// A host log procedure that hands the lines starting with `trigger` to a
// thread of its own, which reads a row of `port`, and waits for it (bounded,
// so that a test of a driver that deadlocks ends). Installed with
// setDebugMsgProc; every line also goes to the recorder.
class ForwardingLog {
public:
    static ForwardingLog& Instance() {
        static ForwardingLog log;
        return log;
    }
    static void QUORVEX_CALL Proc(const char* text) {
        hosttest::LogRecorder::Record(text);
        Instance().Receive(text);
    }

    void Start(const std::string& lineStart, int rowPort, int rowBytesPerCall) {
        trigger = lineStart;
        port = rowPort;
        rowBytes = rowBytesPerCall;
        forwarded = 0;
        timedOut = 0;
        quit = false;
        reader = std::thread([this] { Read(); });
    }
    void Stop() {
        quit = true;
        SetEvent(request.get());
        reader.join();
    }

    std::atomic<int> forwarded{0};
    std::atomic<int> timedOut{0};

private:
    static constexpr DWORD kForwardWaitMs = 3000;
    static constexpr size_t kLineCapacity = 4096;

    void Receive(const char* text) {
        if (text == nullptr || std::strncmp(text, trigger.c_str(), trigger.size()) != 0) {
            return;
        }
        // A completion left over from a read that came too late is not
        // this one's.
        ResetEvent(done.get());
        SetEvent(request.get());
        ++(WaitForSingleObject(done.get(), kForwardWaitMs) == WAIT_OBJECT_0 ? forwarded : timedOut);
    }

    void Read() {
        const hosttest::DriverExports& driver = hosttest::HostLibrary::Get().Exports();
        // Room for the row at any pixel size the tests give.
        std::vector<uint8_t> line(kLineCapacity);
        for (;;) {
            WaitForSingleObject(request.get(), INFINITE);
            if (quit) {
                return;
            }
            // A row that exists, so that the read logs nothing itself.
            driver.getCVLGrabRow(0, port, line.data(), 0, 0, rowBytes - 1);
            SetEvent(done.get());
        }
    }

    std::string trigger;
    int port = 0;
    int rowBytes = 1;
    std::atomic<bool> quit{false};
    platform::UniqueEvent request{CreateEventA(nullptr, FALSE, FALSE, nullptr)};
    platform::UniqueEvent done{CreateEventA(nullptr, FALSE, FALSE, nullptr)};
    std::thread reader;
};

class E2EForwardingLog : public E2ETest {
protected:
    void TearDown() override {
        driver.setDebugMsgProc(&hosttest::LogRecorder::Record);
        E2ETest::TearDown();
    }
};

// The host thread's own refused row read: its line reaches the host after
// the buffer is free again.
TEST_F(E2EForwardingLog, ALineOfARefusedRowReadLetsAnotherThreadReadRows) {
    const std::string share = ShareName();
    const FrameFormat format{32, 8, 1};
    Server server;
    ASSERT_TRUE(StartStreaming(server, share, format, "Camera 4", 33, kLevelErrors));
    ForwardingLog& forwarding = ForwardingLog::Instance();
    forwarding.Start("ImageBuffer::GetLine: ERROR: line index out of range", 33, format.width);
    driver.setDebugMsgProc(&ForwardingLog::Proc);
    std::vector<uint8_t> line(static_cast<size_t>(format.RowBytes()));
    EXPECT_EQ(0, driver.getCVLGrabRow(0, 33, line.data(), format.height, 0, format.width - 1));
    EXPECT_EQ(0, driver.getCVLGrabRow(0, 33, line.data(), -1, 0, format.width - 1));
    driver.setDebugMsgProc(&hosttest::LogRecorder::Record);
    forwarding.Stop();
    EXPECT_EQ(2, forwarding.forwarded.load());
    EXPECT_EQ(0, forwarding.timedOut.load()) << "the line came while the buffer was locked";
}

// The link thread's line about dimensions that no buffer can take.
TEST_F(E2EForwardingLog, ALineOfTheLinkThreadLetsAnotherThreadReadRows) {
    const std::string share = ShareName();
    const FrameFormat format{32, 8, 1};
    Server server;
    ASSERT_TRUE(StartStreaming(server, share, format, "Camera 5", 34, kLevelErrors));
    ForwardingLog& forwarding = ForwardingLog::Instance();
    forwarding.Start("ImageBuffer::Allocate: ERROR: incorrect size", 34, 8);
    driver.setDebugMsgProc(&ForwardingLog::Proc);
    ASSERT_EQ(1, server.SetDimensions(FrameFormat{100000, 100000, 4}));
    EXPECT_TRUE(WaitForLine("CmdExchangeThread::ThreadMain: ERROR: ImageBuffer::Allocate: ERROR: incorrect size"));
    driver.setDebugMsgProc(&hosttest::LogRecorder::Record);
    forwarding.Stop();
    EXPECT_EQ(1, forwarding.forwarded.load());
    EXPECT_EQ(0, forwarding.timedOut.load()) << "the line came while the buffer was locked";
}

}  // namespace
}  // namespace e2e
