// Hosts that call back into the driver from inside a camera's own callbacks:
// closing the camera, opening it again on the same or another port, and
// ending the driver with the last finalize.
#include <atomic>
#include <string>
#include <thread>

#include "host_e2e.h"

namespace e2e {
namespace {

// What the host does once, inside one of its callbacks.
enum class Action : int { Close, Reopen, Finalize };
enum class When : int { Frame, Reset };

// The plan of the test that runs, and what came of it. The callbacks run on
// the cameras' link threads.
struct Plan {
    std::atomic<int> action{static_cast<int>(Action::Close)};
    std::atomic<int> when{static_cast<int>(When::Frame)};
    // Reopen: the camera and its new port.
    std::string camera;
    std::atomic<int> newPort{0};
    std::atomic<int> acted{0};
    // Set once the action has returned.
    std::atomic<bool> finished{false};
    std::atomic<int> openResult{-1};
    std::atomic<int> openWidth{-1};
    std::atomic<DWORD> openMs{0};
    std::atomic<DWORD> actingThread{0};
    // Set once the action has started, for a test that races it.
    platform::UniqueEvent started{CreateEventA(nullptr, TRUE, FALSE, nullptr)};

    void Clear() {
        acted = 0;
        finished = false;
        openResult = -1;
        openWidth = -1;
        openMs = 0;
        actingThread = 0;
        ResetEvent(started.get());
    }
};

Plan& ThePlan() {
    static Plan plan;
    return plan;
}

void QUORVEX_CALL OnFrameThenAct(int grabberNo, int portNo);
void QUORVEX_CALL OnCommandThenAct(int grabberNo, int portNo, const char* command, const char* argument);

void Act(int port) {
    Plan& plan = ThePlan();
    if (plan.acted.exchange(1) != 0) {
        return;
    }
    plan.actingThread = GetCurrentThreadId();
    SetEvent(plan.started.get());
    const hosttest::DriverExports& driver = hosttest::HostLibrary::Get().Exports();
    switch (static_cast<Action>(plan.action.load())) {
    case Action::Close:
        driver.closeCVLPort(0, port);
        break;
    case Action::Reopen: {
        driver.closeCVLPort(0, port);
        const int newPort = plan.newPort;
        int dimensions[2] = {hosttest::kPoison, hosttest::kPoison};
        const DWORD start = Now();
        plan.openResult = driver.openCVLPort(0, newPort, plan.camera.c_str(), dimensions);
        plan.openMs = Now() - start;
        plan.openWidth = dimensions[0];
        driver.setCmdCallback(0, newPort, &OnCommandThenAct);
        driver.setCompleteCallback(0, newPort, &OnFrameThenAct);
        break;
    }
    case Action::Finalize:
        driver.finalize();
        break;
    }
    plan.finished = true;
}

void QUORVEX_CALL OnFrameThenAct(int grabberNo, int portNo) {
    OnComplete(grabberNo, portNo);
    if (static_cast<When>(ThePlan().when.load()) == When::Frame) {
        Act(portNo);
    }
}

void QUORVEX_CALL OnCommandThenAct(int grabberNo, int portNo, const char* command, const char* argument) {
    OnCommand(grabberNo, portNo, command, argument);
    if (static_cast<When>(ThePlan().when.load()) == When::Reset) {
        Act(portNo);
    }
}

const std::string kThreadStarts = "CmdExchangeThread::static_ThreadMain\n";
const std::string kThreadEnds = "CmdExchangeThread::ThreadMain: leaving on port=";
// Far longer than a reopen inside a callback may take.
constexpr int kConnectionTimeout = 4000;

class E2EReentry : public E2ETest {
protected:
    void SetUp() override {
        E2ETest::SetUp();
        ThePlan().Clear();
    }

    // Opens `camera` on `port` with the acting callbacks.
    testing::AssertionResult OpenActing(const char* camera, int port, const std::string& share, int level) {
        ThePlan().camera = camera;
        int dimensions[2];
        testing::AssertionResult opened = OpenCamera(camera, port, share, level, kConnectionTimeout, dimensions, false);
        if (!opened) {
            return opened;
        }
        if (driver.setCmdCallback(0, port, &OnCommandThenAct) != 1 ||
            driver.setCompleteCallback(0, port, &OnFrameThenAct) != 1) {
            return testing::AssertionFailure() << "cannot set the callbacks of port " << port;
        }
        return testing::AssertionSuccess();
    }

    void Plan(Action action, When when, int newPort = 0) {
        ThePlan().action = static_cast<int>(action);
        ThePlan().when = static_cast<int>(when);
        ThePlan().newPort = newPort;
    }

    static bool Acted() {
        return WaitUntil([] { return ThePlan().finished.load(); });
    }
};

struct ReopenCase {
    const char* name;
    int firstPort;
    int secondPort;
    // The server's pipe instances: with one, the reopened link finds the
    // pipe free only once it has let go of its old connection.
    int instances;
};

class E2EReopenInsideTheFrame : public E2EReentry, public testing::WithParamInterface<ReopenCase> {};

// The server is another process that streams on its own; the host closes
// and reopens its camera inside the complete callback.
TEST_P(E2EReopenInsideTheFrame, TheSameThreadGoesOnOnTheNewPort) {
    const ReopenCase& row = GetParam();
    const std::string share = ShareName();
    const FrameFormat format{64, 16, 1};
    platform::ChildProcess server;
    ASSERT_TRUE(StartServerProcess(server, ChildOutput("server"), share, format, 20, 1, 60000, row.instances));
    Plan(Action::Reopen, When::Frame, row.secondPort);
    Port(row.secondPort).action = static_cast<int>(OnFrame::ReadRows);
    ASSERT_TRUE(OpenActing("Camera 1", row.firstPort, share, kLevelSteps));
    ASSERT_TRUE(Acted()) << Dump();

    EXPECT_EQ(1, ThePlan().openResult.load());
    EXPECT_EQ(0, ThePlan().openWidth.load()) << "the dimensions can only come once the callback has returned";
    EXPECT_LT(ThePlan().openMs.load(), 1000u) << "openCVLPort waited inside the callback for its connection time-out";
    const int framesAtTheReopen = Port(row.secondPort).frames;
    ASSERT_TRUE(WaitForFrames(row.secondPort, framesAtTheReopen + 5, kConnectionTimeout));
    EXPECT_EQ(0, Port(row.secondPort).badFrames.load());
    EXPECT_EQ(ThePlan().actingThread.load(), Port(row.secondPort).callbackThread.load())
        << "the reopened camera's frames come from another thread";
    EXPECT_EQ(1, Count(kThreadStarts)) << "a second thread was started for the camera\n" << Dump();
    EXPECT_EQ(1, Count(Format("CmdExchangeThread::Init: reopened on its own thread, port=%d\n", row.secondPort)));
    EXPECT_TRUE(
        WaitForLine(ConnectionLine("Camera 1", row.secondPort, true, share), row.firstPort == row.secondPort ? 2 : 1));
    int width = hosttest::kPoison;
    EXPECT_EQ(1, driver.getProperty(0, row.secondPort, "Width", &width));
    EXPECT_EQ(64, width);

    const DWORD start = Now();
    CloseCamera(row.secondPort);
    EXPECT_LT(Now() - start, 3000u);
    EXPECT_EQ(1, Count(Format("CmdExchangeThread::ThreadMain: leaving on port=%d\n", row.secondPort))) << Dump();
    EXPECT_EQ(1, CountStartingWith(kThreadEnds));
}

INSTANTIATE_TEST_SUITE_P(Ports, E2EReopenInsideTheFrame,
                         testing::Values(ReopenCase{"SamePort", 21, 21, QUORVEX_SERVER_MAX_CLIENTS},
                                         ReopenCase{"AnotherPort", 21, 22, QUORVEX_SERVER_MAX_CLIENTS},
                                         ReopenCase{"SamePortOneInstance", 21, 21, 1},
                                         ReopenCase{"AnotherPortOneInstance", 21, 22, 1}),
                         RowName());

// The host answers "Reset" by closing and reopening: the link starts afresh
// with the new size in place, and asks for no further reset.
TEST_F(E2EReentry, ReopenInsideTheResetCallbackGoesOnWithTheNewSize) {
    const std::string share = ShareName();
    const FrameFormat small{32, 8, 1};
    const FrameFormat large{48, 8, 1};
    Server server;
    ASSERT_TRUE(server.Create(share, large.Bytes()));
    server.SetDimensions(small);
    Plan(Action::Reopen, When::Reset, 23);
    ASSERT_TRUE(OpenActing("Camera 2", 23, share, kLevelSteps));
    ASSERT_TRUE(DeliverAndReadBack(server, 23, small, 1));
    ASSERT_EQ(0, Port(23).resets.load());

    ASSERT_EQ(1, server.SetDimensions(large));
    ASSERT_TRUE(Acted()) << Dump();
    EXPECT_EQ(1, ThePlan().openResult.load());
    EXPECT_LT(ThePlan().openMs.load(), 1000u);
    ASSERT_TRUE(WaitForLine(ConnectionLine("Camera 2", 23, true, share), 2, kConnectionTimeout));
    ASSERT_TRUE(server.WaitForClients(1));
    ASSERT_TRUE(DeliverAndReadBack(server, 23, large, 2));
    ASSERT_TRUE(DeliverAndReadBack(server, 23, large, 3));
    EXPECT_EQ(1, Port(23).resets.load()) << Dump();
    EXPECT_EQ(1, Count(kThreadStarts));
}

// Closing inside "Reset": the camera is closed, the link ends, and it is not
// reported connected once more on its way out.
TEST_F(E2EReentry, CloseInsideTheResetCallbackLogsNoFurtherConnection) {
    const std::string share = ShareName();
    const FrameFormat small{32, 8, 1};
    const FrameFormat large{48, 8, 1};
    Server server;
    ASSERT_TRUE(server.Create(share, large.Bytes()));
    server.SetDimensions(small);
    Plan(Action::Close, When::Reset);
    ASSERT_TRUE(OpenActing("Camera 3", 24, share, kLevelSteps));
    ASSERT_TRUE(DeliverAndReadBack(server, 24, small, 1));

    ASSERT_EQ(1, server.SetDimensions(large));
    ASSERT_TRUE(Acted());
    ASSERT_TRUE(WaitForLine("CmdExchangeThread::ThreadMain: leaving on port=-2\n"));
    EXPECT_TRUE(server.WaitForNoClients());
    EXPECT_EQ(1, Count(ConnectionLine("Camera 3", 24, false, share))) << Dump();
    EXPECT_EQ(0, CountStartingWith("Camera 'Camera 3' on port -2 connected to")) << Dump();
    EXPECT_EQ(1, CountStartingWith("Camera 'Camera 3' on port 24 connected to"));
    int width = hosttest::kPoison;
    EXPECT_EQ(0, driver.getProperty(0, 24, "Width", &width)) << "the camera still holds its port";
}

// A host that answers a frame with its last finalize: the registry goes once
// the callback has returned, and a later initialize gives 32 cameras that
// work.
TEST_F(E2EReentry, FinalizeInsideTheCallbackThenInitializeGivesThirtyTwoWorkingCameras) {
    const std::string share = ShareName();
    const FrameFormat format{32, 8, 1};
    Server server;
    ASSERT_TRUE(server.Create(share, format.Bytes()));
    server.SetDimensions(format);
    Plan(Action::Finalize, When::Frame);
    ASSERT_TRUE(OpenActing("Camera 4", 25, share, kLevelSteps));
    ASSERT_EQ(1, server.Publish(MakeFrame(format, 1)));
    ASSERT_TRUE(Acted());
    ASSERT_TRUE(WaitForLine("CameraList::~CameraList: leaving\n"));
    EXPECT_EQ(1, CountStartingWith(kThreadEnds));
    EXPECT_TRUE(server.WaitForNoClients());
    EXPECT_EQ(0, driver.getCVLNoOfSupportedCameras());
    server.Destroy();

    // In place of the fixture's initialize, which the callback's finalize
    // balanced.
    ASSERT_EQ(1, driver.initialize(systemDir.Path().c_str(), &hosttest::LogRecorder::Record));
    ASSERT_EQ(32, driver.getCVLNoOfSupportedCameras());
    constexpr int kServers = 4;
    constexpr int kPerServer = QUORVEX_SERVER_MAX_CLIENTS;
    static_assert(kServers * kPerServer == 32, "one camera per server client");
    Server servers[kServers];
    std::string shares[kServers];
    for (int s = 0; s < kServers; ++s) {
        shares[s] = ShareName();
        ASSERT_TRUE(servers[s].Create(shares[s], format.Bytes(), kPerServer));
        servers[s].SetDimensions(format);
    }
    for (int i = 0; i < kServers * kPerServer; ++i) {
        const std::string camera = "Camera " + std::to_string(i + 1);
        const int port = 40 + i;
        int dimensions[2];
        ASSERT_TRUE(OpenCamera(camera.c_str(), port, shares[i / kPerServer], kLevelErrors, kLongTimeout, dimensions));
        ASSERT_EQ(32, dimensions[0]) << camera;
        Port(port).action = static_cast<int>(OnFrame::ReadRows);
    }
    for (int s = 0; s < kServers; ++s) {
        ASSERT_TRUE(servers[s].WaitForClients(kPerServer));
        ASSERT_EQ(kPerServer, servers[s].Publish(MakeFrame(format, 100 + s)));
    }
    for (int i = 0; i < kServers * kPerServer; ++i) {
        ASSERT_TRUE(WaitForFrames(40 + i, 1, 10000));
        EXPECT_EQ(1, Port(40 + i).goodFrames.load()) << "port " << 40 + i;
    }
    for (int i = 0; i < kServers * kPerServer; ++i) {
        CloseCamera(40 + i);
    }
}

// A camera's thread closes its camera inside "Reset" while the host's own
// thread runs the last finalize: whichever comes first, nothing is used
// after it was freed (the sanitizer builds see to that) and the link ends.
TEST_F(E2EReentry, CloseInsideResetRacingFinalizeOnAnotherThread) {
    const FrameFormat small{32, 8, 1};
    const FrameFormat large{48, 8, 1};
    for (int round = 0; round < 8; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        ThePlan().Clear();
        Plan(Action::Close, When::Reset);
        const std::string share = ShareName();
        Server server;
        ASSERT_TRUE(server.Create(share, large.Bytes()));
        server.SetDimensions(small);
        ASSERT_TRUE(OpenActing("Camera 5", 26, share, kLevelErrors));
        ASSERT_TRUE(server.WaitForClients(1));
        ASSERT_EQ(1, server.SetDimensions(large));
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(ThePlan().started.get(), kWaitMs));
        // Some rounds let the close go ahead a little.
        if (round % 2 == 1) {
            Sleep(static_cast<DWORD>(round));
        }
        ASSERT_EQ(1, driver.finalize());
        EXPECT_TRUE(server.WaitForNoClients());
        EXPECT_EQ(0, driver.getCVLNoOfSupportedCameras());
        ASSERT_EQ(1, driver.initialize(systemDir.Path().c_str(), &hosttest::LogRecorder::Record));
    }
}

}  // namespace
}  // namespace e2e
