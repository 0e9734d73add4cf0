// Frame numbers and capture times through getProperty: from the server
// library's frames, with the numbers it leaves out counted as skipped, and
// none from a server that does not number its frames.
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "host_e2e.h"

namespace e2e {
namespace {

using E2ENumbers = E2ETest;

constexpr int64_t kSecondUs = 1000000;

int Property(const hosttest::DriverExports& exports, int port, const char* name) {
    int value = hosttest::kPoison;
    EXPECT_EQ(1, exports.getProperty(0, port, name, &value)) << name;
    return value;
}

int64_t CaptureTime(const hosttest::DriverExports& exports, int port) {
    const auto high = static_cast<uint32_t>(Property(exports, port, "FrameCaptureHigh"));
    const auto low = static_cast<uint32_t>(Property(exports, port, "FrameCaptureLow"));
    return static_cast<int64_t>((uint64_t{high} << 32) | low);
}

TEST_F(E2ENumbers, FramesCarryTheServersNumbersAndCaptureTimes) {
    const std::string share = ShareName();
    const FrameFormat format{40, 6, 3};
    Server server;
    ASSERT_TRUE(StartStreaming(server, share, format, "Camera 3", 5, kLevelErrors));
    EXPECT_EQ(1, Property(driver, 5, "FrameNumber"));
    EXPECT_EQ(0, Property(driver, 5, "FrameGap"));
    int64_t previous = CaptureTime(driver, 5);
    EXPECT_LT(std::llabs(StampClockMicroseconds() - previous), kSecondUs);

    for (uint32_t seed = 2; seed <= 4; ++seed) {
        ASSERT_TRUE(DeliverAndReadBack(server, 5, format, seed));
        EXPECT_EQ(static_cast<int>(seed), Property(driver, 5, "framenumber"));
        EXPECT_EQ(0, Property(driver, 5, "FrameGap"));
        const int64_t captured = CaptureTime(driver, 5);
        EXPECT_GT(captured, previous);
        EXPECT_LT(std::llabs(StampClockMicroseconds() - captured), kSecondUs);
        previous = captured;
    }
    ASSERT_EQ(0, QuorvexServerSkipFrames(server.get(), 3));
    ASSERT_TRUE(DeliverAndReadBack(server, 5, format, 5));
    EXPECT_EQ(8, Property(driver, 5, "FrameNumber"));
    EXPECT_EQ(3, Property(driver, 5, "FrameGap"));
    ASSERT_EQ(0, QuorvexServerSkipFrames(server.get(), 1));
    ASSERT_TRUE(DeliverAndReadBack(server, 5, format, 6));
    EXPECT_EQ(1, Property(driver, 5, "FrameGap"));
    EXPECT_EQ(4, Property(driver, 5, "FramesSkipped"));
    EXPECT_EQ(6, Property(driver, 5, "FramesDelivered"));

    // A new open starts the count afresh.
    CloseCamera(5);
    int dimensions[2];
    ASSERT_TRUE(OpenCamera("Camera 3", 5, share, kLevelErrors, kLongTimeout, dimensions));
    EXPECT_EQ(0, Property(driver, 5, "FramesSkipped"));
    EXPECT_EQ(0, Property(driver, 5, "FrameNumber"));
}

// A host whose first frame keeps its callback busy until the test lets it
// go, and which notes the number of every frame it is given.
struct SlowHost {
    const hosttest::DriverExports* exports = nullptr;
    std::mutex lock;
    std::condition_variable changed;
    bool busy = false;
    bool released = false;
    std::vector<int> numbers;

    static SlowHost& Get() {
        static SlowHost host;
        return host;
    }
    // A test starts with a host that has seen nothing, also when repeated.
    void Reset() {
        const std::lock_guard<std::mutex> hold(lock);
        busy = false;
        released = false;
        numbers.clear();
    }
    static void QUORVEX_CALL OnComplete(int, int port) {
        SlowHost& host = Get();
        int number = 0;
        host.exports->getProperty(0, port, "FrameNumber", &number);
        std::unique_lock<std::mutex> hold(host.lock);
        host.numbers.push_back(number);
        host.busy = true;
        host.changed.notify_all();
        host.changed.wait_for(hold, std::chrono::milliseconds(kWaitMs), [&] { return host.released; });
    }
};

// Every announcement is a callback, as hosts count on; a frame given twice,
// because the link came late to an announcement and took the newer frame
// for the one before, carries its number twice and no gap the second time.
TEST_F(E2ENumbers, AFrameGivenTwiceCarriesItsNumberTwice) {
    const std::string share = ShareName();
    const FrameFormat format{40, 6, 3};
    Server server;
    ASSERT_TRUE(StartStreaming(server, share, format, "Camera 3", 5, kLevelErrors));
    SlowHost& host = SlowHost::Get();
    host.Reset();
    host.exports = &driver;
    driver.setCompleteCallback(0, 5, &SlowHost::OnComplete);
    ASSERT_EQ(1, server.Publish(MakeFrame(format, 2)));
    {
        std::unique_lock<std::mutex> hold(host.lock);
        ASSERT_TRUE(host.changed.wait_for(hold, std::chrono::milliseconds(kWaitMs), [&] { return host.busy; }));
    }
    // Frames 3 and 4 are announced while the host is busy with 2: the link
    // comes to 3's announcement with 4 in the segment.
    ASSERT_EQ(1, server.Publish(MakeFrame(format, 3)));
    ASSERT_EQ(1, server.Publish(MakeFrame(format, 4)));
    {
        const std::lock_guard<std::mutex> hold(host.lock);
        host.released = true;
        host.changed.notify_all();
    }
    const auto given = [&](size_t count) {
        return [&host, count] {
            const std::lock_guard<std::mutex> hold(host.lock);
            return host.numbers.size() >= count;
        };
    };
    // Both announcements of 3 and 4 are read before 5 comes.
    EXPECT_TRUE(WaitUntil(given(3), kWaitMs));
    ASSERT_EQ(1, server.Publish(MakeFrame(format, 5)));
    EXPECT_TRUE(WaitUntil(given(4), kWaitMs));
    driver.setCompleteCallback(0, 5, &OnComplete);
    const std::lock_guard<std::mutex> hold(host.lock);
    EXPECT_EQ((std::vector<int>{2, 4, 4, 5}), host.numbers);
    EXPECT_EQ(1, Property(driver, 5, "FramesSkipped")) << "frame 3";
}

// The segment and mutex of a server written to the plain protocol, which
// leaves a stamp-like block after the frame from whatever ran before.
class PlainSegment {
public:
    PlainSegment(const std::string& share, const FrameFormat& format)
        : bytes(static_cast<DWORD>(format.Bytes())),
          mapping(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, bytes + sizeof(FrameStamp),
                                     share.c_str())),
          view(mapping ? MapViewOfFile(mapping.get(), FILE_MAP_ALL_ACCESS, 0, 0, 0) : nullptr),
          mutex(CreateMutexA(nullptr, FALSE, MutexName(share).c_str())) {
        if (view) {
            const std::vector<uint8_t> frame = MakeFrame(format, 1);
            std::memcpy(view.get(), frame.data(), frame.size());
            const FrameStamp stale{kFrameStampMark, kFrameStampVersion, 41, 0, StampClockMicroseconds()};
            std::memcpy(static_cast<uint8_t*>(view.get()) + bytes, &stale, sizeof stale);
        }
    }
    bool Ready() const { return mapping && view && mutex; }

private:
    DWORD bytes;
    platform::UniqueMapping mapping;
    platform::UniqueView view;
    platform::UniqueMutex mutex;
};

TEST_F(E2ENumbers, APlainServersFramesHaveNoNumber) {
    const std::string share = ShareName();
    const FrameFormat format{16, 4, 1};
    PlainSegment segment(share, format);
    ASSERT_TRUE(segment.Ready());
    ScriptedServer server{share};
    ASSERT_TRUE(server.Serve(AnswerWith(DimensionsBlock{format.width, format.height, format.bytesPerPixel})));
    int dimensions[2];
    ASSERT_TRUE(OpenCamera("Camera 4", 6, share, kLevelErrors, kLongTimeout, dimensions));
    // A param of 0, as plain servers send, and one later than the stamp's.
    for (const int32_t param : {0, 50, 0}) {
        const int before = Port(6).frames.load();
        ASSERT_TRUE(server.SendHeaderIfTold(ImageReady, param));
        ASSERT_TRUE(WaitForFrames(6, before + 1));
        EXPECT_EQ(0, Property(driver, 6, "FrameNumber")) << "param " << param;
        EXPECT_EQ(0, Property(driver, 6, "FrameCaptureHigh"));
        EXPECT_EQ(0, Property(driver, 6, "FrameCaptureLow"));
    }
    EXPECT_EQ(0, Property(driver, 6, "FramesSkipped"));
    EXPECT_EQ(3, Property(driver, 6, "FramesDelivered"));
}

}  // namespace
}  // namespace e2e
