// Camera without a camera server: construction, open and close with their
// log lines, the connection time-out's range, the log settings taken at an
// open, the callbacks and the properties.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "camera/camera.h"
#include "core_test_support.h"

namespace {

using coretest::Captured;
using coretest::IniSectionText;

using Clock = std::chrono::steady_clock;

long long MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

class CameraTest : public coretest::CoreTest {
protected:
    void TearDown() override {
        camera.reset();
        CoreTest::TearDown();
    }

    // The lines of the camera itself, without those of its link thread.
    static std::vector<std::string> CameraLines() {
        std::vector<std::string> lines;
        for (const std::string& message : Captured().Messages()) {
            if (message.rfind("Camera::", 0) == 0 || message.rfind("Camera '", 0) == 0 ||
                message.rfind("Opening camera", 0) == 0) {
                lines.push_back(message);
            }
        }
        return lines;
    }

    // Writes the camera's section: a share name nobody serves, and the lines
    // given.
    void WriteSection(const std::string& share, const std::vector<std::string>& lines) const {
        std::vector<std::string> all{"PipeName=" + share};
        all.insert(all.end(), lines.begin(), lines.end());
        WriteIni(IniSectionText("Camera 1", all));
    }

    // Opens on `port`; dimensions are poisoned first and must come back 0, 0.
    void Open(int port) {
        int dimensions[2] = {-7, -7};
        ASSERT_TRUE(camera->Open(port, dimensions));
        EXPECT_EQ(0, dimensions[0]);
        EXPECT_EQ(0, dimensions[1]);
    }

    // The camera as its link thread sees it, which alone sets the frame's
    // shape.
    LinkedCamera& Link() { return *camera; }

    const std::string shareName = coretest::UniqueShareName();
    std::unique_ptr<Camera> camera = std::make_unique<Camera>("Camera 1");
};

// ---- Construction ----

TEST_F(CameraTest, NullNameLogsAndThrowsTheRegistryError) {
    EXPECT_TRUE(coretest::ThrowsRegistryError([] { Camera unnamed(nullptr); }));

    EXPECT_EQ(std::vector<std::string>{"Camera::Camera: ERROR: name undefined\n"}, Captured().Messages());
}

TEST_F(CameraTest, NewCameraIsClosedWithDefaults) {
    EXPECT_EQ("Camera 1", camera->name);
    EXPECT_FALSE(camera->isOpen);
    EXPECT_FALSE(camera->isConnected);
    EXPECT_EQ(kNoPort, camera->port);
    EXPECT_EQ(0, camera->FrameShape().width);
    EXPECT_EQ(0, camera->FrameShape().height);
    EXPECT_EQ(0, camera->FrameShape().bytesPerPixel);
    EXPECT_EQ(nullptr, camera->completeCallback.load());
    EXPECT_EQ(nullptr, camera->cmdCallback.load());
    EXPECT_EQ(GetDriverState(), camera->driverState);
    EXPECT_EQ(0, camera->imageBuffer.Size());
    const CameraSettings settings = camera->Settings();
    EXPECT_EQ("Camera Share", settings.PipeName.value);
    EXPECT_EQ(3000, settings.ConnectionTimeout.value);
    EXPECT_EQ(1, settings.LogLevel.value);
    EXPECT_EQ(0, settings.LogIntoFile.value);
    EXPECT_FALSE(dir.Exists("Quorvex.ini"));
}

// ---- Open and close without a server ----

TEST_F(CameraTest, OpenWithoutServerWaitsTheTimeOutAndOpensAllTheSame) {
    WriteSection(shareName, {"LogLevel=2", "ConnectionTimeout=100"});
    // The entering line comes before the file's level is taken.
    GetDriverState()->logLevel = 2;

    const Clock::time_point start = Clock::now();
    Open(3);
    const long long elapsed = MillisecondsSince(start);

    EXPECT_GE(elapsed, 90);
    EXPECT_LT(elapsed, 5000);
    EXPECT_TRUE(camera->isOpen);
    EXPECT_FALSE(camera->isConnected);
    EXPECT_EQ(3, camera->port);
    EXPECT_EQ(shareName, camera->Settings().PipeName.value);
    EXPECT_EQ((std::vector<std::string>{
                  "Camera::Open: entering port=3\n",
                  "Opening camera Camera 1 on port 3\n",
                  "Camera::Open: Waiting for image dimensions retrieved, port=3\n",
                  "Camera::Open: Could not retrieve image dimensions within given timeout=100, port=3\n",
                  "Camera::Open: leaving, port=3\n",
              }),
              CameraLines());
}

TEST_F(CameraTest, OpenWithoutSettingsFileKeepsDefaultsAndCreatesNoFile) {
    // Without a file the share is "Camera Share" and the wait 3000 ms: shorten
    // the wait in memory, which a missing key leaves as it is.
    CameraSettings shortWait = camera->Settings();
    shortWait.ConnectionTimeout.value = 100;
    camera->ReplaceSettings(shortWait);

    Open(4);

    const CameraSettings settings = camera->Settings();
    EXPECT_EQ("Camera Share", settings.PipeName.value);
    EXPECT_EQ(1, settings.LogLevel.value);
    EXPECT_EQ(100, settings.ConnectionTimeout.value);
    EXPECT_EQ(1, GetDriverState()->logLevel);
    EXPECT_FALSE(dir.Exists("Quorvex.ini"));
}

TEST_F(CameraTest, CloseLogsAndReleasesThePort) {
    WriteSection(shareName, {"LogLevel=2", "ConnectionTimeout=100"});
    Open(3);
    Captured().Clear();

    camera->Close();

    EXPECT_FALSE(camera->isOpen);
    EXPECT_EQ(kNoPort, camera->port);
    EXPECT_EQ((std::vector<std::string>{
                  "Camera::Close: entering\n",
                  "Camera::CleanupOnClose: entering\n",
                  "Camera::CleanupOnClose: leaving\n",
                  "Camera::Close: leaving on port 3\n",
              }),
              CameraLines());
}

TEST_F(CameraTest, CloseOfAClosedCameraWarnsAndCleansUpAnyway) {
    GetDriverState()->logLevel = 2;

    camera->Close();

    EXPECT_EQ(kNoPort, camera->port);
    EXPECT_EQ((std::vector<std::string>{
                  "Camera::Close: entering\n",
                  "Camera::Close: WARNING: called on already closed camera\n",
                  "Camera::CleanupOnClose: entering\n",
                  "Camera::CleanupOnClose: leaving\n",
                  "Camera::Close: leaving on port -2\n",
              }),
              CameraLines());
}

TEST_F(CameraTest, OpenOfAnOpenCameraKeepsItsFirstPortAndSettings) {
    WriteSection(shareName, {"ConnectionTimeout=100"});
    Open(3);
    WriteSection("Changed Share", {"ConnectionTimeout=200", "LogLevel=3"});
    Captured().Clear();

    Open(8);

    EXPECT_TRUE(camera->isOpen);
    EXPECT_EQ(3, camera->port);
    EXPECT_EQ(shareName, camera->Settings().PipeName.value);
    EXPECT_EQ(100, camera->Settings().ConnectionTimeout.value);
    EXPECT_EQ(1, GetDriverState()->logLevel);
    EXPECT_EQ((std::vector<std::string>{
                  "Opening camera Camera 1 on port 8\n",
                  "Camera::Open: ERROR:  Camera 1 is already open on port 3\n",
              }),
              CameraLines());
}

TEST_F(CameraTest, EveryOpenLoadsTheSettingsAgain) {
    WriteSection(shareName, {"ConnectionTimeout=100"});
    Open(3);
    camera->Close();
    const std::string otherShare = coretest::UniqueShareName();
    WriteSection(otherShare, {"ConnectionTimeout=120", "LogLevel=2"});

    Open(5);

    EXPECT_EQ(otherShare, camera->Settings().PipeName.value);
    EXPECT_EQ(120, camera->Settings().ConnectionTimeout.value);
    EXPECT_EQ(2, GetDriverState()->logLevel);
    EXPECT_EQ(5, camera->port);
}

TEST_F(CameraTest, DestroyingAnOpenCameraClosesIt) {
    WriteSection(shareName, {"ConnectionTimeout=100", "LogLevel=2"});
    Open(6);
    Captured().Clear();

    camera.reset();

    EXPECT_EQ((std::vector<std::string>{
                  "Camera::Close: entering\n",
                  "Camera::CleanupOnClose: entering\n",
                  "Camera::CleanupOnClose: leaving\n",
                  "Camera::Close: leaving on port 6\n",
              }),
              CameraLines());
}

// ---- Connection time-out ----

struct TimeoutCase {
    const char* name;
    int stored;
    int used;
};

const TimeoutCase kTimeouts[] = {
    {"BelowMinimumIsRaised", 50, 100}, {"NegativeIsRaised", -5, 100},           {"AtMinimumStays", 100, 100},
    {"InRangeStays", 260, 260},        {"AboveMaximumIsLowered", 60000, 10000},
};

class CameraTimeoutTest : public CameraTest, public testing::WithParamInterface<TimeoutCase> {};

TEST_P(CameraTimeoutTest, IsBroughtIntoRangeInTheSettingsButNotTheFile) {
    const TimeoutCase& row = GetParam();
    WriteSection(shareName, {"ConnectionTimeout=" + std::to_string(row.stored)});
    const std::string storedFile = dir.Read("Quorvex.ini");

    const Clock::time_point start = Clock::now();
    Open(2);
    const long long elapsed = MillisecondsSince(start);

    EXPECT_EQ(row.used, camera->Settings().ConnectionTimeout.value);
    EXPECT_EQ(std::vector<std::string>{"Camera::Open: Could not retrieve image dimensions within given timeout=" +
                                       std::to_string(row.used) + ", port=2\n"},
              Captured().MessagesStartingWith("Camera::Open: Could not"));
    EXPECT_GE(elapsed, row.used - 10);
    EXPECT_LT(elapsed, row.used + 5000);
    EXPECT_EQ(storedFile, dir.Read("Quorvex.ini"));
}

INSTANTIATE_TEST_SUITE_P(Rows, CameraTimeoutTest, testing::ValuesIn(kTimeouts), RowName());

// ---- Log settings taken at an open ----

TEST_F(CameraTest, LogLevelFromTheFilePassesUncheckedIntoTheDriverState) {
    WriteSection(shareName, {"ConnectionTimeout=100", "LogLevel=9"});

    Open(1);

    EXPECT_EQ(9, GetDriverState()->logLevel);
    Captured().Clear();
    camera->GetProperty("Width", nullptr);
    EXPECT_EQ(std::vector<std::string>{"Camera::GetProperty: prop=Width\n"}, CameraLines());
}

TEST_F(CameraTest, LogLevelZeroSilencesTheHostProcedure) {
    WriteSection(shareName, {"ConnectionTimeout=100", "LogLevel=0"});

    Open(1);
    EXPECT_EQ(0, GetDriverState()->logLevel);
    Captured().Clear();
    camera->Close();

    EXPECT_TRUE(Captured().Calls().empty());
}

TEST_F(CameraTest, LogIntoFileInTheFileHasNoEffect) {
    WriteSection(shareName, {"ConnectionTimeout=100", "LogIntoFile=1"});

    Open(1);

    EXPECT_FALSE(GetDriverState()->logIntoFile);
    EXPECT_EQ(0, camera->Settings().LogIntoFile.value);
    EXPECT_FALSE(dir.Exists("Quorvex.log"));
}

TEST_F(CameraTest, LogIntoFileInTheSettingsTurnsTheLogFileOn) {
    WriteSection(shareName, {"ConnectionTimeout=100"});
    CameraSettings withFile = camera->Settings();
    withFile.LogIntoFile.value = 1;
    camera->ReplaceSettings(withFile);

    Open(1);

    EXPECT_TRUE(GetDriverState()->logIntoFile);
    // The time-out line is level 1 and comes after the settings were taken.
    EXPECT_NE(std::string::npos, dir.Read("Quorvex.log").find("within given timeout=100, port=1"));
}

// ---- Connection state ----

TEST_F(CameraTest, ConnectedTwiceLogsOnceAndCloseLogsOneDisconnect) {
    WriteSection(shareName, {"ConnectionTimeout=100"});
    Open(4);
    Captured().Clear();

    camera->SetConnected(true);
    camera->SetConnected(true);
    EXPECT_TRUE(camera->isConnected);
    camera->Close();

    EXPECT_FALSE(camera->isConnected);
    EXPECT_EQ((std::vector<std::string>{
                  "Camera 'Camera 1' on port 4 connected to share '" + shareName + "'\n",
                  "Camera 'Camera 1' on port 4 disconnected from share '" + shareName + "'\n",
              }),
              Captured().MessagesStartingWith("Camera '"));
}

TEST_F(CameraTest, DisconnectedWhileNotConnectedLogsNothing) {
    camera->SetConnected(false);

    EXPECT_FALSE(camera->isConnected);
    EXPECT_TRUE(Captured().Calls().empty());
}

// ---- Callbacks ----

void QUORVEX_CALL CompleteA(int, int) {}
void QUORVEX_CALL CompleteB(int, int) {}
void QUORVEX_CALL CmdA(int, int, const char*, const char*) {}

struct CompleteCase {
    const char* name;
    CompleteCallback before;
    CompleteCallback cb;
    const char* pieces;
};

const CompleteCase kCompleteCases[] = {
    {"NullToNull", nullptr, nullptr, "Resetting CB to null. "},
    {"NullToA", nullptr, &CompleteA, ""},
    {"AToA", &CompleteA, &CompleteA, "CB was already assigned. The new CB is the same function. "},
    {"AToB", &CompleteA, &CompleteB, "CB was already assigned. "},
    {"AToNull", &CompleteA, nullptr, "CB was already assigned. Resetting CB to null. "},
};

class CameraCompleteCallbackTest : public CameraTest, public testing::WithParamInterface<CompleteCase> {};

TEST_P(CameraCompleteCallbackTest, LogsOneLineOfPiecesAndStores) {
    const CompleteCase& row = GetParam();
    camera->completeCallback = row.before;
    GetDriverState()->logLevel = 2;

    camera->SetCompleteCB(row.cb);

    EXPECT_EQ(row.cb, camera->completeCallback.load());
    EXPECT_EQ(std::vector<std::string>{"Camera::SetCompleteCB: " + std::string(row.pieces) + "\n"},
              Captured().Messages());
}

INSTANTIATE_TEST_SUITE_P(Rows, CameraCompleteCallbackTest, testing::ValuesIn(kCompleteCases), RowName());

TEST_F(CameraTest, SetCmdCallbackLogsSetOrUnsetWithThePort) {
    GetDriverState()->logLevel = 2;

    camera->SetCmdCallback(&CmdA);
    EXPECT_EQ(&CmdA, camera->cmdCallback.load());
    camera->SetCmdCallback(nullptr);
    EXPECT_EQ(nullptr, camera->cmdCallback.load());

    EXPECT_EQ((std::vector<std::string>{"Camera::SetCmdCallback: cmd callback set, port=-2\n",
                                        "Camera::SetCmdCallback: cmd callback unset, port=-2\n"}),
              Captured().Messages());
}

TEST_F(CameraTest, SetCmdCallbackOnAnOpenCameraLogsItsPort) {
    WriteSection(shareName, {"ConnectionTimeout=100", "LogLevel=2"});
    Open(11);
    Captured().Clear();

    camera->SetCmdCallback(&CmdA);

    EXPECT_EQ(std::vector<std::string>{"Camera::SetCmdCallback: cmd callback set, port=11\n"},
              Captured().MessagesStartingWith("Camera::SetCmdCallback"));
}

TEST_F(CameraTest, CloseAndReopenKeepCallbacksSettingsGeometryAndBuffer) {
    WriteSection(shareName, {"ConnectionTimeout=100"});
    Open(1);
    camera->SetCompleteCB(&CompleteA);
    camera->SetCmdCallback(&CmdA);
    Link().AdoptFrameShape(FrameGeometry{32, 16, 2}, 1);
    camera->imageBuffer.Allocate(32, 16, 2);
    uint8_t* const block = camera->imageBuffer.Data();

    camera->Close();
    EXPECT_EQ(&CompleteA, camera->completeCallback.load());
    EXPECT_EQ(&CmdA, camera->cmdCallback.load());
    EXPECT_EQ(32, camera->FrameShape().width);
    EXPECT_EQ(16, camera->FrameShape().height);
    EXPECT_EQ(2, camera->FrameShape().bytesPerPixel);
    EXPECT_EQ(block, camera->imageBuffer.Data());
    EXPECT_EQ(shareName, camera->Settings().PipeName.value);

    Open(2);
    EXPECT_EQ(&CompleteA, camera->completeCallback.load());
    EXPECT_EQ(&CmdA, camera->cmdCallback.load());
    EXPECT_EQ(block, camera->imageBuffer.Data());
}

// ---- Properties ----

struct PropertyCase {
    const char* name;
    const char* property;
    bool known;
    int value;
};

// Geometry set for the table: 640 x 480 at one byte per pixel.
const PropertyCase kProperties[] = {
    {"PixelSize", "PixelSize", true, 8},
    {"PixelSizeInSmallLetters", "pixelsize", true, 8},
    {"PixelSizeInCapitals", "PIXELSIZE", true, 8},
    {"Width", "Width", true, 640},
    {"WidthInSmallLetters", "width", true, 640},
    {"Height", "Height", true, 480},
    {"HeightInCapitals", "HEIGHT", true, 480},
    {"Depth", "Depth", false, 0},
    {"Empty", "", false, 0},
    {"LongerName", "Widths", false, 0},
    {"ShorterName", "Widt", false, 0},
    {"TrailingBlank", "Height ", false, 0},
};

class CameraPropertyTest : public CameraTest, public testing::WithParamInterface<PropertyCase> {};

TEST_P(CameraPropertyTest, KnownNamesIgnoreCaseOthersLeaveTheValue) {
    const PropertyCase& row = GetParam();
    Link().AdoptFrameShape(FrameGeometry{640, 480, 1}, kNoPort);
    GetDriverState()->logLevel = 3;
    int value = 12345;

    EXPECT_EQ(row.known, camera->GetProperty(row.property, &value));

    std::vector<std::string> expected{"Camera::GetProperty: prop=" + std::string(row.property) + "\n"};
    if (row.known) {
        EXPECT_EQ(row.value, value);
        expected.push_back("Camera::GetProperty: prop=" + std::string(row.property) +
                           ", value=" + std::to_string(row.value) + "\n");
    } else {
        EXPECT_EQ(12345, value);
    }
    EXPECT_EQ(expected, Captured().Messages());
}

INSTANTIATE_TEST_SUITE_P(Rows, CameraPropertyTest, testing::ValuesIn(kProperties), RowName());

TEST_F(CameraTest, PixelSizeIsBitsPerPixel) {
    Link().AdoptFrameShape(FrameGeometry{0, 0, 3}, kNoPort);
    int value = -1;

    EXPECT_TRUE(camera->GetProperty("PixelSize", &value));

    EXPECT_EQ(24, value);
}

TEST_F(CameraTest, WidthAndHeightAreZeroBeforeAnyDimensions) {
    WriteSection(shareName, {"ConnectionTimeout=100"});
    Open(1);
    int width = -1;
    int height = -1;

    EXPECT_TRUE(camera->GetProperty("Width", &width));
    EXPECT_TRUE(camera->GetProperty("Height", &height));

    EXPECT_EQ(0, width);
    EXPECT_EQ(0, height);
}

TEST_F(CameraTest, NullNameOrNullValueIsUnknown) {
    int value = 12345;

    EXPECT_FALSE(camera->GetProperty(nullptr, &value));
    EXPECT_FALSE(camera->GetProperty("Width", nullptr));

    EXPECT_EQ(12345, value);
}

}  // namespace
