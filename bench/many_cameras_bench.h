// Many cameras in one host: one child process serves them all, each camera
// server publishing prepared, numbered frames at a fixed rate, so that what
// is measured is the transport and not the drawing of frames. The host opens
// the cameras through the host library (include/quorvex_host.h), which reads
// every row of every frame in the driver's callback, and takes each frame on
// a thread of the camera's own, counting the numbers that never came.
#pragma once

#include <string>
#include <vector>

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
    double framesPerCamera = 0;    // taken by the host in the measured time, mean
    int64_t lost = 0;              // all cameras: numbers published that the host never took
    double hostCores = 0;          // the host's processor time over the wall time
    double hostCpuUsPerFrame = 0;  // the host's processor time per frame taken
    double publishUs = 0;          // one QuorvexServerPublishFrame, median
    double frameCopyUs = 0;        // one memcpy of the frame into a warm buffer there, median
    int64_t lateTicks = 0;         // ticks the servers' process could not keep (a busy machine)
};

// False with a reason on stderr when the servers do not start or a camera
// does not connect.
bool RunManyCameras(HostDriver& host, const ManyCamerasCase& test, ManyCamerasFigures& figures);

// The servers' child (arguments after --frame-servers); returns the exit code.
int FrameServersMain(const std::vector<std::string>& args);

}  // namespace bench
