#include "frame_stats.h"

#include <algorithm>
#include <cmath>
#include <sstream>

namespace tools {

void SequenceTracker::Add(uint32_t frameNumber) {
    if (frames_++ == 0) {
        first_ = last_ = frameNumber;
        return;
    }
    if (frameNumber == last_) {
        ++repeated_;
    } else if (frameNumber > last_) {
        lost_ += frameNumber - last_ - 1;
    } else {
        ++outOfOrder_;
    }
    last_ = frameNumber;
}

int64_t PatternTally::Add(const FrameGeometry& geometry, const uint8_t* pixels, int64_t arrivedUs) {
    const PatternReading reading = ReadPattern(geometry, pixels);
    if (reading.check == PatternCheck::NotPattern) {
        return -1;
    }
    ++patternFrames;
    const int64_t repeatedBefore = sequence.Repeated();
    sequence.Add(reading.stamp.frameNumber);
    if (reading.check == PatternCheck::Torn) {
        ++torn;
        return -1;
    }
    return sequence.Repeated() == repeatedBefore ? arrivedUs - reading.stamp.timestampUs : -1;
}

double LatencyRecorder::Median() const {
    if (samples_.empty()) {
        return 0;
    }
    std::vector<int64_t> sorted = samples_;
    std::sort(sorted.begin(), sorted.end());
    const size_t middle = sorted.size() / 2;
    return sorted.size() % 2 == 1 ? static_cast<double>(sorted[middle])
                                  : (static_cast<double>(sorted[middle - 1]) + static_cast<double>(sorted[middle])) / 2;
}

int64_t LatencyRecorder::Percentile(double percent) const {
    if (samples_.empty()) {
        return 0;
    }
    std::vector<int64_t> sorted = samples_;
    std::sort(sorted.begin(), sorted.end());
    const double rank = std::ceil(percent / 100.0 * static_cast<double>(sorted.size()));
    const size_t index = rank < 1 ? 0 : std::min(sorted.size(), static_cast<size_t>(rank)) - 1;
    return sorted[index];
}

int64_t LostFrames(const GrabSummary& summary) {
    return summary.serverSequence.Frames() > 0 ? summary.serverSequence.Lost() : summary.sequence.Lost();
}

double FrameRate(int64_t frames, double seconds) {
    return frames >= 2 && seconds > 0 ? static_cast<double>(frames - 1) / seconds : 0;
}

std::string FormatSummary(const GrabSummary& s) {
    constexpr double kMega = 1e6;
    constexpr double kMicrosPerMilli = 1000.0;
    std::ostringstream out;
    out.setf(std::ios::fixed);
    out.precision(2);
    const double rate = FrameRate(s.frames, s.seconds);
    const double bytesPerSecond = rate * (s.frames > 0 ? static_cast<double>(s.bytes) / s.frames : 0);
    out << "frames: " << s.frames << " in " << s.seconds << " s, " << rate << " fps, "
        << static_cast<double>(s.bytes) / kMega << " MB, " << bytesPerSecond / kMega << " MB/s\n";
    if (s.frames > 0) {
        out << "frame size: " << s.geometry.width << "x" << s.geometry.height << ", " << s.geometry.bytesPerPixel
            << (s.geometry.bytesPerPixel == 1 ? " byte" : " bytes") << " per pixel\n";
    }
    if (s.patternFrames == 0) {
        out << "test pattern: none found\n";
    } else {
        out << "test pattern: " << s.patternFrames << " frames, numbers " << s.sequence.First() << " to "
            << s.sequence.Last() << "\n";
        out << "lost: " << s.sequence.Lost() << ", repeated: " << s.sequence.Repeated() << ", torn: " << s.torn
            << ", out of order: " << s.sequence.OutOfOrder() << "\n";
        out << "latency: median " << s.latency.Median() / kMicrosPerMilli << " ms, 99th percentile "
            << static_cast<double>(s.latency.Percentile(99)) / kMicrosPerMilli << " ms (" << s.latency.Count()
            << " frames)\n";
    }
    if (s.serverSequence.Frames() == 0) {
        out << "server numbers: none\n";
    } else {
        out << "server numbers: " << s.serverSequence.Frames() << " frames, " << s.serverSequence.First() << " to "
            << s.serverSequence.Last() << ", " << s.serverSequence.Lost() << " lost, " << s.serverSequence.OutOfOrder()
            << " out of order\n";
    }
    if (s.captureLatency.Count() > 0) {
        out << "capture latency: median " << s.captureLatency.Median() / kMicrosPerMilli << " ms, 99th percentile "
            << static_cast<double>(s.captureLatency.Percentile(99)) / kMicrosPerMilli << " ms ("
            << s.captureLatency.Count() << " frames)\n";
    }
    out << "resets: " << s.resets << "\n";
    if (s.failedRows > 0) {
        out << "rows not read: " << s.failedRows << "\n";
    }
    if (!s.saveDir.empty()) {
        out << "saved: " << s.saved << " PNG files in " << s.saveDir << "\n";
    }
    return out.str();
}

}  // namespace tools
