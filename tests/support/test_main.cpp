#include <gtest/gtest.h>

#include "child_process.h"
#include "platform/system_names.h"

namespace {

// Children that tests killed leave names behind on POSIX; a test program
// takes them away before it ends, so the tests leave the system as they
// found it.
class AbandonedNamesCleanup : public testing::Environment {
public:
    void TearDown() override { platform::RemoveAbandonedNames(); }
};

}  // namespace

int main(int argc, char** argv) {
    int exitCode = 0;
    if (testsupport::RunChildIfRequested(argc, argv, exitCode)) {
        return exitCode;
    }
    testing::InitGoogleTest(&argc, argv);
    testing::AddGlobalTestEnvironment(new AbandonedNamesCleanup);
    return RUN_ALL_TESTS();
}
