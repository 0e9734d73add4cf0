// What quorvex-view shows: the newest frame of the camera, the numbers of
// its status line and what its stream is doing, kept apart from how a window
// draws them.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>

#include "frame_stats.h"
#include "image_files.h"
#include "quorvex_host.h"
#include "status_console.h"
#include "view_options.h"
#include "view_window.h"

namespace tools {

// Receives the frames on the reader's thread and hands the newest to the
// window's thread; `lock_` guards everything between the two.
class LiveView : public ViewModel {
public:
    // `share`: the camera's share, as the driver read it at the open.
    LiveView(const ViewOptions& options, StatusConsole& console, std::string share);

    bool TakeFrame(Image& frame) override;
    // "N frames, R fps, L lost, P repeated, latency T ms, E resets, WxH gray",
    // then what the stream is doing when it is not streaming. L counts the
    // numbers the server's frames skipped, or the test pattern's where the
    // frames carry no numbers; when both are there and disagree, "L lost
    // (pattern M)" shows the pattern's count beside. T is the median age of
    // the last second's frames at arrival, from their capture time, or from
    // the pattern's timestamp where the server gives none.
    std::string StatusText() override;
    void Report() override;
    void TogglePause() override;
    // Saves `shown` as a PNG in the save folder and says where.
    void Save(const Image& shown) override;
    bool StopRequested() const override;

    // A frame of the camera, rows packed.
    void Take(const QuorvexHostFrame& frame);
    // What the last read answered (QUORVEX_HOST_FRAME ...), with the
    // library's sentence for an ended stream, and the camera's counters.
    void SetStream(int readResult, const std::string& ending, const QuorvexHostCounters& counters);

private:
    using Clock = std::chrono::steady_clock;

    const ViewOptions& options_;
    StatusConsole& console_;
    const std::string share_;

    std::mutex lock_;
    Image latest_;
    uint64_t version_ = 0;
    uint64_t versionTaken_ = 0;
    bool paused_ = false;
    int64_t frames_ = 0;
    int64_t resets_ = 0;
    int64_t incomplete_ = 0;
    bool noServer_ = false;
    std::string ending_;  // empty while the stream goes on
    PatternTally tally_;
    SequenceTracker serverSequence_;
    // The frames' ages at arrival since the rate was last taken, and their
    // median then; -1 before any frame had one.
    LatencyRecorder ages_;
    int64_t latestAgeUs_ = -1;
    double medianAgeUs_ = -1;
    // The rate over the last second or so.
    Clock::time_point rateSince_ = Clock::now();
    int64_t framesAtRateSince_ = 0;
    double rate_ = 0;
    int64_t saved_ = 0;
};

}  // namespace tools
