// DriverState: its starting values in a fresh process, and the system path
// changed by one thread while others read it.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "core_test_support.h"
#include "platform/process.h"
#include "support/child_process.h"

namespace {

// Run in a fresh process: the record as the first use builds it.
int CheckStartingValues(const std::vector<std::string>&) {
    DriverState* state = GetDriverState();
    int failures = 0;
    const auto check = [&failures](bool ok, const char* what) {
        if (!ok) {
            std::fprintf(stderr, "starting value wrong: %s\n", what);
            ++failures;
        }
    };
    check(state == GetDriverState(), "one record");
    check(state->debugMsgProc.load() == nullptr, "debugMsgProc null");
    check(state->SystemPath().empty(), "systemPath empty");
    check(state->refCount == 0, "refCount 0");
    check(state->logLevel == 1, "logLevel 1");
    check(!state->logIntoFile, "logIntoFile false");
    check(state->debugOutputLevel == 0, "debugOutputLevel 0");
    return failures == 0 ? 0 : 1;
}

const bool kStartingValuesVerb = testsupport::RegisterChildVerb("driver-state-starting-values", CheckStartingValues);

TEST(DriverStateTest, StartingValuesInAFreshProcess) {
    ASSERT_TRUE(kStartingValuesVerb);
    const std::string command = "\"" + platform::ProgramPath() + "\" --child=driver-state-starting-values";

    EXPECT_EQ(0, std::system(command.c_str())) << command;
}

class DriverStatePathTest : public coretest::CoreTest {};

TEST_F(DriverStatePathTest, SetSystemPathStoresACopy) {
    std::string path = "first path";
    GetDriverState()->SetSystemPath(path.c_str());
    path = "changed";

    EXPECT_EQ("first path", GetDriverState()->SystemPath());
}

TEST_F(DriverStatePathTest, ReadersSeeWholePathsWhileAnotherThreadChangesIt) {
    const std::string shortPath = "a";
    const std::string longPath(500, 'b');
    std::atomic<bool> done{false};
    std::atomic<int> torn{0};

    std::thread writer([&] {
        for (int i = 0; i < 2000; ++i) {
            GetDriverState()->SetSystemPath(i % 2 == 0 ? longPath.c_str() : shortPath.c_str());
        }
        done = true;
    });
    std::thread reader([&] {
        while (!done) {
            const std::string seen = GetDriverState()->SystemPath();
            if (seen != shortPath && seen != longPath && seen != dir.Path()) {
                ++torn;
            }
        }
    });
    writer.join();
    reader.join();

    EXPECT_EQ(0, torn);
}

}  // namespace
