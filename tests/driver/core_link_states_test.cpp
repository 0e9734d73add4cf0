// The link thread walked through its diagram (cmd_exchange_thread.h): the
// thread is brought into each state by a pipe server that the test drives by
// hand, then meets one event; each case checks the line the thread logs and
// where it goes next, seen from the server's end of the pipe and the log.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "camera/camera.h"
#include "core_test_support.h"
#include "platform/unique_handle.h"
#include "platform/win32.h"
#include "support/scripted_server.h"
#include "support/waits.h"
#include "wire/messages.h"

namespace {

using coretest::Captured;
using testsupport::kWaitMs;
using testsupport::ScriptedServer;

constexpr int32_t kPort = 7;
constexpr int32_t kUnknownType = 99;
// The frame every image case announces: 4 x 2 pixels of one byte.
constexpr DimensionsBlock kFrame{4, 2, 1};
constexpr DWORD kFrameBytes = 8;

// The server's segment and its mutex, holding a frame of kFrame's size.
class ScriptedSegment {
public:
    explicit ScriptedSegment(const std::string& shareName)
        : mapping(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kFrameBytes, shareName.c_str())),
          view(mapping ? MapViewOfFile(mapping.get(), FILE_MAP_ALL_ACCESS, 0, 0, kFrameBytes) : nullptr),
          mutex(CreateMutexA(nullptr, FALSE, MutexName(shareName).c_str())) {
        if (view) {
            for (DWORD i = 0; i < kFrameBytes; ++i) {
                static_cast<uint8_t*>(view.get())[i] = static_cast<uint8_t>(0xA0 + i);
            }
        }
    }

    bool Ready() const { return mapping && view && mutex; }
    const uint8_t* Bytes() const { return static_cast<const uint8_t*>(view.get()); }
    HANDLE Mutex() const { return mutex.get(); }

private:
    platform::UniqueMapping mapping;
    platform::UniqueView view;
    platform::UniqueMutex mutex;
};

// What the thread told the host through the camera's callbacks.
struct HostCalls {
    std::atomic<int> frames{0};
    std::atomic<int> lastPort{0};
    std::mutex lock;
    std::vector<std::string> commands;
};

HostCalls& Calls() {
    static HostCalls calls;
    return calls;
}

void QUORVEX_CALL OnComplete(int, int port) {
    Calls().lastPort = port;
    ++Calls().frames;
}

void QUORVEX_CALL OnCommand(int, int, const char* command, const char*) {
    std::lock_guard<std::mutex> hold(Calls().lock);
    Calls().commands.emplace_back(command);
}

// The start of one of the thread's lines.
std::string LineStart(const std::string& text) {
    return "CmdExchangeThread::" + text;
}

// One of the thread's lines, whole.
std::string Line(const std::string& text) {
    return LineStart(text) + "\n";
}

std::string Ported(const std::string& text) {
    return Line(text + ", port=" + std::to_string(kPort));
}

class LinkStatesTest : public coretest::CoreTest {
protected:
    void SetUp() override {
        CoreTest::SetUp();
        GetDriverState()->logLevel = 3;
        Calls().frames = 0;
        Calls().lastPort = 0;
        std::lock_guard<std::mutex> hold(Calls().lock);
        Calls().commands.clear();
    }

    void TearDown() override {
        camera.cmdThread.Destroy();
        CoreTest::TearDown();
    }

    // As the camera's open does: the port first, then the thread.
    void Start() {
        camera.port = kPort;
        ASSERT_TRUE(camera.cmdThread.Init(kPort, &camera, shareName.c_str()));
    }

    // Waits for a message that is `line`, or that starts with it when
    // `prefixOnly`; the lines logged so far show on failure.
    static testing::AssertionResult Logged(const std::string& line, bool prefixOnly = false) {
        if (testsupport::WaitUntil([&] { return SawLine(line, prefixOnly); })) {
            return testing::AssertionSuccess();
        }
        testing::AssertionResult failure = testing::AssertionFailure();
        failure << "no line \"" << line << "\" among:\n";
        for (const std::string& message : Captured().Messages()) {
            failure << "  " << message;
        }
        return failure;
    }

    static bool SawLine(const std::string& line, bool prefixOnly = false) {
        for (const std::string& message : Captured().Messages()) {
            if (prefixOnly ? message.compare(0, line.size(), line) == 0 : message == line) {
                return true;
            }
        }
        return false;
    }

    static std::vector<std::string> Commands() {
        std::lock_guard<std::mutex> hold(Calls().lock);
        return Calls().commands;
    }

    // ---- Bringing the thread into a state ----

    // Header: attached, the request sent, a header read pending.
    void ReachHeader() {
        Start();
        ASSERT_TRUE(server.AcceptClient());
        ASSERT_TRUE(Logged(Ported("Attach: attached OK")));
    }

    // Dimensions: a Dimensions header read, the block's read pending.
    void ReachDimensions() {
        ReachHeader();
        ASSERT_TRUE(server.SendHeader(Dimensions));
        ASSERT_TRUE(Logged(Ported("ProcessRunningStates: header received, type=2")));
    }

    // Header again, with the frame size known.
    void ReachHeaderWithFrameSize() {
        ReachDimensions();
        ASSERT_TRUE(server.Send(&kFrame, sizeof kFrame));
        ASSERT_TRUE(Logged(Ported("ProcessRunningStates: dimensions received, w=4, h=2, bpp=1")));
    }

    // ---- Where the thread went ----

    void ExpectEnded() { EXPECT_TRUE(Logged(Line("ThreadMain: leaving on port=" + std::to_string(kPort)))); }

    // Dropped the connection, and attached again with a new request.
    void ExpectReconnected() {
        ASSERT_TRUE(server.ExpectClientGone());
        EXPECT_TRUE(server.AcceptClient());
    }

    // The next 12-byte message is taken for the dimensions block.
    void ExpectWaitingForBlock() {
        const DimensionsBlock block{6, 5, 3};
        ASSERT_TRUE(server.Send(&block, sizeof block));
        EXPECT_TRUE(Logged(Ported("ProcessRunningStates: dimensions received, w=6, h=5, bpp=3")));
    }

    // The next message is taken for a header: an unknown one makes the
    // thread ask for the dimensions on the same connection.
    void ExpectWaitingForHeader() {
        ASSERT_TRUE(server.SendHeader(kUnknownType));
        EXPECT_TRUE(Logged(Line("ProcessRunningStates: Unknown header received. 99")));
        EXPECT_TRUE(server.ExpectRequest());
    }

    const std::string shareName = coretest::UniqueShareName();
    ScriptedServer server{shareName};
    Camera camera{"Camera 1"};
};

// ---- Attach ----

TEST_F(LinkStatesTest, AttachWithoutServerRetriesUntilOneListens) {
    Start();
    ASSERT_TRUE(Logged(Line("Attach: attaching to named pipe=" + shareName + ", port=7")));
    ASSERT_TRUE(Logged(LineStart("ThreadMain: Exception named pipe=" + shareName + ": 2, "), true));
    EXPECT_TRUE(server.AcceptClient());
    EXPECT_TRUE(Logged(Ported("Attach: attached OK")));
}

TEST_F(LinkStatesTest, AttachStopRequestEndsTheThread) {
    Start();
    ASSERT_TRUE(Logged(LineStart("ThreadMain: Exception named pipe=" + shareName + ": 2, "), true));
    camera.cmdThread.Destroy();
    ExpectEnded();
    EXPECT_TRUE(SawLine(Line("Destroy: thread closed on port=7")));
}

// ---- AskDimensions: the request goes out as soon as the pipe is open ----

TEST_F(LinkStatesTest, AskDimensionsSendsOneRequestAndReadsAHeader) {
    ReachHeader();
    EXPECT_TRUE(SawLine(Ported("AskDimensions: asking for dimensions")));
    ExpectWaitingForHeader();
}

// ---- Header ----

TEST_F(LinkStatesTest, HeaderDimensionsReadsTheBlockNext) {
    ReachHeader();
    ASSERT_TRUE(server.SendHeader(Dimensions));
    EXPECT_TRUE(Logged(Ported("ProcessRunningStates: header received, type=2")));
    ExpectWaitingForBlock();
    // The thread logs the block before it reports the camera connected.
    EXPECT_TRUE(testsupport::WaitUntil([&] { return camera.isConnected.load(); }));
}

TEST_F(LinkStatesTest, HeaderImageReadyWithoutSegmentDropsAndRetries) {
    ReachHeaderWithFrameSize();
    ASSERT_TRUE(server.SendHeader(ImageReady));
    EXPECT_TRUE(Logged(Line("ProcessRunningStates: could not attach to shared memory at " + shareName + ", port=7")));
    EXPECT_TRUE(SawLine("CSharedMemory::CSharedMemory: ERROR: Unable to access shared memory segment, err=2\n"));
    ExpectReconnected();
}

TEST_F(LinkStatesTest, HeaderStopEndsTheThread) {
    ReachHeaderWithFrameSize();
    ASSERT_TRUE(server.SendHeader(Stop));
    EXPECT_TRUE(Logged(Ported("ProcessRunningStates: header received, type=4")));
    ExpectEnded();
    EXPECT_TRUE(server.ExpectClientGone());
    EXPECT_FALSE(camera.isConnected);
}

TEST_F(LinkStatesTest, HeaderUnknownAsksForTheDimensionsAgain) {
    ReachHeader();
    ExpectWaitingForHeader();
    ExpectWaitingForHeader();
}

TEST_F(LinkStatesTest, HeaderShortMessageDropsAndRetries) {
    ReachHeader();
    const uint8_t eight[8] = {0x52, 0x44, 0x48, 0x53, 2, 0, 0, 0};
    ASSERT_TRUE(server.Send(eight, sizeof eight));
    EXPECT_TRUE(Logged(Line("ThreadMain: ERROR: message of 8 bytes instead of 12")));
    ExpectReconnected();
}

TEST_F(LinkStatesTest, HeaderLongMessageDropsAndRetries) {
    ReachHeader();
    const uint8_t sixteen[16] = {0x52, 0x44, 0x48, 0x53, 2};
    ASSERT_TRUE(server.Send(sixteen, sizeof sixteen));
    EXPECT_TRUE(Logged(LineStart("ThreadMain: ERROR (EA): "), true));
    ExpectReconnected();
}

TEST_F(LinkStatesTest, HeaderBrokenPipeReconnectsAtOnce) {
    ReachHeaderWithFrameSize();
    server.Break();
    EXPECT_TRUE(Logged(Line("ThreadMain: server lost on port 7")));
    EXPECT_TRUE(server.AcceptClient());
    EXPECT_FALSE(camera.isConnected);
}

TEST_F(LinkStatesTest, HeaderStopRequestEndsTheThread) {
    ReachHeader();
    camera.cmdThread.Destroy();
    ExpectEnded();
    EXPECT_TRUE(server.ExpectClientGone());
}

// ---- Dimensions ----

TEST_F(LinkStatesTest, DimensionsBlockSizesTheBufferAndReadsAHeaderNext) {
    ReachDimensions();
    ASSERT_TRUE(server.Send(&kFrame, sizeof kFrame));
    EXPECT_TRUE(Logged(Ported("ProcessRunningStates: dimensions received, w=4, h=2, bpp=1")));
    EXPECT_TRUE(Logged(Ported("SetImageSize: reallocating image buffer")));
    ExpectWaitingForHeader();
    EXPECT_EQ(4, camera.FrameShape().width);
    EXPECT_EQ(2, camera.FrameShape().height);
    EXPECT_EQ(1, camera.FrameShape().bytesPerPixel);
    EXPECT_EQ(static_cast<int32_t>(kFrameBytes), camera.imageBuffer.Size());
    EXPECT_TRUE(camera.isConnected);
}

// Any 12-byte message is the block here, a header included.
TEST_F(LinkStatesTest, DimensionsStopHeaderIsTakenForTheBlock) {
    ReachDimensions();
    ASSERT_TRUE(server.SendHeader(Stop));
    EXPECT_TRUE(Logged(Ported("ProcessRunningStates: dimensions received, w=1397245010, h=4, bpp=0")));
    ExpectWaitingForHeader();
}

TEST_F(LinkStatesTest, DimensionsShortMessageDropsAndRetries) {
    ReachDimensions();
    const uint8_t four[4] = {1, 0, 0, 0};
    ASSERT_TRUE(server.Send(four, sizeof four));
    EXPECT_TRUE(Logged(Line("ThreadMain: ERROR: message of 4 bytes instead of 12")));
    ExpectReconnected();
}

TEST_F(LinkStatesTest, DimensionsBrokenPipeReconnectsAtOnce) {
    ReachDimensions();
    server.Break();
    EXPECT_TRUE(Logged(Line("ThreadMain: server lost on port 7")));
    EXPECT_TRUE(server.AcceptClient());
}

TEST_F(LinkStatesTest, DimensionsStopRequestEndsTheThread) {
    ReachDimensions();
    camera.cmdThread.Destroy();
    ExpectEnded();
    EXPECT_TRUE(server.ExpectClientGone());
}

// ---- Image: entered on ImageReady with the segment attached ----

TEST_F(LinkStatesTest, ImageBeforeAnyDimensionsEndsTheThread) {
    ScriptedSegment segment(shareName);
    ASSERT_TRUE(segment.Ready());
    ReachHeader();
    ASSERT_TRUE(server.SendHeader(ImageReady));
    EXPECT_TRUE(
        Logged(Ported("ProcessRunningStates: ERROR: image available, but dimensions were not assigned as yet")));
    ExpectEnded();
}

TEST_F(LinkStatesTest, ImageForAClosedCameraIsDroppedWithOneLine) {
    ScriptedSegment segment(shareName);
    ASSERT_TRUE(segment.Ready());
    ReachHeaderWithFrameSize();
    ASSERT_TRUE(server.SendHeader(ImageReady));
    ASSERT_TRUE(server.SendHeader(ImageReady));
    ExpectWaitingForHeader();
    int dropLines = 0;
    for (const std::string& message : Captured().Messages()) {
        dropLines += message == Ported("ProcessRunningStates: frame dropped, camera not open yet") ? 1 : 0;
    }
    EXPECT_EQ(1, dropLines);
    EXPECT_EQ(0, Calls().frames);
}

TEST_F(LinkStatesTest, ImageWithoutCompleteCallbackIsDropped) {
    ScriptedSegment segment(shareName);
    ASSERT_TRUE(segment.Ready());
    ReachHeaderWithFrameSize();
    camera.isOpen = true;
    ASSERT_TRUE(server.SendHeader(ImageReady));
    EXPECT_TRUE(Logged(Ported("ProcessRunningStates: frame dropped, camera has no complete callback yet")));
    ExpectWaitingForHeader();
    camera.isOpen = false;
}

TEST_F(LinkStatesTest, ImageIsCopiedAndAnnouncedThenAHeaderIsRead) {
    ScriptedSegment segment(shareName);
    ASSERT_TRUE(segment.Ready());
    ReachHeaderWithFrameSize();
    camera.isOpen = true;
    camera.completeCallback = &OnComplete;
    ASSERT_TRUE(server.SendHeader(ImageReady));
    EXPECT_TRUE(Logged(Ported("ProcessRunningStates: image received")));
    ExpectWaitingForHeader();
    EXPECT_EQ(1, Calls().frames);
    EXPECT_EQ(kPort, Calls().lastPort);
    {
        platform::CriticalSectionLock hold(camera.imageBuffer.Lock());
        ASSERT_NE(nullptr, camera.imageBuffer.Data());
        EXPECT_EQ(0, std::memcmp(segment.Bytes(), camera.imageBuffer.Data(), kFrameBytes));
    }
    camera.isOpen = false;
}

TEST_F(LinkStatesTest, ImageIntoABufferOfAnotherSizeAsksForAResetAndEnds) {
    ScriptedSegment segment(shareName);
    ASSERT_TRUE(segment.Ready());
    ReachHeaderWithFrameSize();
    camera.imageBuffer.Allocate(4, 4, 1);
    camera.isOpen = true;
    camera.completeCallback = &OnComplete;
    camera.cmdCallback = &OnCommand;
    ASSERT_TRUE(server.SendHeader(ImageReady));
    EXPECT_TRUE(Logged(Ported("ProcessRunningStates: ERROR: buffer not assigned or size incorrect")));
    ExpectEnded();
    EXPECT_EQ(std::vector<std::string>{"Reset"}, Commands());
    EXPECT_EQ(0, Calls().frames);
    camera.isOpen = false;
}

TEST_F(LinkStatesTest, ImageStopRequestWhileTheServerHoldsTheMutexEndsTheThread) {
    ScriptedSegment segment(shareName);
    ASSERT_TRUE(segment.Ready());
    ReachHeaderWithFrameSize();
    camera.isOpen = true;
    camera.completeCallback = &OnComplete;
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(segment.Mutex(), kWaitMs));
    ASSERT_TRUE(server.SendHeader(ImageReady));
    ASSERT_TRUE(Logged(Ported("ProcessRunningStates: header received, type=3")));
    camera.cmdThread.Destroy();
    ExpectEnded();
    ReleaseMutex(segment.Mutex());
    EXPECT_EQ(0, Calls().frames);
    EXPECT_FALSE(SawLine(Ported("ProcessRunningStates: image received")));
    camera.isOpen = false;
}

}  // namespace
