// CmdExchangeThread::WaitForDimensions without a thread: the wait is counted
// in 20 ms sleeps and hands out nothing when no dimensions came.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "camera/cmd_exchange_thread.h"
#include "core_test_support.h"

namespace {

using coretest::Captured;

using Clock = std::chrono::steady_clock;

class WaitForDimensionsTest : public coretest::CoreTest {
protected:
    // Waits with poisoned outputs; returns the milliseconds it took.
    long long Wait(int32_t timeout, bool& result) {
        const Clock::time_point start = Clock::now();
        result = exchange.WaitForDimensions(timeout, width, height, bytesPerPixel);
        return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    }

    void ExpectOutputsUntouched() const {
        EXPECT_EQ(kPoison, width);
        EXPECT_EQ(kPoison, height);
        EXPECT_EQ(kPoison, bytesPerPixel);
    }

    static constexpr int32_t kPoison = -12345;
    CmdExchangeThread exchange;
    int32_t width = kPoison;
    int32_t height = kPoison;
    int32_t bytesPerPixel = kPoison;
};

TEST_F(WaitForDimensionsTest, ZeroTimeOutTestsOnceAndSleepsOnce) {
    bool result = true;

    const long long elapsed = Wait(0, result);

    EXPECT_FALSE(result);
    EXPECT_GE(elapsed, 15);
    EXPECT_LT(elapsed, 1000);
    ExpectOutputsUntouched();
}

TEST_F(WaitForDimensionsTest, TimeOutIsCountedInTwentyMillisecondSleeps) {
    bool result = true;

    const long long elapsed = Wait(100, result);

    EXPECT_FALSE(result);
    // floor(100 / 20) + 1 = 6 sleeps.
    EXPECT_GE(elapsed, 110);
    EXPECT_LT(elapsed, 3000);
    ExpectOutputsUntouched();
}

TEST_F(WaitForDimensionsTest, NegativeTimeOutTestsNothing) {
    bool result = true;

    const long long elapsed = Wait(-1, result);

    EXPECT_FALSE(result);
    EXPECT_LT(elapsed, 1000);
    ExpectOutputsUntouched();
}

TEST_F(WaitForDimensionsTest, LogsEnteringAndNotAvailable) {
    GetDriverState()->logLevel = 2;
    bool result = true;

    Wait(0, result);

    const std::vector<std::string> messages = Captured().Messages();
    ASSERT_EQ(2u, messages.size());
    const std::string entering = "CmdExchangeThread::WaitForDimensions: timeout=0, clock=";
    EXPECT_EQ(entering, messages[0].substr(0, entering.size()));
    EXPECT_EQ(", port=-2\n", messages[0].substr(messages[0].size() - 10));
    const std::string leaving = "CmdExchangeThread::WaitForDimensions: NOT AVAILABLE, leaving, clock=";
    EXPECT_EQ(leaving, messages[1].substr(0, leaving.size()));
    EXPECT_EQ(", port=-2\n", messages[1].substr(messages[1].size() - 10));
}

}  // namespace
