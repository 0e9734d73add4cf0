// configureCamera as a host calls it. For a known camera only the answer
// when the dialog cannot be shown (no display: not confirmed) and the
// export's own lines are pinned here; tests/ui drives the dialog itself.
#include <cstdlib>
#include <string>
#include <vector>

#include "host_harness.h"

namespace hosttest {
namespace {

using Lines = std::vector<std::string>;

// With a display the dialog appears and waits for a user that these cases
// do not play.
bool DialogCanAppear() {
    const char* display = std::getenv("DISPLAY");
    return display != nullptr && *display != '\0';
}

class HostConfigure : public HostTest {
protected:
    // The lines that configureCamera logs itself, without those of the
    // camera and the dialog in between.
    Lines ExportMessages() const {
        Lines own;
        for (const std::string& message : HostMessages()) {
            if (message.rfind("configureCamera", 0) == 0) {
                own.push_back(message);
            }
        }
        return own;
    }
};

TEST_F(HostConfigure, UnknownNamesReturnZeroWithoutLeavingLine) {
    ASSERT_EQ(Initialize(), 1);
    ASSERT_TRUE(SetLogLevel(2));
    for (const char* name : {"Camera 33", "camera 1", "Undefined"}) {
        SCOPED_TRACE(name);
        log.Clear();
        EXPECT_EQ(driver.configureCamera(nullptr, name), 0);
        EXPECT_EQ(HostMessages(),
                  (Lines{std::string("configureCamera: entering cameraName=") + name + "\n",
                         std::string("configureCamera: ERROR: cannot find camera by name: ") + name + "\n"}));
    }
}

TEST_F(HostConfigure, NullNameEndsInTheFenceAndStillReturnsOne) {
    ASSERT_EQ(Initialize(), 1);
    ASSERT_TRUE(SetLogLevel(2));
    EXPECT_EQ(driver.configureCamera(nullptr, nullptr), 1);
    EXPECT_EQ(HostMessages(), (Lines{"configureCamera: entering cameraName=(null)\n",
                                     "configureCamera --EXCEPTION , cameraName=(null)\n",
                                     "configureCamera: leaving cameraName=(null)\n"}));
}

// With no cameras there is nothing to compare a null name with.
TEST_F(HostConfigure, NullNameBeforeInitializeIsNotFound) {
    driver.setDebugMsgProc(&LogRecorder::Record);
    EXPECT_EQ(driver.configureCamera(nullptr, nullptr), 0);
    EXPECT_EQ(HostMessages(), Lines{"configureCamera: ERROR: cannot find camera by name: (null)\n"});
}

TEST_F(HostConfigure, KnownClosedCameraIsNotConfirmed) {
    if (DialogCanAppear()) {
        GTEST_SKIP() << "a display is set: the dialog would wait for its user (tests/ui drives it)";
    }
    ASSERT_EQ(Initialize(), 1);
    ASSERT_TRUE(SetLogLevel(2));
    EXPECT_EQ(driver.configureCamera(nullptr, "Camera 1"), 1);
    EXPECT_EQ(ExportMessages(), (Lines{"configureCamera: entering cameraName=Camera 1\n",
                                       "configureCamera: leaving cameraName=Camera 1\n"}));
    const Lines messages = HostMessages();
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.front(), "configureCamera: entering cameraName=Camera 1\n");
    EXPECT_EQ(messages.back(), "configureCamera: leaving cameraName=Camera 1\n");
}

TEST_F(HostConfigure, KnownOpenCameraStaysOpenOnItsPort) {
    if (DialogCanAppear()) {
        GTEST_SKIP() << "a display is set: the dialog would wait for its user (tests/ui drives it)";
    }
    ASSERT_EQ(Initialize(), 1);
    ASSERT_TRUE(OpenSilent("Camera 1", 5, 2));
    EXPECT_EQ(driver.configureCamera(nullptr, "Camera 1"), 1);
    EXPECT_EQ(ExportMessages(), (Lines{"configureCamera: entering cameraName=Camera 1\n",
                                       "configureCamera: leaving cameraName=Camera 1\n"}));
    int value = kPoison;
    EXPECT_EQ(driver.getProperty(kGrabber, 5, "Width", &value), 1);
    EXPECT_EQ(value, 0);
}

}  // namespace
}  // namespace hosttest
