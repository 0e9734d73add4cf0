// Row reads from inside the complete callback find the camera of their port
// once and keep it: until the host closes the camera there, or opens another
// camera that comes before it on the same port, and then not a row longer.
#include <atomic>
#include <string>
#include <vector>

#include "host_e2e.h"

namespace e2e {
namespace {

// What the complete callback does on the one frame it acts on, and what it
// saw. The callback runs on the camera's link thread.
struct RowsInside {
    std::atomic<bool> armed{false};
    std::atomic<int> before{-1};  // a row read before the ports change
    std::atomic<int> after{-1};   // the same row read after
    int rowAfter = 0;             // the row the second read asks for
    int width = 0;
    // Closes the port itself, or lets the test thread open another camera
    // on it meanwhile.
    bool closeInside = false;
    platform::UniqueEvent reached{CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    platform::UniqueEvent goOn{CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    platform::UniqueEvent done{CreateEventA(nullptr, TRUE, FALSE, nullptr)};
};

RowsInside& Inside() {
    static RowsInside inside;
    return inside;
}

void QUORVEX_CALL ReadAroundAChange(int /*grabberNo*/, int portNo) {
    RowsInside& inside = Inside();
    if (!inside.armed.exchange(false)) {
        return;
    }
    const hosttest::DriverExports& driver = hosttest::HostLibrary::Get().Exports();
    std::vector<uint8_t> line(static_cast<size_t>(inside.width) * 4);
    inside.before = driver.getCVLGrabRow(0, portNo, line.data(), 0, 0, inside.width - 1);
    if (inside.closeInside) {
        driver.closeCVLPort(0, portNo);
    } else {
        SetEvent(inside.reached.get());
        WaitForSingleObject(inside.goOn.get(), kWaitMs);
    }
    inside.after = driver.getCVLGrabRow(0, portNo, line.data(), inside.rowAfter, 0, inside.width - 1);
    SetEvent(inside.done.get());
}

class E2ERowRoutes : public E2ETest {
protected:
    void Arm(const FrameFormat& format, int rowAfter, bool closeInside) {
        RowsInside& inside = Inside();
        inside.before = -1;
        inside.after = -1;
        inside.rowAfter = rowAfter;
        inside.width = format.width;
        inside.closeInside = closeInside;
        ResetEvent(inside.reached.get());
        ResetEvent(inside.goOn.get());
        ResetEvent(inside.done.get());
        inside.armed = true;
    }
};

// Closed inside its own callback, the camera holds its port no longer: the
// next row read there is refused, as from any other thread.
TEST_F(E2ERowRoutes, AfterAClosingInsideTheCallbackTheNextRowIsRefused) {
    const std::string share = ShareName();
    const FrameFormat format{32, 8, 1};
    Server server;
    ASSERT_TRUE(StartStreaming(server, share, format, "Camera 6", 37, kLevelErrors));
    Arm(format, 0, true);
    ASSERT_EQ(1, driver.setCompleteCallback(0, 37, &ReadAroundAChange));
    log.Clear();
    ASSERT_EQ(1, server.Publish(MakeFrame(format, 2)));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(Inside().done.get(), kWaitMs)) << Dump();
    EXPECT_EQ(1, Inside().before.load());
    EXPECT_EQ(0, Inside().after.load()) << "a row was read from a closed camera";
    EXPECT_EQ(1, Count("CameraList::GetByPort: ERROR: could not find camera on port 37\n")) << Dump();
}

// Another thread opens a camera that comes before this one in the list on
// the same port: from then on the port's rows are that camera's, also for
// a read inside this camera's callback. Its frame is shorter, so the row
// read after the opening exists only in the camera that first held the port.
TEST_F(E2ERowRoutes, ACameraOpenedEarlierInTheListTakesThePortsRowsAtOnce) {
    const std::string share = ShareName();
    const std::string otherShare = ShareName();
    const FrameFormat format{32, 8, 1};
    const FrameFormat shorter{32, 2, 1};
    Server server;
    Server otherServer;
    ASSERT_TRUE(otherServer.Create(otherShare, shorter.Bytes()));
    otherServer.SetDimensions(shorter);
    ASSERT_TRUE(StartStreaming(server, share, format, "Camera 8", 38, kLevelErrors));
    Arm(format, 5, false);
    ASSERT_EQ(1, driver.setCompleteCallback(0, 38, &ReadAroundAChange));
    ASSERT_EQ(1, server.Publish(MakeFrame(format, 2)));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(Inside().reached.get(), kWaitMs)) << Dump();
    int dimensions[2];
    const bool opened = OpenCamera("Camera 7", 38, otherShare, kLevelErrors, kLongTimeout, dimensions, false);
    log.Clear();
    SetEvent(Inside().goOn.get());
    ASSERT_TRUE(opened);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(Inside().done.get(), kWaitMs)) << Dump();
    EXPECT_EQ(1, Inside().before.load());
    EXPECT_EQ(0, Inside().after.load()) << "the row came from the camera that no longer comes first on the port";
    EXPECT_EQ(1, Count("ImageBuffer::GetLine: ERROR: line index out of range: 5\n")) << Dump();
}

}  // namespace
}  // namespace e2e
