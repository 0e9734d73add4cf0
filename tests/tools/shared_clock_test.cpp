#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "platform/process.h"
#include "shared_clock.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

namespace {

int PrintClock(const std::vector<std::string>&) {
    std::printf("%lld\n", static_cast<long long>(tools::SharedClockMicroseconds()));
    return 0;
}

const bool kVerbs = testsupport::RegisterChildVerb("print-clock", PrintClock);

TEST(SharedClock, NeverGoesBackAndCountsMicroseconds) {
    const int64_t before = tools::SharedClockMicroseconds();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const int64_t after = tools::SharedClockMicroseconds();
    EXPECT_GE(after - before, 45000);
    EXPECT_LT(after - before, 5000000);
}

TEST(SharedClock, AnotherProcessReadsTheSameClock) {
    testsupport::TempDir dir;
    platform::ChildProcess child;
    const int64_t before = tools::SharedClockMicroseconds();
    ASSERT_TRUE(child.Start(platform::ProgramPath(), {"--child=print-clock"}, dir.File("clock.txt")));
    int exitCode = -1;
    ASSERT_TRUE(child.Wait(20000, exitCode));
    const int64_t after = tools::SharedClockMicroseconds();
    ASSERT_EQ(0, exitCode);
    const int64_t childClock = std::stoll(dir.Read("clock.txt"));
    EXPECT_LE(before, childClock);
    EXPECT_GE(after, childClock);
}

}  // namespace
