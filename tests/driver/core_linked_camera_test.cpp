// Camera as its link thread sees it (LinkedCamera), without a camera server:
// a new frame shape asks the host for a reset only when an open camera's
// buffer has another shape, and is taken whatever the host answers; frames
// go only to an open camera with a callback, into a buffer of their shape;
// a camera whose link was told to stop is not reported connected.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "camera/camera.h"
#include "core_test_support.h"

namespace {

using coretest::Captured;

constexpr int32_t kPort = 7;
constexpr FrameGeometry kShape{4, 2, 1};

// What the host's command callback was told, and the width the camera
// reported to it at that moment.
struct Command {
    int port;
    std::string text;
    int widthSeen;
};

Camera* theCamera = nullptr;
std::vector<Command> commands;

void QUORVEX_CALL OnCommand(int, int port, const char* command, const char*) {
    int width = -1;
    theCamera->GetProperty("Width", &width);
    commands.push_back(Command{port, command, width});
}

void QUORVEX_CALL OnFrame(int, int) {}

class LinkedCameraTest : public coretest::CoreTest {
protected:
    void SetUp() override {
        CoreTest::SetUp();
        theCamera = camera.get();
        commands.clear();
    }

    void TearDown() override {
        camera.reset();
        theCamera = nullptr;
        CoreTest::TearDown();
    }

    // Opened without a server: the link keeps trying in the background and
    // never brings a shape.
    void Open() {
        WriteIni(coretest::ServerlessSection("Camera 1", 3));
        int dimensions[2] = {-7, -7};
        ASSERT_TRUE(camera->Open(kPort, dimensions));
    }

    LinkedCamera& Link() { return *camera; }

    std::unique_ptr<Camera> camera = std::make_unique<Camera>("Camera 1");
};

TEST_F(LinkedCameraTest, AClosedCameraTakesAShapeWithoutAskingTheHost) {
    camera->SetCmdCallback(&OnCommand);

    Link().AdoptFrameShape(kShape, kPort);

    EXPECT_TRUE(commands.empty());
    EXPECT_EQ(kShape, camera->FrameShape());
    EXPECT_EQ(kShape, camera->imageBuffer.Geometry());
    EXPECT_EQ(8, camera->imageBuffer.Size());
}

TEST_F(LinkedCameraTest, AnOpenCameraAsksForAResetBeforeItTakesAnotherShape) {
    Open();
    camera->SetCmdCallback(&OnCommand);

    Link().AdoptFrameShape(kShape, kPort);
    Link().AdoptFrameShape(kShape, kPort);

    ASSERT_EQ(1u, commands.size());
    EXPECT_EQ(kPort, commands[0].port);
    EXPECT_EQ("Reset", commands[0].text);
    EXPECT_EQ(0, commands[0].widthSeen);
    EXPECT_EQ(1, Captured().Count("CmdExchangeThread::ProcessRunningStates: WARNING: dimesnions changed, requesting "
                                  "reset, port=7\n"));
    EXPECT_EQ(kShape, camera->FrameShape());

    // The same byte count in another shape keeps the block, and is a reset.
    const uint8_t* const block = camera->imageBuffer.Data();
    Link().AdoptFrameShape(FrameGeometry{2, 4, 1}, kPort);
    ASSERT_EQ(2u, commands.size());
    EXPECT_EQ(kShape.width, commands[1].widthSeen);
    EXPECT_EQ(block, camera->imageBuffer.Data());
    EXPECT_EQ((FrameGeometry{2, 4, 1}), camera->imageBuffer.Geometry());
}

TEST_F(LinkedCameraTest, AResetWithoutACommandCallbackIsLogged) {
    Open();

    Link().RequestReset(kPort);

    EXPECT_EQ(1, Captured().Count("CmdExchangeThread::RequestReset: ERROR: command callback not assigned, port=7\n"));
}

TEST_F(LinkedCameraTest, AShapeNoBufferCanTakeThrowsAndIsTheCurrentOneAllTheSame) {
    Link().AdoptFrameShape(kShape, kPort);
    const FrameGeometry absurd{100000, 100000, 4};

    EXPECT_THROW(Link().AdoptFrameShape(absurd, kPort), std::runtime_error);

    EXPECT_EQ(absurd, camera->FrameShape());
    EXPECT_EQ(kShape, camera->imageBuffer.Geometry());
    EXPECT_EQ(0, Link().StorableFrameBytes());
}

TEST_F(LinkedCameraTest, FramesGoOnlyToAnOpenCameraWithACallback) {
    camera->SetCompleteCB(&OnFrame);
    EXPECT_EQ(nullptr, Link().FrameReceiver());
    Open();
    camera->SetCompleteCB(nullptr);
    EXPECT_EQ(nullptr, Link().FrameReceiver());
    camera->SetCompleteCB(&OnFrame);
    EXPECT_EQ(&OnFrame, Link().FrameReceiver());
}

TEST_F(LinkedCameraTest, AFrameIsStoredOnlyIntoABufferOfItsShape) {
    const uint8_t frame[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(0, Link().StorableFrameBytes());
    Link().AdoptFrameShape(kShape, kPort);

    ASSERT_EQ(8, Link().StorableFrameBytes());
    ASSERT_TRUE(Link().StoreFrame(frame));
    EXPECT_EQ(0, std::memcmp(frame, camera->imageBuffer.Data(), sizeof frame));

    camera->imageBuffer.Allocate(4, 4, 1);
    std::memset(camera->imageBuffer.Data(), 0, 16);
    EXPECT_EQ(0, Link().StorableFrameBytes());
    EXPECT_FALSE(Link().StoreFrame(frame));
    EXPECT_EQ(std::vector<uint8_t>(16, 0),
              std::vector<uint8_t>(camera->imageBuffer.Data(), camera->imageBuffer.Data() + 16));
}

TEST_F(LinkedCameraTest, ALinkToldToStopIsNotReportedConnected) {
    Open();
    ASSERT_TRUE(Link().ReportConnected());
    EXPECT_TRUE(Link().IsConnected());
    Link().ReportDisconnected();
    EXPECT_FALSE(camera->isConnected);

    camera->cmdThread.RequestStop();

    EXPECT_FALSE(Link().ReportConnected());
    EXPECT_FALSE(camera->isConnected);
}

}  // namespace
