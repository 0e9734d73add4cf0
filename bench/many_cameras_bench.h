// Many cameras in one host: each served by its own quorvex-server process
// at a fixed rate, every row of every frame read in the complete callback.
#pragma once

#include "bench_support.h"

namespace bench {

struct ManyCamerasCase {
    int cameras;
    int width;
    int height;
    int fps;
    int seconds;  // measured, after every camera has had its first frame
};

struct ManyCamerasFigures {
    double framesPerCamera = 0;    // delivered in the measured time, mean
    int64_t lost = 0;              // all cameras, from the pattern's frame numbers
    double hostCores = 0;          // the host's processor time over the wall time
    double hostCpuUsPerFrame = 0;  // the host's processor time per delivered frame
};

// False with a reason on stderr when a server does not start or a camera
// does not connect.
bool RunManyCameras(HostDriver& host, const ManyCamerasCase& test, ManyCamerasFigures& figures);

}  // namespace bench
