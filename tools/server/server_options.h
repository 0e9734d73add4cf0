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
    int fps = 30;          // 0: no pacing
    int frames = 0;        // 0: until interrupted
    int clients = 4;       // pipe instances, so that several hosts can attach
    int waitForHosts = 0;  // hosts to wait for before the first frame
    int waitTimeout = 0;   // seconds that wait lasts at most; 0: no limit
    std::string images;    // empty: the test pattern
    FaultOptions faults;
    // --stdin: raw frames of this size and format from standard input.
    bool fromStdin = false;
    Size2D stdinSize{0, 0};
    std::string formatName;  // gray8, rgb24, bgr24, rgba32 or bgra32
    int format = 0;          // its QUORVEX_FORMAT_* value
    // A GenICam camera instead of the test pattern: `genicam` set (empty for
    // the first camera found), with the features to set, NAME=VALUE each.
    std::optional<std::string> genicam;
    std::vector<std::string> features;
    bool list = false;  // list the GenICam cameras and quit
    // Hosts of every local user may attach, not only the server's own user's.
    bool allowOtherUsers = false;
};

// The QUORVEX_FORMAT_* value of a --format name and its bytes per pixel;
// false for an unknown name.
bool LookUpRawFormat(const std::string& name, int& format, int& bytesPerPixel);

ParseOutcome ParseServerOptions(const std::vector<std::string>& args, ServerOptions& options, std::string& text);

}  // namespace tools
