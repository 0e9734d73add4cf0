#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frame_stats.h"
#include "support/row_name.h"

namespace {

struct SequenceRow {
    std::string name;
    std::vector<uint32_t> numbers;
    int64_t lost;
    int64_t repeated;
    int64_t outOfOrder;
};

class SequenceRows : public testing::TestWithParam<SequenceRow> {};

TEST_P(SequenceRows, CountLostRepeatedAndOutOfOrder) {
    tools::SequenceTracker tracker;
    for (const uint32_t number : GetParam().numbers) {
        tracker.Add(number);
    }
    EXPECT_EQ(static_cast<int64_t>(GetParam().numbers.size()), tracker.Frames());
    EXPECT_EQ(GetParam().lost, tracker.Lost());
    EXPECT_EQ(GetParam().repeated, tracker.Repeated());
    EXPECT_EQ(GetParam().outOfOrder, tracker.OutOfOrder());
    if (!GetParam().numbers.empty()) {
        EXPECT_EQ(GetParam().numbers.front(), tracker.First());
        EXPECT_EQ(GetParam().numbers.back(), tracker.Last());
    }
}

INSTANTIATE_TEST_SUITE_P(Sequences, SequenceRows,
                         testing::Values(SequenceRow{"empty", {}, 0, 0, 0}, SequenceRow{"one", {7}, 0, 0, 0},
                                         SequenceRow{"in_order", {5, 6, 7, 8}, 0, 0, 0},
                                         SequenceRow{"start_anywhere", {1000, 1001}, 0, 0, 0},
                                         SequenceRow{"one_gap", {1, 2, 4}, 1, 0, 0},
                                         SequenceRow{"wide_gap", {1, 11}, 9, 0, 0},
                                         SequenceRow{"repeat", {1, 2, 2, 3}, 0, 1, 0},
                                         SequenceRow{"repeat_twice", {4, 4, 4}, 0, 2, 0},
                                         // A server restarted from 1: counted once, then counting
                                         // goes on from there.
                                         SequenceRow{"restart", {10, 11, 1, 2, 4}, 1, 0, 1},
                                         SequenceRow{"mixed", {1, 3, 3, 4, 8, 8, 9}, 4, 2, 0},
                                         SequenceRow{"wraps_no_further", {0xFFFFFFFEu, 0xFFFFFFFFu}, 0, 0, 0}),
                         RowName());

tools::LatencyRecorder Recorder(const std::vector<int64_t>& samples) {
    tools::LatencyRecorder recorder;
    for (const int64_t sample : samples) {
        recorder.Add(sample);
    }
    return recorder;
}

TEST(LatencyRecorder, MedianOfOddAndEvenCounts) {
    EXPECT_DOUBLE_EQ(0, Recorder({}).Median());
    EXPECT_DOUBLE_EQ(5, Recorder({5}).Median());
    EXPECT_DOUBLE_EQ(3, Recorder({9, 1, 3}).Median());
    EXPECT_DOUBLE_EQ(2.5, Recorder({4, 1, 3, 2}).Median());
}

TEST(LatencyRecorder, PercentileIsTheNearestRank) {
    std::vector<int64_t> hundred;
    for (int64_t i = 100; i >= 1; --i) {
        hundred.push_back(i);
    }
    const tools::LatencyRecorder recorder = Recorder(hundred);
    EXPECT_EQ(99, recorder.Percentile(99));
    EXPECT_EQ(50, recorder.Percentile(50));
    EXPECT_EQ(100, recorder.Percentile(100));
    EXPECT_EQ(1, recorder.Percentile(0));
    // With ten samples the 99th percentile is the largest.
    EXPECT_EQ(10, Recorder({1, 2, 3, 4, 5, 6, 7, 8, 9, 10}).Percentile(99));
    EXPECT_EQ(0, Recorder({}).Percentile(99));
    EXPECT_EQ(100u, recorder.Count());
}

TEST(FrameRate, CountsIntervalsBetweenFrames) {
    EXPECT_DOUBLE_EQ(10, tools::FrameRate(11, 1.0));
    EXPECT_DOUBLE_EQ(0, tools::FrameRate(1, 1.0));
    EXPECT_DOUBLE_EQ(0, tools::FrameRate(5, 0.0));
}

TEST(FormatSummary, NamesEveryCount) {
    tools::GrabSummary summary;
    summary.frames = 11;
    summary.seconds = 2.0;
    summary.bytes = 11 * 1000000;
    summary.geometry = tools::FrameGeometry{1000, 1000, 1};
    summary.patternFrames = 11;
    for (const uint32_t number : {3u, 4u, 4u, 6u, 7u, 8u, 9u, 10u, 11u, 12u, 13u}) {
        summary.sequence.Add(number);
    }
    summary.torn = 2;
    summary.latency = Recorder({1000, 2000, 3000});
    summary.resets = 1;
    summary.saved = 4;
    summary.saveDir = "out";
    const std::string text = tools::FormatSummary(summary);
    for (const char* line :
         {"frames: 11 in 2.00 s, 5.00 fps, 11.00 MB, 5.00 MB/s\n", "frame size: 1000x1000, 1 byte per pixel\n",
          "test pattern: 11 frames, numbers 3 to 13\n", "lost: 1, repeated: 1, torn: 2, out of order: 0\n",
          "latency: median 2.00 ms, 99th percentile 3.00 ms (3 frames)\n", "resets: 1\n",
          "saved: 4 PNG files in out\n"}) {
        EXPECT_NE(std::string::npos, text.find(line)) << line << " missing from:\n" << text;
    }
}

TEST(FormatSummary, CountsLostFramesByTheServersNumbers) {
    tools::GrabSummary summary;
    summary.frames = 5;
    for (const uint32_t number : {1u, 2u, 5u, 6u, 8u}) {
        summary.serverSequence.Add(number);
    }
    summary.captureLatency = Recorder({4000, 6000});
    // The pattern's numbers, when there are any, are the second opinion.
    summary.sequence.Add(1);
    summary.sequence.Add(3);
    const std::string text = tools::FormatSummary(summary);
    EXPECT_NE(std::string::npos, text.find("server numbers: 5 frames, 1 to 8, 3 lost, 0 out of order\n")) << text;
    EXPECT_NE(std::string::npos, text.find("capture latency: median 5.00 ms, 99th percentile 6.00 ms (2 frames)\n"))
        << text;
    EXPECT_EQ(3, tools::LostFrames(summary));
    summary.serverSequence = tools::SequenceTracker();
    EXPECT_EQ(1, tools::LostFrames(summary));
    EXPECT_NE(std::string::npos, tools::FormatSummary(summary).find("server numbers: none\n"));
}

TEST(FormatSummary, SaysSoWhenNoFrameHadThePattern) {
    tools::GrabSummary summary;
    summary.frames = 3;
    const std::string text = tools::FormatSummary(summary);
    EXPECT_NE(std::string::npos, text.find("test pattern: none found\n")) << text;
    EXPECT_EQ(std::string::npos, text.find("lost:")) << text;
    EXPECT_EQ(std::string::npos, text.find("saved:")) << text;
}

}  // namespace
