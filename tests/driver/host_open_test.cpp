// openCVLPort as a host calls it: names the driver refuses, a camera whose
// server is not running, and cameras opened twice or sharing a port.
#include <chrono>
#include <string>
#include <vector>

#include "host_harness.h"

namespace hosttest {
namespace {

// Lets the test lists name the rows.
using hosttest::operator<<;
using Lines = std::vector<std::string>;

std::string Shown(const char* name) {
    return name != nullptr ? name : "(null)";
}

class HostOpen : public HostTest {
protected:
    // The two lines of a per-port call on a port that no camera holds.
    static Lines GetPropertyNotFound(int port) {
        return {"CameraList::GetByPort: ERROR: could not find camera on port " + std::to_string(port) + "\n",
                "--EXCEPTION caught at getProperty\n"};
    }

    // A per-port call finds a camera on `port` and reports its width, 0
    // before any frame.
    testing::AssertionResult PortAnswers(int port) {
        int value = kPoison;
        const int result = driver.getProperty(kGrabber, port, "Width", &value);
        if (result != 1 || value != 0) {
            return testing::AssertionFailure()
                   << "getProperty on port " << port << " returned " << result << " with width " << value;
        }
        return testing::AssertionSuccess();
    }

    // A per-port call finds no camera on `port` and writes nothing.
    testing::AssertionResult PortIsFree(int port) {
        int value = kPoison;
        const int result = driver.getProperty(kGrabber, port, "Width", &value);
        if (result != 0 || value != kPoison) {
            return testing::AssertionFailure()
                   << "getProperty on port " << port << " returned " << result << " with width " << value;
        }
        return testing::AssertionSuccess();
    }

    static Lines OpenedWithoutServer(const char* cameraName, int port, int timeout) {
        return {std::string("Opening camera ") + cameraName + " on port " + std::to_string(port) + "\n",
                "Camera::Open: Could not retrieve image dimensions within given timeout=" + std::to_string(timeout) +
                    ", port=" + std::to_string(port) + "\n"};
    }
};

struct RefusedName {
    const char* name;
    const char* cameraName;
    std::string error;  // the error line after the entering line
};

class HostOpenRefused : public HostOpen, public testing::WithParamInterface<RefusedName> {};

TEST_P(HostOpenRefused, ReturnsZeroWithItsErrorAndNoCameraOpens) {
    const RefusedName& row = GetParam();
    ASSERT_EQ(Initialize(), 1);
    ASSERT_TRUE(SetLogLevel(2));
    int dimensions[2] = {kPoison, kPoison};
    EXPECT_EQ(driver.openCVLPort(kGrabber, 5, row.cameraName, dimensions), 0);
    EXPECT_EQ(dimensions[0], 0);
    EXPECT_EQ(dimensions[1], 0);
    EXPECT_EQ(
        HostMessages(),
        (Lines{"openCVLPort: entering grabberNo=0, portNo=5, cameraName=" + Shown(row.cameraName) + "\n", row.error}));
    log.Clear();
    EXPECT_TRUE(PortIsFree(5));
}

std::string UndefinedLine(const char* name) {
    return "openCVLPort: ERROR: undefined camera, grabberNo=0, portNo=5, cameraName=" + Shown(name) + "\n";
}

std::string CannotFindLine(const char* name) {
    return std::string("openCVLPort: ERROR: cannot find camera by name:") + name + "\n";
}

INSTANTIATE_TEST_SUITE_P(
    Names, HostOpenRefused,
    testing::Values(RefusedName{"UndefinedInCapitals", "UNDEFINED", UndefinedLine("UNDEFINED")},
                    RefusedName{"UndefinedAsWritten", "Undefined", UndefinedLine("Undefined")},
                    RefusedName{"UdefinertInSmallLetters", "udefinert", UndefinedLine("udefinert")},
                    RefusedName{"Empty", "", UndefinedLine("")}, RefusedName{"Null", nullptr, UndefinedLine(nullptr)},
                    RefusedName{"CameraNameInSmallLetters", "camera 1", CannotFindLine("camera 1")},
                    RefusedName{"TrailingBlank", "Camera 1 ", CannotFindLine("Camera 1 ")},
                    RefusedName{"BeyondTheLastCamera", "Camera 33", CannotFindLine("Camera 33")}),
    RowName());

// Log lines that take the name in are cut to what one line holds.
TEST_F(HostOpen, AVeryLongNameIsRefusedWithLinesOfBoundedLength) {
    ASSERT_EQ(Initialize(), 1);
    ASSERT_TRUE(SetLogLevel(3));
    const std::string name = "Camera " + std::string(3000, '7');
    int dimensions[2] = {kPoison, kPoison};
    EXPECT_EQ(driver.openCVLPort(kGrabber, 5, name.c_str(), dimensions), 0);
    EXPECT_EQ(dimensions[0], 0);
    EXPECT_EQ(dimensions[1], 0);
    const Lines messages = HostMessages();
    ASSERT_EQ(messages.size(), 3u) << testing::PrintToString(messages);
    const std::string starts[] = {"openCVLPort: entering grabberNo=0, portNo=5, cameraName=Camera 777",
                                  "CameraList::IsCameraAvailable:  name=Camera 777",
                                  "openCVLPort: ERROR: cannot find camera by name:Camera 777"};
    for (size_t i = 0; i < messages.size(); ++i) {
        EXPECT_EQ(messages[i].rfind(starts[i], 0), 0u) << messages[i].substr(0, 80);
        EXPECT_LE(messages[i].size(), 1023u);
    }
}

// A host that passes no room for the dimensions is answered by the fence, and
// the camera stays closed.
TEST_F(HostOpen, NullDimensionsEndInTheFence) {
    ASSERT_EQ(Initialize(), 1);
    log.Clear();
    EXPECT_EQ(driver.openCVLPort(kGrabber, 5, "Camera 1", nullptr), 0);
    EXPECT_EQ(HostMessages(), Lines{"openCVLPort: --EXCEPTION caught grabberNo=0, portNo=5, cameraName=Camera 1\n"});
    log.Clear();
    EXPECT_TRUE(PortIsFree(5));
    EXPECT_EQ(HostMessages(), GetPropertyNotFound(5));
}

TEST_F(HostOpen, ExactNameWithoutServerOpensAfterTheTimeout) {
    ASSERT_EQ(Initialize(), 1);
    WriteSection("Camera 1", SilentSection(1, 100));
    log.Clear();
    int dimensions[2] = {kPoison, kPoison};
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(driver.openCVLPort(kGrabber, 5, "Camera 1", dimensions), 1);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, std::chrono::milliseconds(95));
    EXPECT_LT(elapsed, std::chrono::milliseconds(2000));
    EXPECT_EQ(dimensions[0], 0);
    EXPECT_EQ(dimensions[1], 0);
    EXPECT_EQ(HostMessages(), OpenedWithoutServer("Camera 1", 5, 100));
    EXPECT_TRUE(PortAnswers(5));
}

struct TimeoutRow {
    const char* name;
    int stored;
    int used;
};

class HostOpenTimeout : public HostOpen, public testing::WithParamInterface<TimeoutRow> {};

TEST_P(HostOpenTimeout, StoredConnectionTimeoutIsKeptWithinItsRange) {
    ASSERT_EQ(Initialize(), 1);
    WriteSection("Camera 1", SilentSection(1, GetParam().stored));
    log.Clear();
    int dimensions[2] = {kPoison, kPoison};
    EXPECT_EQ(driver.openCVLPort(kGrabber, 5, "Camera 1", dimensions), 1);
    EXPECT_EQ(HostMessages(), OpenedWithoutServer("Camera 1", 5, GetParam().used));
}

INSTANTIATE_TEST_SUITE_P(Timeouts, HostOpenTimeout,
                         testing::Values(TimeoutRow{"BelowTheMinimum", 50, 100}, TimeoutRow{"AtTheMinimum", 100, 100},
                                         TimeoutRow{"WithinTheRange", 180, 180}),
                         RowName());

TEST_F(HostOpen, OpeningAnOpenCameraKeepsItOnItsFirstPort) {
    ASSERT_EQ(Initialize(), 1);
    ASSERT_TRUE(OpenSilent("Camera 1", 5, 1));
    int dimensions[2] = {kPoison, kPoison};
    EXPECT_EQ(driver.openCVLPort(kGrabber, 6, "Camera 1", dimensions), 1);
    EXPECT_EQ(dimensions[0], 0);
    EXPECT_EQ(dimensions[1], 0);
    EXPECT_EQ(HostMessages(), (Lines{"Opening camera Camera 1 on port 6\n",
                                     "Camera::Open: ERROR:  Camera 1 is already open on port 5\n"}));
    log.Clear();
    EXPECT_TRUE(PortAnswers(5));
    EXPECT_TRUE(PortIsFree(6));
    EXPECT_EQ(HostMessages(), GetPropertyNotFound(6));
}

// Camera 2 is opened first, so only the registry's order can make Camera 1
// the one that port 5 reaches.
TEST_F(HostOpen, TwoCamerasOnOnePortAnswerForTheEarlierCamera) {
    ASSERT_EQ(Initialize(), 1);
    ASSERT_TRUE(OpenSilent("Camera 2", 5, 1));
    ASSERT_TRUE(OpenSilent("Camera 1", 5, 1));
    driver.closeCVLPort(kGrabber, 5);

    int dimensions[2] = {kPoison, kPoison};
    log.Clear();
    EXPECT_EQ(driver.openCVLPort(kGrabber, 7, "Camera 2", dimensions), 1);
    EXPECT_EQ(HostMessages(), (Lines{"Opening camera Camera 2 on port 7\n",
                                     "Camera::Open: ERROR:  Camera 2 is already open on port 5\n"}));
    EXPECT_TRUE(PortAnswers(5));

    log.Clear();
    EXPECT_EQ(driver.openCVLPort(kGrabber, 8, "Camera 1", dimensions), 1);
    EXPECT_EQ(HostMessages(), OpenedWithoutServer("Camera 1", 8, 100));
}

}  // namespace
}  // namespace hosttest
