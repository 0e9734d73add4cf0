// initialize / finalize, the camera list, the system directory and the host
// procedure, seen from the host.
#include <atomic>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "host_harness.h"

namespace hosttest {
namespace {

// Lets the test lists name the rows.
using hosttest::operator<<;
using Lines = std::vector<std::string>;

const char* const kBannerStart = "initialize: Shared Memory camera driver V1,0,0,4, refcount=";

// Checks the start banner of `initialize`: the version, `refCount`, and a
// local date and time no more than a few seconds outside [before, after].
testing::AssertionResult IsBanner(const std::string& message, int refCount, std::time_t before, std::time_t after) {
    const std::string start = kBannerStart + std::to_string(refCount) + ", ";
    if (message.compare(0, start.size(), start) != 0) {
        return testing::AssertionFailure() << "\"" << message << "\" does not start with \"" << start << "\"";
    }
    std::tm when{};
    char end[2] = {};
    const int fields = std::sscanf(message.c_str() + start.size(), "%d-%d-%d %d:%d:%d%1[\n]", &when.tm_year,
                                   &when.tm_mon, &when.tm_mday, &when.tm_hour, &when.tm_min, &when.tm_sec, end);
    if (fields != 7 || message.back() != '\n' || message.find('\n') != message.size() - 1) {
        return testing::AssertionFailure()
               << "\"" << message << "\" has no date and time of the form %d-%d-%d %d:%d:%d";
    }
    if (when.tm_year < 2000 || when.tm_mon < 1 || when.tm_mon > 12) {
        return testing::AssertionFailure() << "\"" << message << "\": year or month out of range";
    }
    when.tm_year -= 1900;
    when.tm_mon -= 1;
    when.tm_isdst = -1;
    const std::time_t logged = std::mktime(&when);
    constexpr std::time_t kSlackSeconds = 3;
    if (logged < before - kSlackSeconds || logged > after + kSlackSeconds) {
        return testing::AssertionFailure() << "\"" << message << "\" is not the local time of the call";
    }
    return testing::AssertionSuccess();
}

class HostLifecycle : public HostTest {
protected:
    // Calls initialize and checks that the only line is the banner.
    testing::AssertionResult InitializeLogsOnlyBanner(int refCount) {
        log.Clear();
        const std::time_t before = std::time(nullptr);
        const int result = Initialize();
        const std::time_t after = std::time(nullptr);
        if (result != 1) {
            return testing::AssertionFailure() << "initialize returned " << result;
        }
        const Lines messages = HostMessages();
        if (messages.size() != 1) {
            return testing::AssertionFailure() << "lines: " << testing::PrintToString(messages);
        }
        return IsBanner(messages[0], refCount, before, after);
    }

    // Opens `cameraName` on port 5 with its settings only in `directory`,
    // and checks from the time-out line that they were read from there.
    testing::AssertionResult SettingsReadFrom(const std::string& directory, const char* cameraName, int timeout) {
        WriteSection(cameraName, SilentSection(1, timeout), directory);
        log.Clear();
        int dimensions[2] = {kPoison, kPoison};
        const int opened = driver.openCVLPort(kGrabber, 5, cameraName, dimensions);
        const Lines messages = HostMessages();
        driver.closeCVLPort(kGrabber, 5);
        const Lines expected = {std::string("Opening camera ") + cameraName + " on port 5\n",
                                "Camera::Open: Could not retrieve image dimensions within given timeout=" +
                                    std::to_string(timeout) + ", port=5\n"};
        if (opened != 1 || messages != expected) {
            return testing::AssertionFailure()
                   << "openCVLPort returned " << opened << ", lines: " << testing::PrintToString(messages);
        }
        return testing::AssertionSuccess();
    }
};

TEST_F(HostLifecycle, CameraCountFollowsTheUserCount) {
    EXPECT_EQ(driver.getCVLNoOfSupportedCameras(), 0);
    ASSERT_EQ(Initialize(), 1);
    EXPECT_EQ(driver.getCVLNoOfSupportedCameras(), 32);
    ASSERT_EQ(Initialize(), 1);
    EXPECT_EQ(driver.getCVLNoOfSupportedCameras(), 32);
    EXPECT_EQ(Finalize(), 1);
    EXPECT_EQ(driver.getCVLNoOfSupportedCameras(), 32);
    EXPECT_EQ(Finalize(), 1);
    EXPECT_EQ(driver.getCVLNoOfSupportedCameras(), 0);
}

TEST_F(HostLifecycle, ConfigNamesListTheCamerasInOrderThenNull) {
    ASSERT_EQ(Initialize(), 1);
    const char** names = driver.getCVLCameraConfigNames();
    ASSERT_NE(names, nullptr);
    for (int i = 0; i < 32; ++i) {
        ASSERT_NE(names[i], nullptr) << "entry " << i;
        EXPECT_STREQ(names[i], ("Camera " + std::to_string(i + 1)).c_str());
    }
    EXPECT_EQ(names[32], nullptr);
}

TEST_F(HostLifecycle, ConfigNamesBeforeInitializeHoldOnlyNull) {
    const char** names = driver.getCVLCameraConfigNames();
    ASSERT_NE(names, nullptr);
    EXPECT_EQ(names[0], nullptr);
}

// The names are the cameras' own texts both times.
TEST_F(HostLifecycle, ASecondConfigNamesCallListsTheSameTexts) {
    ASSERT_EQ(Initialize(), 1);
    const char** first = driver.getCVLCameraConfigNames();
    ASSERT_NE(first, nullptr);
    const std::vector<const char*> firstEntries(first, first + 33);
    const char** second = driver.getCVLCameraConfigNames();
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(std::vector<const char*>(second, second + 33), firstEntries);
    EXPECT_STREQ(second[31], "Camera 32");
}

// Hosts ask for the names on several threads at once, each reading the
// array it was given while others ask again.
TEST_F(HostLifecycle, ConfigNamesAskedOnEightThreadsAtOnceStayReadable) {
    ASSERT_EQ(Initialize(), 1);
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int thread = 0; thread < 8; ++thread) {
        threads.emplace_back([&] {
            for (int call = 0; call < 2000; ++call) {
                const char** names = driver.getCVLCameraConfigNames();
                if (names == nullptr || std::strcmp(names[0], "Camera 1") != 0 ||
                    std::strcmp(names[31], "Camera 32") != 0 || names[32] != nullptr) {
                    ++wrong;
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(0, wrong.load());
}

TEST_F(HostLifecycle, InitializeLogsOnlyItsBannerAtLevelOne) {
    EXPECT_TRUE(InitializeLogsOnlyBanner(1));
    EXPECT_TRUE(InitializeLogsOnlyBanner(2));
    log.Clear();
    EXPECT_EQ(Finalize(), 1);
    EXPECT_EQ(Finalize(), 1);
    EXPECT_EQ(HostMessages(), Lines{});
}

// The level set by the last opened camera outlives the registry, so the
// first initialize after it shows the registry being built.
TEST_F(HostLifecycle, InitializeAndFinalizeLogTheirStepsAtLevelTwo) {
    ASSERT_EQ(Initialize(), 1);
    ASSERT_TRUE(SetLogLevel(2));

    std::time_t before = std::time(nullptr);
    ASSERT_EQ(Initialize(), 1);
    std::time_t after = std::time(nullptr);
    Lines messages = HostMessages();
    ASSERT_EQ(messages.size(), 2u) << testing::PrintToString(messages);
    EXPECT_EQ(messages[0], "===============\ninitialize: \n");
    EXPECT_TRUE(IsBanner(messages[1], 2, before, after));

    log.Clear();
    EXPECT_EQ(Finalize(), 1);
    EXPECT_EQ(HostMessages(), (Lines{"finalize: entering, refcount=2\n", "finalize: leaving, refcount=1\n"}));

    log.Clear();
    EXPECT_EQ(Finalize(), 1);
    EXPECT_EQ(HostMessages(), (Lines{"finalize: entering, refcount=1\n", "CameraList::~CameraList: entering\n",
                                     "CameraList::Destroy: entering\n", "CameraList::Destroy: leaving\n",
                                     "CameraList::~CameraList: leaving\n", "finalize: leaving, refcount=0\n"}));

    log.Clear();
    before = std::time(nullptr);
    ASSERT_EQ(Initialize(), 1);
    after = std::time(nullptr);
    messages = HostMessages();
    ASSERT_EQ(messages.size(), 4u) << testing::PrintToString(messages);
    EXPECT_EQ(messages[0], "===============\ninitialize: \n");
    EXPECT_EQ(messages[1], "CameraList::Init: entering\n");
    EXPECT_EQ(messages[2], "CameraList::Init: leaving\n");
    EXPECT_TRUE(IsBanner(messages[3], 1, before, after));
}

TEST_F(HostLifecycle, EveryLineReachesTheHostAsTimestampThenMessage) {
    ASSERT_EQ(Initialize(), 1);
    const std::vector<LogLine> lines = log.Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(IsLogTimestamp(lines[0].timestamp));
    EXPECT_EQ(lines[0].message.compare(0, std::string(kBannerStart).size(), kBannerStart), 0) << lines[0].message;
}

struct MissingPath {
    const char* name;
    const char* path;
};

class HostInitializeWithoutPath : public HostLifecycle, public testing::WithParamInterface<MissingPath> {};

TEST_P(HostInitializeWithoutPath, KeepsTheEarlierSystemPath) {
    ASSERT_EQ(Initialize(), 1);
    ASSERT_EQ(Initialize(GetParam().path, &LogRecorder::Record), 1);
    EXPECT_TRUE(SettingsReadFrom(systemDir.Path(), "Camera 1", 150));
}

INSTANTIATE_TEST_SUITE_P(Paths, HostInitializeWithoutPath,
                         testing::Values(MissingPath{"Null", nullptr}, MissingPath{"Empty", ""}), RowName());

TEST_F(HostLifecycle, InitializeWithAPathReplacesTheEarlierOne) {
    const testsupport::TempDir other;
    ASSERT_EQ(Initialize(), 1);
    WriteSection("Camera 1", SilentSection(1, 200));
    ASSERT_EQ(Initialize(other.Path().c_str(), &LogRecorder::Record), 1);
    EXPECT_TRUE(SettingsReadFrom(other.Path(), "Camera 1", 150));
}

TEST_F(HostLifecycle, SetSystemPathRefusesNullAndEmptyAndStoresAnyOther) {
    const testsupport::TempDir other;
    ASSERT_EQ(Initialize(), 1);
    EXPECT_EQ(driver.setSystemPath(nullptr), 0);
    EXPECT_EQ(driver.setSystemPath(""), 0);
    EXPECT_TRUE(SettingsReadFrom(systemDir.Path(), "Camera 1", 150));

    WriteSection("Camera 2", SilentSection(1, 200));
    EXPECT_EQ(driver.setSystemPath(other.Path().c_str()), 1);
    EXPECT_TRUE(SettingsReadFrom(other.Path(), "Camera 2", 120));
}

TEST_F(HostLifecycle, InitializeWithoutProcedureRemovesTheEarlierOne) {
    driver.setDebugMsgProc(&LogRecorder::Record);
    ASSERT_EQ(Initialize(systemDir.Path().c_str(), nullptr), 1);
    int dimensions[2] = {kPoison, kPoison};
    EXPECT_EQ(driver.openCVLPort(kGrabber, 5, "Undefined", dimensions), 0);
    EXPECT_EQ(log.Lines().size(), 0u);

    driver.setDebugMsgProc(&LogRecorder::Record);
    EXPECT_EQ(driver.openCVLPort(kGrabber, 5, "Undefined", dimensions), 0);
    EXPECT_EQ(HostMessages(),
              Lines{"openCVLPort: ERROR: undefined camera, grabberNo=0, portNo=5, cameraName=Undefined\n"});
}

TEST_F(HostLifecycle, SetDebugMsgProcNullSilencesTheHost) {
    ASSERT_EQ(Initialize(), 1);
    log.Clear();
    driver.setDebugMsgProc(nullptr);
    int dimensions[2] = {kPoison, kPoison};
    EXPECT_EQ(driver.openCVLPort(kGrabber, 5, nullptr, dimensions), 0);
    EXPECT_EQ(log.Lines().size(), 0u);

    driver.setDebugMsgProc(&LogRecorder::Record);
    EXPECT_EQ(driver.openCVLPort(kGrabber, 5, nullptr, dimensions), 0);
    EXPECT_EQ(HostMessages().size(), 1u);
}

// The stored LogLevel is taken as it stands, outside the dialog's range too.
TEST_F(HostLifecycle, LogLevelZeroSilencesEvenErrors) {
    ASSERT_EQ(Initialize(), 1);
    ASSERT_TRUE(SetLogLevel(0));
    int dimensions[2] = {kPoison, kPoison};
    EXPECT_EQ(driver.openCVLPort(kGrabber, 5, "Undefined", dimensions), 0);
    EXPECT_EQ(log.Lines().size(), 0u);
}

TEST_F(HostLifecycle, LogLevelNinePassesThePerRowLines) {
    ASSERT_EQ(Initialize(), 1);
    ASSERT_TRUE(SetLogLevel(9));
    unsigned char dest[16];
    EXPECT_EQ(driver.getCVLGrabRow(kGrabber, 7, dest, 2, 0, 3), 0);
    EXPECT_EQ(HostMessages(), (Lines{"getCVLGrabRow: entering row=2  grabberNo=0  portNo=7\n",
                                     "CameraList::GetByPort: ERROR: could not find camera on port 7\n",
                                     "getCVLGrabRow: --EXCEPTION caught \n"}));
}

}  // namespace
}  // namespace hosttest
