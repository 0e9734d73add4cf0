// configureCamera as a host calls it. This build has no settings dialog: a
// known camera is answered as if the dialog could not be shown (not
// confirmed), so only the result and the export's own lines are pinned here.
#include <string>
#include <vector>

#include "host_harness.h"

namespace hosttest {
namespace {

using Lines = std::vector<std::string>;

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
        EXPECT_EQ(HostMessages(), (Lines{std::string("configureCamera: entering cameraName=") + name + "\n",
                                         std::string("configureCamera: ERROR: cannot find camera by name: ") +
                                             name + "\n"}));
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
