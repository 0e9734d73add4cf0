// The viewer's reader of a camera: a thread of its own that takes each frame
// from the host library's queue as it comes and tells the view what the
// stream is doing, so that the view counts every frame whatever the window
// draws.
#pragma once

#include <atomic>
#include <thread>

#include "live_view.h"
#include "quorvex_host.h"

namespace tools {

// Reads from its start until it goes; the camera and the view outlive it.
class FrameReader {
public:
    FrameReader(QuorvexHostCamera* camera, LiveView& view);
    ~FrameReader();
    FrameReader(const FrameReader&) = delete;
    FrameReader& operator=(const FrameReader&) = delete;

private:
    void Run();

    QuorvexHostCamera* const camera_;
    LiveView& view_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace tools
