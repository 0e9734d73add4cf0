// quorvex-grab's work: the host's side of one camera, from initialize to
// finalize.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "driver_library.h"
#include "frame_stats.h"
#include "grab_options.h"
#include "host_camera.h"
#include "status_console.h"

namespace tools {

// Drives one camera through HostCamera, counts and checks every frame, saves
// some as PNG files and sums up at the end.
//
// Threads: Run and everything it calls run on the main thread; the frame
// listener runs on the camera's thread. `lock_` guards what both sides
// touch: the summary, the save queue and the stop flag.
class GrabSession : private FrameListener {
public:
    GrabSession(DriverLibrary& driver, const GrabOptions& options, StatusConsole& console);

    // Returns the program's exit code.
    int Run();

private:
    struct SavedFrame {
        int64_t index = 0;
        FrameGeometry geometry;
        std::vector<uint8_t> pixels;
    };
    enum class Ending { FramesDone, Interrupted, TimedOut };

    void OnFrame(const FrameGeometry& geometry, const uint8_t* pixels, int64_t arrivedUs) override;
    void OnReset() override;
    void OnRowsMissing(int64_t rows) override;

    int Grab();
    Ending WaitForFrames();
    void SaveQueued();
    std::string ProgressText();

    const GrabOptions& options_;
    StatusConsole& console_;
    HostCamera camera_;

    std::mutex lock_;
    std::condition_variable frameArrived_;
    GrabSummary summary_;
    bool enough_ = false;  // the frames asked for are in
    int64_t firstFrameUs_ = 0;
    int64_t lastFrameUs_ = 0;
    std::deque<SavedFrame> saveQueue_;
    int64_t saveSkipped_ = 0;
};

}  // namespace tools
