// The numbers behind quorvex-grab's progress and summary.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "test_pattern.h"

namespace tools {

// Follows the frame numbers of the test pattern: a gap is lost frames, the
// same number again a repeated frame, a smaller one a frame out of order
// (after which counting goes on from it). Used by one thread at a time.
class SequenceTracker {
public:
    void Add(uint32_t frameNumber);

    int64_t Frames() const { return frames_; }
    int64_t Lost() const { return lost_; }
    int64_t Repeated() const { return repeated_; }
    int64_t OutOfOrder() const { return outOfOrder_; }
    uint32_t First() const { return first_; }
    uint32_t Last() const { return last_; }

private:
    int64_t frames_ = 0;
    int64_t lost_ = 0;
    int64_t repeated_ = 0;
    int64_t outOfOrder_ = 0;
    uint32_t first_ = 0;
    uint32_t last_ = 0;
};

// Latency samples in microseconds; the statistics sort a copy.
class LatencyRecorder {
public:
    void Add(int64_t microseconds) { samples_.push_back(microseconds); }
    size_t Count() const { return samples_.size(); }
    // The middle sample; the mean of the two middle ones for an even count.
    double Median() const;
    // The nearest-rank percentile: the smallest sample that `percent` of the
    // samples are at most. 0 without samples.
    int64_t Percentile(double percent) const;

private:
    std::vector<int64_t> samples_;
};

// What the test pattern of the frames received tells: how many carried it,
// how many came torn, and their numbers in sequence.
struct PatternTally {
    // Checks one frame. Returns its latency, from the pattern's timestamp to
    // `arrivedUs`, or -1 when it has none (no pattern, torn, or repeated:
    // a repeated frame keeps its first timestamp).
    int64_t Add(const FrameGeometry& geometry, const uint8_t* pixels, int64_t arrivedUs);

    int64_t patternFrames = 0;
    int64_t torn = 0;
    SequenceTracker sequence;
};

// What a grab found, for the summary.
struct GrabSummary : PatternTally {
    int64_t frames = 0;
    double seconds = 0;  // from the first frame to the last
    int64_t bytes = 0;
    FrameGeometry geometry;  // of the last frame
    LatencyRecorder latency;
    // The numbers and capture times servers give their frames.
    SequenceTracker serverSequence;
    LatencyRecorder captureLatency;  // from capture to arrival
    int64_t resets = 0;
    int64_t failedRows = 0;
    int64_t saved = 0;
    std::string saveDir;
};

// Frames lost on their way: by the servers' numbers when frames carry
// them, else by the test pattern's.
int64_t LostFrames(const GrabSummary& summary);

// Frames per second over `seconds` for `frames` frames; the first frame
// starts the clock, so n frames span n - 1 intervals.
double FrameRate(int64_t frames, double seconds);

// The summary, one "name: values" line each, ending in a line end.
std::string FormatSummary(const GrabSummary& summary);

}  // namespace tools
