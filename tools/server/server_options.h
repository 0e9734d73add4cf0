// The command line of quorvex-server.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "args.h"
#include "frame_plan.h"

namespace tools {

struct ServerOptions {
    std::string share = "Camera Share";  // the driver's default share name
    Size2D size{640, 480};
    int bytesPerPixel = 1;
    int fps = 30;     // 0: no pacing
    int frames = 0;   // 0: until interrupted
    int clients = 4;  // pipe instances, so that several hosts can attach
    std::string images;  // empty: the test pattern
    FaultOptions faults;
    // A GenICam camera instead of the test pattern: `genicam` set (empty for
    // the first camera found), with the features to set, NAME=VALUE each.
    std::optional<std::string> genicam;
    std::vector<std::string> features;
    bool list = false;  // list the GenICam cameras and quit
};

ParseOutcome ParseServerOptions(const std::vector<std::string>& args, ServerOptions& options, std::string& text);

}  // namespace tools
