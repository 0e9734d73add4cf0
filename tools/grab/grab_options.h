// The command line of quorvex-grab.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "args.h"

namespace tools {

struct GrabOptions {
    std::string driver;     // the driver library's path
    std::string systemDir;  // handed to initialize; holds Quorvex.ini
    std::string camera = "Camera 1";
    int port = 1;
    int frames = 0;          // 0: until Ctrl+C
    int timeoutSeconds = 10; // longest wait for a frame; 0: no limit
    std::string saveDir;     // empty: no PNG files
    int every = 1;           // save every K-th frame
    bool log = false;
    bool configure = false;
    bool list = false;
    // Settings written into the camera's section before it is opened.
    std::optional<std::string> share;
    std::optional<int> logLevel;
    std::optional<int> connectionTimeout;
};

// `defaultDriver` and `defaultSystemDir` fill the options not given.
ParseOutcome ParseGrabOptions(const std::vector<std::string>& args, const std::string& defaultDriver,
                              const std::string& defaultSystemDir, GrabOptions& options, std::string& text);

}  // namespace tools
