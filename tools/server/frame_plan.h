// What quorvex-server publishes, frame by frame: the number a frame carries,
// and the faults it commits on purpose so that a host can be tried.
#pragma once

#include <cstdint>

namespace tools {

struct FaultOptions {
    int resizeEvery = 0;  // switch between two sizes every N frames
    int stopAfter = 0;    // send Stop after frame N
    int dropAfter = 0;    // drop every client after frame N, as a crash would
    int skipEvery = 0;    // after every N numbers, one number is left out
    int repeatEvery = 0;  // every N-th frame is the one before, again
};

// One published frame.
struct FrameStep {
    int64_t index = 0;         // 1 for the first frame published
    uint32_t frameNumber = 0;  // what the test pattern carries
    int skipped = 0;           // numbers left out just before this frame
    bool repeat = false;       // publish the previous frame again, as it was
    int sizeIndex = 0;         // 0: the main size, 1: the other one
    bool resize = false;       // sizeIndex differs from the previous frame's
    bool stopAfter = false;    // send Stop once this frame is out
    bool dropAfter = false;    // drop the clients once this frame is out
};

// The numbering: frames count 1, 2, 3, ...; with skipEvery N the multiples
// of N + 1 are never used, so a host sees exactly one lost frame for each
// such number between two it received; with repeatEvery N every N-th frame
// repeats the frame before it (not on a size change, and never the first).
// Used by the publishing thread only.
class FramePlan {
public:
    explicit FramePlan(const FaultOptions& faults) : faults_(faults) {}

    FrameStep Next();

private:
    FaultOptions faults_;
    int64_t published_ = 0;
    uint32_t lastNumber_ = 0;
    int lastSizeIndex_ = 0;
};

}  // namespace tools
