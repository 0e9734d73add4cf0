// A host that unloads the library while a camera is still open: the camera's
// thread goes on running driver code, which must stay in place until the
// thread has ended. A second process does it, so a crash shows as its exit.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host_harness.h"
#include "platform/process.h"
#include "platform/win32.h"
#include "quorvex.h"
#include "support/child_process.h"

namespace {

constexpr int kUnloadedCleanly = 0;

template <typename Function>
Function Lookup(HMODULE library, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(library, name)));
}

// Opens Camera 1 on a share nobody serves, so its thread keeps trying to
// connect once a second, then unloads the library and lets the thread run on.
int UnloadWhileOpen(const std::vector<std::string>& args) {
    if (args.size() != 1) {
        return 10;
    }
    const std::string& systemDir = args[0];
    HMODULE library = LoadLibraryA(hosttest::HostLibrary::LibraryPath().c_str());
    if (library == nullptr) {
        return 11;
    }
    auto init = Lookup<decltype(&initialize)>(library, "initialize");
    auto open = Lookup<decltype(&openCVLPort)>(library, "openCVLPort");
    if (init == nullptr || open == nullptr) {
        return 12;
    }
    int dimensions[2] = {-1, -1};
    if (init(systemDir.c_str(), nullptr) != 1 || open(0, 1, "Camera 1", dimensions) != 1) {
        return 13;
    }
    FreeLibrary(library);
    // Long enough for the thread to fail a connect, pause and try again.
    Sleep(2500);
    return kUnloadedCleanly;
}

const bool registered = testsupport::RegisterChildVerb("unload-while-open", UnloadWhileOpen);

TEST(HostUnload, ACameraThreadKeepsTheLibraryLoadedUntilItEnds) {
    ASSERT_TRUE(registered);
    testsupport::TempDir systemDir;
    const std::string ini = systemDir.Path() + platform::kPathSeparator + "Quorvex.ini";
    WritePrivateProfileStringA("Camera 1", "PipeName", hosttest::UniqueName("unload").c_str(), ini.c_str());
    WritePrivateProfileStringA("Camera 1", "ConnectionTimeout", "100", ini.c_str());

    // This host ends without its last finalize.
    const testsupport::NoLeakCheckInChildren noLeakCheck;
    platform::ChildProcess child;
    const std::string output = systemDir.Path() + platform::kPathSeparator + "child.txt";
    ASSERT_TRUE(child.Start(platform::ProgramPath(), {"--child=unload-while-open", systemDir.Path()}, output));
    int exitCode = -1;
    ASSERT_TRUE(child.Wait(60000, exitCode)) << "the host process hung after unloading the library";
    EXPECT_EQ(kUnloadedCleanly, exitCode);
}

}  // namespace
