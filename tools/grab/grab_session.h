// quorvex-grab's work: the host's side of one camera, through the host
// library, from the settings to the summary.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "frame_stats.h"
#include "grab_options.h"
#include "quorvex_host.h"
#include "status_console.h"

namespace tools {

// Writes the camera's settings, opens it, reads, counts and checks every
// frame, saves some as PNG files and sums up at the end. Everything runs on
// the main thread: the host library queues the frames the camera's thread
// reads.
class GrabSession {
public:
    GrabSession(QuorvexHost* host, const GrabOptions& options, StatusConsole& console);

    // Returns the program's exit code.
    int Run();

private:
    struct SavedFrame {
        int64_t index = 0;
        FrameGeometry geometry;
        std::vector<uint8_t> pixels;
    };
    enum class Ending { FramesDone, Interrupted, TimedOut, EndedByServer, EndedByDriver };

    void Say(const std::string& text);
    int Grab();
    Ending ReadFrames(QuorvexHostCamera* camera);
    void Take(const QuorvexHostFrame& frame);
    void SaveQueued();
    std::string ProgressText();

    QuorvexHost* host_;
    const GrabOptions& options_;
    StatusConsole& console_;

    GrabSummary summary_;
    int64_t firstFrameUs_ = 0;
    int64_t lastFrameUs_ = 0;
    std::deque<SavedFrame> saveQueue_;
    int64_t saveSkipped_ = 0;
};

}  // namespace tools
