// quorvex-grab's work: the host's side of one camera, from initialize to
// finalize.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "driver_library.h"
#include "frame_stats.h"
#include "grab_options.h"
#include "status_console.h"

namespace tools {

// Drives one camera of a loaded driver as a host does: prepares the
// settings, initialises, lists the cameras, opens one on a port, sets both
// callbacks, reads every announced frame row by row in the complete
// callback, and closes and finalises at the end.
//
// Threads: Run and everything it calls run on the main thread; the three
// callbacks run on the driver's threads (the camera's thread for frames and
// commands, any thread for log lines). `lock_` guards what both sides touch:
// the summary, the save queue and the stop flags. The frame buffer and the
// geometry belong to the camera's thread while the camera is open.
// The driver's callbacks carry no context, so one session at a time is
// reachable through `current_`.
class GrabSession {
public:
    GrabSession(DriverLibrary& driver, const GrabOptions& options, StatusConsole& console);
    ~GrabSession();
    GrabSession(const GrabSession&) = delete;
    GrabSession& operator=(const GrabSession&) = delete;

    // Returns the program's exit code.
    int Run();

private:
    struct SavedFrame {
        int64_t index = 0;
        FrameGeometry geometry;
        std::vector<uint8_t> pixels;
    };
    enum class Ending { FramesDone, Interrupted, TimedOut };

    static void QUORVEX_CALL OnComplete(int grabberNo, int portNo);
    static void QUORVEX_CALL OnCommand(int grabberNo, int portNo, const char* command, const char* argument);
    static void QUORVEX_CALL OnLog(const char* text);

    bool PrepareSettings();
    bool FindCamera();
    int Grab();
    Ending WaitForFrames();
    void HandleFrame();
    void HandleCommand(const char* command);
    void HandleLog(const char* text);
    void ReadDimensions();
    bool ReadRows();
    void RecordFrame(int64_t arrivedUs);
    void SaveQueued();
    std::string ProgressText();
    void Say(const std::string& text);

    static std::atomic<GrabSession*> current_;

    DriverLibrary& driver_;
    const GrabOptions& options_;
    StatusConsole& console_;

    // The camera's thread.
    FrameGeometry geometry_;
    std::vector<uint8_t> frame_;
    std::atomic<bool> resetPending_{true};
    // Log lines come as a timestamp, then the message; the driver's lock
    // keeps the two calls of a line together.
    std::string logTimestamp_;
    bool logHasTimestamp_ = false;

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
