// A pipe name that another process created first: the server is refused,
// and the process that holds the name keeps it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link_test_support.h"
#include "platform/process.h"
#include "platform/unique_handle.h"
#include "support/child_process.h"
#include "support/temp_dir.h"
#include "wire/messages.h"

namespace {

using linktest::kWaitMs;
using linktest::ServerPtr;
using linktest::UniqueName;

// Creates one instance of the pipe of a share, as a process that is not a
// camera server might, signals the event and waits to be killed.
// Arguments: share name, event name.
int PipeSquatterChild(const std::vector<std::string>& args) {
    if (args.size() != 2) {
        return 2;
    }
    platform::UniqueFile pipe(CreateNamedPipeA(PipePath(args[0]).c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                               PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE, PIPE_UNLIMITED_INSTANCES,
                                               4096, 4096, 0, nullptr));
    platform::UniqueEvent ready(OpenEventA(EVENT_MODIFY_STATE, FALSE, args[1].c_str()));
    if (!pipe || !ready || !SetEvent(ready.get())) {
        return 3;
    }
    Sleep(6 * kWaitMs);
    return 4;
}

const bool kPipeSquatterRegistered = testsupport::RegisterChildVerb("pipe-squatter", PipeSquatterChild);

TEST(TakenPipeTest, APipeNameTakenByAnotherProcessFirstIsRefused) {
    ASSERT_TRUE(kPipeSquatterRegistered);
    const std::string share = UniqueName("squatted");
    const std::string readyName = UniqueName("ready");
    platform::UniqueEvent ready(CreateEventA(nullptr, TRUE, FALSE, readyName.c_str()));
    ASSERT_TRUE(ready);
    testsupport::TempDir folder;
    platform::ChildProcess squatter;
    ASSERT_TRUE(squatter.Start(platform::ProgramPath(), {"--child=pipe-squatter", share, readyName},
                               folder.File("squatter.txt")));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(ready.get(), 2 * kWaitMs))
        << "the squatter did not come up: " << folder.Read("squatter.txt");

    ServerPtr server(QuorvexServerCreate(share.c_str(), 4096, 2));
    EXPECT_EQ(nullptr, server) << "a server took over a pipe that another process made first";
    const std::string reason = QuorvexServerLastError(nullptr);
    EXPECT_NE(std::string::npos, reason.find(share)) << reason;
    EXPECT_NE(std::string::npos, reason.find("(system error ")) << reason;
    EXPECT_TRUE(squatter.IsRunning());
    squatter.Kill();
}

}  // namespace
