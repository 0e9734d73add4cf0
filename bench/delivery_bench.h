// One camera, one frame size: the driver's delivery beside the floor, the
// bare path that no driver can beat, between the same two processes, and the
// cost of a row read beside a memcpy of the row.
#pragma once

#include <string>
#include <vector>

#include "bench_support.h"

namespace bench {

struct FrameCase {
    int width;
    int height;
    int bytesPerPixel;
    int latencyFrames;     // announced one at a time, each after the last was taken
    int throughputFrames;  // announced as fast as the server writes them
    int Bytes() const { return width * height * bytesPerPixel; }
    int RowBytes() const { return width * bytesPerPixel; }
    std::string Name() const;
};

// Latency from the server's announcement to the frame in the host's hands,
// and frames per second when the server does not wait.
struct PathFigures {
    double p50Us = 0;
    double p99Us = 0;
    double framesPerSecond = 0;
};

struct DeliveryFigures {
    PathFigures driver;
    PathFigures floor;               // the better of two passes
    double floorNoise = 0;           // how far the two passes' p50 lie apart, relative
    double rowInCallbackNs = 0;      // one getCVLGrabRow of a whole row, inside the complete callback
    double rowCopyInCallbackNs = 0;  // one memcpy of the same row there
    double rowOtherThreadNs = 0;     // getCVLGrabRow from another thread, with no frame coming
    double rowCopyNs = 0;            // one memcpy of the same row there
};

// Runs the case once against a server child; false with a reason on stderr.
bool RunDelivery(HostDriver& host, const FrameCase& test, DeliveryFigures& figures);

// The server child's side (arguments after --delivery-server); returns the
// exit code.
int DeliveryServerMain(const std::vector<std::string>& args);

}  // namespace bench
