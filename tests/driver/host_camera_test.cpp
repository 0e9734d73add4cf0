// Per-port exports on an open camera that has had no frame yet: properties,
// the host callbacks and row reads.
#include <cstring>
#include <string>
#include <vector>

#include "host_harness.h"

namespace hosttest {
namespace {

// Lets the test lists name the rows.
using hosttest::operator<<;
using Lines = std::vector<std::string>;

constexpr int kPort = 5;

void QUORVEX_CALL CompleteA(int, int) {}
void QUORVEX_CALL CompleteB(int, int) {}
void QUORVEX_CALL SomeCommand(int, int, const char*, const char*) {}

class HostCamera : public HostTest {
protected:
    // Camera 1 open on kPort without a server, with the log at `level`.
    testing::AssertionResult OpenCamera(int level) {
        const int initialized = Initialize();
        if (initialized != 1) {
            return testing::AssertionFailure() << "initialize returned " << initialized;
        }
        return OpenSilent("Camera 1", kPort, level);
    }
};

struct PropertyRow {
    const char* name;
    bool known;
};

TEST_F(HostCamera, PropertiesBeforeAnyFrame) {
    ASSERT_TRUE(OpenCamera(3));
    const PropertyRow rows[] = {{"Width", true}, {"Height", true}, {"PixelSize", true}, {"pixelsize", true},
                                {"WIDTH", true}, {"Depth", false}, {"", false},         {"Width ", false}};
    for (const PropertyRow& row : rows) {
        SCOPED_TRACE(row.name);
        log.Clear();
        int value = kPoison;
        EXPECT_EQ(driver.getProperty(kGrabber, kPort, row.name, &value), row.known ? 1 : 0);
        Lines expected = {"getProperty: portNo=5, prop=" + std::string(row.name) + "\n",
                          "Camera::GetProperty: prop=" + std::string(row.name) + "\n"};
        if (row.known) {
            EXPECT_EQ(value, 0);
            expected.push_back("Camera::GetProperty: prop=" + std::string(row.name) + ", value=0\n");
        } else {
            EXPECT_EQ(value, kPoison);
        }
        EXPECT_EQ(HostMessages(), expected);
    }
}

TEST_F(HostCamera, NullPropertyNameAnswersZeroWithoutTheFence) {
    ASSERT_TRUE(OpenCamera(3));
    int value = kPoison;
    EXPECT_EQ(driver.getProperty(kGrabber, kPort, nullptr, &value), 0);
    EXPECT_EQ(value, kPoison);
    const Lines messages = HostMessages();
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages[0].rfind("getProperty: portNo=5, prop=", 0), 0u) << messages[0];
    for (const std::string& message : messages) {
        EXPECT_EQ(message.find("EXCEPTION"), std::string::npos) << message;
    }
}

enum class Callback { None, A, B };

CompleteCallback Procedure(Callback which) {
    switch (which) {
    case Callback::A:
        return &CompleteA;
    case Callback::B:
        return &CompleteB;
    case Callback::None:
        break;
    }
    return nullptr;
}

struct CompleteCallbackRow {
    const char* name;
    Callback before;
    Callback given;
    const char* pieces;  // what Camera::SetCompleteCB adds after its name
};

class HostCompleteCallback : public HostCamera, public testing::WithParamInterface<CompleteCallbackRow> {};

TEST_P(HostCompleteCallback, LogsWhatItReplaces) {
    const CompleteCallbackRow& row = GetParam();
    ASSERT_TRUE(OpenCamera(2));
    if (row.before != Callback::None) {
        ASSERT_EQ(driver.setCompleteCallback(kGrabber, kPort, Procedure(row.before)), 1);
        log.Clear();
    }
    EXPECT_EQ(driver.setCompleteCallback(kGrabber, kPort, Procedure(row.given)), 1);
    EXPECT_EQ(HostMessages(), (Lines{"setCompleteCallback: entering grabberNo=0   portNo=5\n",
                                     std::string("Camera::SetCompleteCB: ") + row.pieces + "\n",
                                     "setCompleteCallback: leaving grabberNo=0   portNo=5\n"}));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HostCompleteCallback,
    testing::Values(CompleteCallbackRow{"NullToNull", Callback::None, Callback::None, "Resetting CB to null. "},
                    CompleteCallbackRow{"NullToA", Callback::None, Callback::A, ""},
                    CompleteCallbackRow{"AToA", Callback::A, Callback::A,
                                        "CB was already assigned. The new CB is the same function. "},
                    CompleteCallbackRow{"AToB", Callback::A, Callback::B, "CB was already assigned. "},
                    CompleteCallbackRow{"AToNull", Callback::A, Callback::None,
                                        "CB was already assigned. Resetting CB to null. "}),
    RowName());

TEST_F(HostCamera, SetCmdCallbackLogsSetAndUnset) {
    ASSERT_TRUE(OpenCamera(3));
    EXPECT_EQ(driver.setCmdCallback(kGrabber, kPort, &SomeCommand), 1);
    EXPECT_EQ(HostMessages(),
              (Lines{"setCmdCallback: portNo=5\n", "Camera::SetCmdCallback: cmd callback set, port=5\n"}));
    log.Clear();
    EXPECT_EQ(driver.setCmdCallback(kGrabber, kPort, nullptr), 1);
    EXPECT_EQ(HostMessages(),
              (Lines{"setCmdCallback: portNo=5\n", "Camera::SetCmdCallback: cmd callback unset, port=5\n"}));
}

const char* const kUnallocated = "ImageBuffer::GetLine: ERROR: cannot proceed since it finds unallocated buffer\n";

TEST_F(HostCamera, GrabRowWithoutFramesFindsNoBuffer) {
    ASSERT_TRUE(OpenCamera(1));
    unsigned char dest[64];
    std::memset(dest, 0xA5, sizeof dest);
    EXPECT_EQ(driver.getCVLGrabRow(kGrabber, kPort, dest, 0, 0, 9), 0);
    for (unsigned char byte : dest) {
        ASSERT_EQ(byte, 0xA5);
    }
    EXPECT_EQ(HostMessages(), Lines{kUnallocated});

    log.Clear();
    EXPECT_EQ(driver.getCVLGrabRow(kGrabber, kPort, nullptr, 0, 0, 9), 0);
    EXPECT_EQ(HostMessages(), Lines{kUnallocated});
}

TEST_F(HostCamera, GrabRowLogsItsEnteringLineAtLevelFour) {
    ASSERT_TRUE(OpenCamera(4));
    unsigned char dest[64];
    EXPECT_EQ(driver.getCVLGrabRow(kGrabber, kPort, dest, 3, 0, 9), 0);
    EXPECT_EQ(HostMessages(), (Lines{"getCVLGrabRow: entering row=3  grabberNo=0  portNo=5\n", kUnallocated}));
}

TEST_F(HostCamera, GrabRowLinesStayHiddenBelowLevelFour) {
    ASSERT_TRUE(OpenCamera(3));
    unsigned char dest[64];
    EXPECT_EQ(driver.getCVLGrabRow(kGrabber, kPort, dest, 3, 0, 9), 0);
    EXPECT_EQ(HostMessages(), Lines{kUnallocated});
}

}  // namespace
}  // namespace hosttest
