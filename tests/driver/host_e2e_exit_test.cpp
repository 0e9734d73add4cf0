// A host process that ends without its last finalize, while one camera's
// thread is inside the host's callback and another keeps trying to reach a
// server that is not there. The driver must neither hold the exit up by
// joining those threads nor call the host's log procedure while the process
// is being torn down. A second process is the host, so its exit is seen.
#include <atomic>
#include <string>
#include <vector>

#include "host_e2e.h"
#include "support/child_process.h"

namespace e2e {
namespace {

constexpr int kExitedWithoutFinalize = 0;
// Far longer than any exit may take: a driver that joins the camera thread
// at exit waits this long.
constexpr DWORD kCallbackSleepMs = 60000;
constexpr unsigned kPromptExitMs = 15000;

// The child's state that its callbacks use while the process ends: plain
// values, so that nothing of it is destroyed by the exit list.
std::atomic<bool> mainReturned{false};
char lateLineEvent[256];
HANDLE callbackEntered = nullptr;

void QUORVEX_CALL LogAfterMain(const char*) {
    if (!mainReturned) {
        return;
    }
    if (HANDLE late = OpenEventA(EVENT_MODIFY_STATE, FALSE, lateLineEvent)) {
        SetEvent(late);
        CloseHandle(late);
    }
}

void QUORVEX_CALL BlockInTheCallback(int, int) {
    SetEvent(callbackEntered);
    Sleep(kCallbackSleepMs);
}

template <typename Function>
Function Lookup(HMODULE library, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(library, name)));
}

// Verb "exit-without-finalize": system folder, name of the event to set for
// a log line after main.
int ExitWithoutFinalize(const std::vector<std::string>& args) {
    if (args.size() != 2 || args[1].size() >= sizeof lateLineEvent) {
        return 10;
    }
    args[1].copy(lateLineEvent, args[1].size());
    callbackEntered = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HMODULE library = LoadLibraryA(hosttest::HostLibrary::LibraryPath().c_str());
    if (library == nullptr || callbackEntered == nullptr) {
        return 11;
    }
    auto init = Lookup<decltype(&initialize)>(library, "initialize");
    auto open = Lookup<decltype(&openCVLPort)>(library, "openCVLPort");
    auto setComplete = Lookup<decltype(&setCompleteCallback)>(library, "setCompleteCallback");
    if (init == nullptr || open == nullptr || setComplete == nullptr) {
        return 12;
    }
    int dimensions[2] = {0, 0};
    if (init(args[0].c_str(), &LogAfterMain) != 1 || open(0, 1, "Camera 1", dimensions) != 1 ||
        setComplete(0, 1, &BlockInTheCallback) != 1 || open(0, 2, "Camera 2", dimensions) != 1) {
        return 13;
    }
    if (WaitForSingleObject(callbackEntered, kWaitMs) != WAIT_OBJECT_0) {
        return 14;
    }
    mainReturned = true;
    return kExitedWithoutFinalize;
}

const bool registered = testsupport::RegisterChildVerb("exit-without-finalize", ExitWithoutFinalize);

TEST(HostExit, AHostEndingWithoutItsLastFinalizeEndsPromptlyAndHearsNoMoreLines) {
    ASSERT_TRUE(registered);
    testsupport::TempDir systemDir;
    const std::string share = ShareName();
    const std::string ini = systemDir.Path() + platform::kPathSeparator + "Quorvex.ini";
    WritePrivateProfileStringA("Camera 1", "PipeName", share.c_str(), ini.c_str());
    WritePrivateProfileStringA("Camera 1", "ConnectionTimeout", "5000", ini.c_str());
    WritePrivateProfileStringA("Camera 2", "PipeName", ShareName().c_str(), ini.c_str());
    WritePrivateProfileStringA("Camera 2", "ConnectionTimeout", "100", ini.c_str());
    const FrameFormat format{32, 8, 1};
    Server server;
    ASSERT_TRUE(server.Create(share, format.Bytes()));
    server.SetDimensions(format);
    const std::string lateName = hosttest::UniqueName("qv-late-line-");
    platform::UniqueEvent late(CreateEventA(nullptr, TRUE, FALSE, lateName.c_str()));
    ASSERT_TRUE(late);

    // This host ends without its last finalize.
    const testsupport::NoLeakCheckInChildren noLeakCheck;
    platform::ChildProcess child;
    const std::string output = systemDir.Path() + platform::kPathSeparator + "child.txt";
    ASSERT_TRUE(
        child.Start(platform::ProgramPath(), {"--child=exit-without-finalize", systemDir.Path(), lateName}, output));
    ASSERT_TRUE(server.WaitForClients(1));
    // Frames until the child has one in its callback and ends.
    const DWORD start = Now();
    int exitCode = -1;
    bool ended = false;
    for (uint32_t seed = 1; !ended && Now() - start < kPromptExitMs; ++seed) {
        server.Publish(MakeFrame(format, seed));
        ended = child.Wait(50, exitCode);
    }
    if (!ended) {
        child.Kill();
    }
    ASSERT_TRUE(ended) << "the host process did not end within " << kPromptExitMs << " ms of returning from main";
    EXPECT_EQ(kExitedWithoutFinalize, exitCode);
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(late.get(), 0))
        << "the host's DebugMsgProc was called after its main had returned";
}

}  // namespace
}  // namespace e2e
