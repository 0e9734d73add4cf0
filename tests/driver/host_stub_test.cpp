// The exports that answer with constants or do nothing: what they return,
// what they log, and that no camera notices them.
#include <string>
#include <vector>

#include "host_harness.h"

namespace hosttest {
namespace {

using Lines = std::vector<std::string>;

constexpr int kCameraPort = 5;
constexpr int kFreePort = 7;

class HostStubs : public HostTest {
protected:
    testing::AssertionResult ConstantsHold() {
        const int grabbers = driver.getCVLMaxNoOfGrabbers();
        const int ports = driver.getCVLMaxNoOfPorts();
        const int trigger = driver.setHWTrigger(kGrabber, kCameraPort, 1);
        if (grabbers != 1 || ports != 20 || trigger != 0) {
            return testing::AssertionFailure()
                   << "grabbers " << grabbers << ", ports " << ports << ", setHWTrigger " << trigger;
        }
        return testing::AssertionSuccess();
    }
};

TEST_F(HostStubs, ConstantsHoldBeforeAndAfterInitializeAndLogNothing) {
    EXPECT_TRUE(ConstantsHold());
    ASSERT_EQ(Initialize(), 1);
    ASSERT_TRUE(OpenSilent("Camera 1", kCameraPort, 4));
    EXPECT_TRUE(ConstantsHold());
    EXPECT_EQ(HostMessages(), Lines{});
}

TEST_F(HostStubs, GrabAndPropertyStubsLookNothingUp) {
    ASSERT_EQ(Initialize(), 1);
    ASSERT_TRUE(OpenSilent("Camera 1", kCameraPort, 3));
    for (int port : {kCameraPort, kFreePort}) {
        SCOPED_TRACE(port);
        const std::string numbers = "grabberNo=0 portNo=" + std::to_string(port) + "\n";
        const std::string spaced = "grabberNo=0   portNo=" + std::to_string(port) + "\n";
        log.Clear();
        EXPECT_EQ(driver.doCVLGrab(kGrabber, port), 1);
        EXPECT_EQ(HostMessages(), (Lines{"doCVLGrab entering " + numbers, "doCVLGrab: leaving " + numbers}));

        log.Clear();
        int low = kPoison;
        int high = kPoison;
        EXPECT_EQ(driver.getPropertyRange(kGrabber, port, "Width", &low, &high), 0);
        EXPECT_EQ(low, kPoison);
        EXPECT_EQ(high, kPoison);
        EXPECT_EQ(HostMessages(),
                  (Lines{"getPropertyRange: entering " + spaced, "getPropertyRange: leaving " + spaced}));

        log.Clear();
        EXPECT_EQ(driver.setProperty(kGrabber, port, "Width", 640), 0);
        EXPECT_EQ(HostMessages(), Lines{"setProperty: portNo=" + std::to_string(port) + "\n"});

        log.Clear();
        EXPECT_EQ(driver.setHWTrigger(kGrabber, port, 1), 0);
        EXPECT_EQ(HostMessages(), Lines{});
    }
    // The open camera still answers and still has no frame, and no camera
    // took the free port.
    int value = kPoison;
    EXPECT_EQ(driver.getProperty(kGrabber, kCameraPort, "Width", &value), 1);
    EXPECT_EQ(value, 0);
    value = kPoison;
    EXPECT_EQ(driver.getProperty(kGrabber, kFreePort, "Width", &value), 0);
    EXPECT_EQ(value, kPoison);
}

TEST_F(HostStubs, SetPropertyLineIsLevelThree) {
    ASSERT_EQ(Initialize(), 1);
    ASSERT_TRUE(SetLogLevel(2));
    EXPECT_EQ(driver.setProperty(kGrabber, kFreePort, "Width", 640), 0);
    EXPECT_EQ(HostMessages(), Lines{});
    ASSERT_TRUE(SetLogLevel(3));
    EXPECT_EQ(driver.setProperty(kGrabber, kFreePort, "Width", 640), 0);
    EXPECT_EQ(HostMessages(), Lines{"setProperty: portNo=7\n"});
}

TEST_F(HostStubs, GrabAndRangeLinesStayHiddenAtLevelOne) {
    ASSERT_EQ(Initialize(), 1);
    log.Clear();
    EXPECT_EQ(driver.doCVLGrab(kGrabber, kFreePort), 1);
    EXPECT_EQ(driver.getPropertyRange(kGrabber, kFreePort), 0);
    EXPECT_EQ(driver.setProperty(kGrabber, kFreePort), 0);
    EXPECT_EQ(HostMessages(), Lines{});
}

}  // namespace
}  // namespace hosttest
