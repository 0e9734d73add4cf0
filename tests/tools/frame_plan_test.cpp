#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frame_plan.h"
#include "support/row_name.h"

namespace {

using tools::FaultOptions;

struct NumberRow {
    std::string name;
    FaultOptions faults;
    std::vector<uint32_t> numbers;  // of the first frames published
};

class FramePlanNumbers : public testing::TestWithParam<NumberRow> {};

TEST_P(FramePlanNumbers, FollowTheFaults) {
    tools::FramePlan plan(GetParam().faults);
    std::vector<uint32_t> numbers;
    for (size_t i = 0; i < GetParam().numbers.size(); ++i) {
        const tools::FrameStep step = plan.Next();
        EXPECT_EQ(static_cast<int64_t>(i + 1), step.index);
        EXPECT_EQ(step.repeat, i > 0 && step.frameNumber == numbers.back()) << "frame " << i + 1;
        // The numbers left out, which the server leaves out on the wire too.
        const uint32_t previous = numbers.empty() ? 0 : numbers.back();
        EXPECT_EQ(step.repeat ? 0u : step.frameNumber - previous - 1, static_cast<uint32_t>(step.skipped))
            << "frame " << i + 1;
        numbers.push_back(step.frameNumber);
    }
    EXPECT_EQ(GetParam().numbers, numbers);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, FramePlanNumbers,
    testing::Values(NumberRow{"none", FaultOptions{}, {1, 2, 3, 4, 5, 6}},
                    NumberRow{"skip_every_3", FaultOptions{0, 0, 0, 3, 0}, {1, 2, 3, 5, 6, 7, 9, 10}},
                    NumberRow{"skip_every_1", FaultOptions{0, 0, 0, 1, 0}, {1, 3, 5, 7}},
                    NumberRow{"repeat_every_4", FaultOptions{0, 0, 0, 0, 4}, {1, 2, 3, 3, 4, 5, 6, 6, 7}},
                    NumberRow{"repeat_every_2", FaultOptions{0, 0, 0, 0, 2}, {1, 1, 2, 2, 3, 3}},
                    NumberRow{"skip_and_repeat", FaultOptions{0, 0, 0, 2, 3}, {1, 2, 2, 4, 5, 5, 7, 8, 8}},
                    // The repeat due at frame 4 falls on a change of size.
                    NumberRow{"no_repeat_across_resize", FaultOptions{3, 0, 0, 0, 4}, {1, 2, 3, 4, 5, 6, 7, 7}}),
    RowName());

TEST(FramePlan, ResizeSwitchesSizesEveryNFrames) {
    tools::FramePlan plan(FaultOptions{3, 0, 0, 0, 0});
    std::vector<int> sizes;
    std::vector<int64_t> resizedAt;
    for (int i = 0; i < 10; ++i) {
        const tools::FrameStep step = plan.Next();
        sizes.push_back(step.sizeIndex);
        if (step.resize) {
            resizedAt.push_back(step.index);
        }
    }
    EXPECT_EQ((std::vector<int>{0, 0, 0, 1, 1, 1, 0, 0, 0, 1}), sizes);
    EXPECT_EQ((std::vector<int64_t>{4, 7, 10}), resizedAt);
}

TEST(FramePlan, StopAndDropComeOnceAfterTheirFrame) {
    tools::FramePlan plan(FaultOptions{0, 5, 3, 0, 0});
    std::vector<int64_t> stops;
    std::vector<int64_t> drops;
    for (int i = 0; i < 12; ++i) {
        const tools::FrameStep step = plan.Next();
        if (step.stopAfter) {
            stops.push_back(step.index);
        }
        if (step.dropAfter) {
            drops.push_back(step.index);
        }
        EXPECT_EQ(0, step.sizeIndex);
        EXPECT_FALSE(step.resize);
    }
    EXPECT_EQ(std::vector<int64_t>{5}, stops);
    EXPECT_EQ(std::vector<int64_t>{3}, drops);
}

}  // namespace
