// What quorvex-view shows: the newest frame of the camera and the numbers of
// its status line, kept apart from how a window draws them.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>

#include "frame_stats.h"
#include "host_camera.h"
#include "image_files.h"
#include "status_console.h"
#include "view_options.h"
#include "view_window.h"

namespace tools {

// Receives the frames on the camera's thread and hands the newest to the
// window's thread; `lock_` guards everything between the two.
class LiveView : public FrameListener, public ViewModel {
public:
    LiveView(const ViewOptions& options, StatusConsole& console);

    bool TakeFrame(Image& frame) override;
    // "N frames, R fps, L lost, P repeated, latency T ms, E resets, WxH gray".
    std::string StatusText() override;
    void Report() override;
    void TogglePause() override;
    // Saves `shown` as a PNG in the save folder and says where.
    void Save(const Image& shown) override;
    bool StopRequested() const override;

    void OnFrame(const FrameGeometry& geometry, const uint8_t* pixels, int64_t arrivedUs) override;
    void OnReset() override;
    void OnRowsMissing(int64_t rows) override;

private:
    using Clock = std::chrono::steady_clock;

    // Which share the view waits for, until the first frame.
    std::string WaitingFor() const;

    const ViewOptions& options_;
    StatusConsole& console_;

    std::mutex lock_;
    Image latest_;
    uint64_t version_ = 0;
    uint64_t versionTaken_ = 0;
    bool paused_ = false;
    int64_t frames_ = 0;
    int64_t resets_ = 0;
    int64_t missingRows_ = 0;
    PatternTally tally_;
    int64_t latencyUs_ = -1;  // of the newest frame that has one
    // The rate over the last second or so.
    Clock::time_point rateSince_ = Clock::now();
    int64_t framesAtRateSince_ = 0;
    double rate_ = 0;
    int64_t saved_ = 0;
};

}  // namespace tools
