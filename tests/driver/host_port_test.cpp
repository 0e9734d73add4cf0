// Per-port exports on ports that no camera holds, and closing a camera.
#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "host_harness.h"

namespace hosttest {
namespace {

// Lets the test lists name the rows.
using hosttest::operator<<;
using Lines = std::vector<std::string>;

constexpr int kFreePort = 7;

void QUORVEX_CALL SomeComplete(int, int) {}
void QUORVEX_CALL SomeCommand(int, int, const char*, const char*) {}

std::string NotFoundLine(int port) {
    return "CameraList::GetByPort: ERROR: could not find camera on port " + std::to_string(port) + "\n";
}

struct FreePortCall {
    const char* name;
    // Calls the export on `port`, checks that it wrote nothing, returns its result.
    std::function<int(const DriverExports&, int port)> call;
    std::string fence;
};

class HostFreePort : public HostTest, public testing::WithParamInterface<FreePortCall> {};

TEST_P(HostFreePort, EndsInTheFenceAfterTheRegistryError) {
    ASSERT_EQ(Initialize(), 1);
    ASSERT_TRUE(OpenSilent("Camera 1", 5, 1));
    EXPECT_EQ(GetParam().call(driver, kFreePort), 0);
    EXPECT_EQ(HostMessages(), (Lines{NotFoundLine(kFreePort), GetParam().fence}));
}

int GetPropertyLeavingValue(const DriverExports& driver, int port) {
    int value = kPoison;
    const int result = driver.getProperty(kGrabber, port, "Width", &value);
    EXPECT_EQ(value, kPoison);
    return result;
}

int GrabRowLeavingDest(const DriverExports& driver, int port) {
    unsigned char dest[32];
    std::memset(dest, 0xA5, sizeof dest);
    const int result = driver.getCVLGrabRow(kGrabber, port, dest, 0, 0, 9);
    for (unsigned char byte : dest) {
        EXPECT_EQ(byte, 0xA5);
    }
    return result;
}

INSTANTIATE_TEST_SUITE_P(
    Exports, HostFreePort,
    testing::Values(FreePortCall{"GetProperty", GetPropertyLeavingValue, "--EXCEPTION caught at getProperty\n"},
                    FreePortCall{"SetCompleteCallback",
                                 [](const DriverExports& driver, int port) {
                                     return driver.setCompleteCallback(kGrabber, port, &SomeComplete);
                                 },
                                 "setCompleteCallback: --EXCEPTION caught \n"},
                    FreePortCall{"SetCmdCallback",
                                 [](const DriverExports& driver, int port) {
                                     return driver.setCmdCallback(kGrabber, port, &SomeCommand);
                                 },
                                 "setCmdCallback: --EXCEPTION caught \n"},
                    FreePortCall{"GetCVLGrabRow", GrabRowLeavingDest, "getCVLGrabRow: --EXCEPTION caught \n"},
                    FreePortCall{"CloseCVLPort",
                                 [](const DriverExports& driver, int port) {
                                     driver.closeCVLPort(kGrabber, port);
                                     return 0;
                                 },
                                 "closeCVLPort: --EXCEPTION caught  grabberNo=0, portNo=7\n"}),
    RowName());

class HostClose : public HostTest {
protected:
    static Lines CloseNotFound(int port) {
        const std::string numbers = "grabberNo=0, portNo=" + std::to_string(port) + "\n";
        return {"closeCVLPort: entering " + numbers, NotFoundLine(port), "closeCVLPort: --EXCEPTION caught  " + numbers,
                "closeCVLPort: leaving " + numbers};
    }

    // What stopping an open camera on `port` logs at level 2, from
    // Camera::Close down to its thread and back.
    static Lines CameraClosing(int port) {
        const std::string on = "on port=" + std::to_string(port) + "\n";
        return {"Camera::Close: entering\n",
                "Camera::CleanupOnClose: entering\n",
                "CmdExchangeThread::Destroy: entering " + on,
                "CmdExchangeThread::Destroy: thread closed " + on,
                "CmdExchangeThread::Destroy: leaving " + on,
                "Camera::CleanupOnClose: leaving\n",
                "Camera::Close: leaving on port " + std::to_string(port) + "\n"};
    }
};

TEST_F(HostClose, AFreePortLogsTheFenceThenTheLeavingLine) {
    ASSERT_EQ(Initialize(), 1);
    ASSERT_TRUE(SetLogLevel(2));
    driver.closeCVLPort(kGrabber, kFreePort);
    EXPECT_EQ(HostMessages(), CloseNotFound(kFreePort));
}

TEST_F(HostClose, AnOpenCameraIsStoppedAndItsPortFreed) {
    ASSERT_EQ(Initialize(), 1);
    ASSERT_TRUE(OpenSilent("Camera 1", 5, 2));
    driver.closeCVLPort(kGrabber, 5);
    Lines expected = {"closeCVLPort: entering grabberNo=0, portNo=5\n"};
    for (const std::string& line : CameraClosing(5)) {
        expected.push_back(line);
    }
    expected.push_back("closeCVLPort: leaving grabberNo=0, portNo=5\n");
    EXPECT_EQ(HostMessages(), expected);

    log.Clear();
    int value = kPoison;
    EXPECT_EQ(driver.getProperty(kGrabber, 5, "Width", &value), 0);
    EXPECT_EQ(value, kPoison);
    EXPECT_EQ(HostMessages(), (Lines{NotFoundLine(5), "--EXCEPTION caught at getProperty\n"}));

    log.Clear();
    driver.closeCVLPort(kGrabber, 5);
    EXPECT_EQ(HostMessages(), CloseNotFound(5));
}

TEST_F(HostClose, AClosedCameraOpensAgainOnAnotherPort) {
    ASSERT_EQ(Initialize(), 1);
    ASSERT_TRUE(OpenSilent("Camera 1", 5, 1));
    driver.closeCVLPort(kGrabber, 5);
    log.Clear();
    int dimensions[2] = {kPoison, kPoison};
    EXPECT_EQ(driver.openCVLPort(kGrabber, 6, "Camera 1", dimensions), 1);
    EXPECT_EQ(dimensions[0], 0);
    EXPECT_EQ(dimensions[1], 0);
    EXPECT_EQ(HostMessages(),
              (Lines{"Opening camera Camera 1 on port 6\n",
                     "Camera::Open: Could not retrieve image dimensions within given timeout=100, port=6\n"}));
    int value = kPoison;
    EXPECT_EQ(driver.getProperty(kGrabber, 6, "Width", &value), 1);
    EXPECT_EQ(value, 0);
}

// -2 is the port of every camera that holds none, so the first closed camera
// answers for it, with the registry's complaint.
TEST_F(HostClose, PortMinusTwoReachesTheFirstClosedCamera) {
    ASSERT_EQ(Initialize(), 1);
    log.Clear();
    const std::string closedLine =
        "CameraList::GetByPort: ERROR: found camera on requested port -2, but the camera is closed\n";
    int value = kPoison;
    EXPECT_EQ(driver.getProperty(kGrabber, -2, "Width", &value), 1);
    EXPECT_EQ(value, 0);
    EXPECT_EQ(HostMessages(), Lines{closedLine});

    log.Clear();
    driver.closeCVLPort(kGrabber, -2);
    EXPECT_EQ(HostMessages(), (Lines{closedLine, "Camera::Close: WARNING: called on already closed camera\n"}));
}

TEST_F(HostClose, TheLastFinalizeClosesACameraLeftOpen) {
    ASSERT_EQ(Initialize(), 1);
    ASSERT_TRUE(OpenSilent("Camera 1", 5, 2));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Finalize(), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));

    Lines expected = {"finalize: entering, refcount=1\n", "CameraList::~CameraList: entering\n",
                      "CameraList::Destroy: entering\n"};
    for (const std::string& line : CameraClosing(5)) {
        expected.push_back(line);
    }
    for (const char* line :
         {"CameraList::Destroy: leaving\n", "CameraList::~CameraList: leaving\n", "finalize: leaving, refcount=0\n"}) {
        expected.push_back(line);
    }
    EXPECT_EQ(HostMessages(), expected);
    EXPECT_EQ(driver.getCVLNoOfSupportedCameras(), 0);
}

}  // namespace
}  // namespace hosttest
