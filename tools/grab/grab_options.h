// The command line of quorvex-grab.
#pragma once

#include <string>
#include <vector>

#include "args.h"
#include "host_options.h"

namespace tools {

struct GrabOptions : HostOptions {
    int frames = 0;           // 0: until Ctrl+C
    int timeoutSeconds = 10;  // longest wait for a frame; 0: no limit
    std::string saveDir;      // empty: no PNG files
    int every = 1;            // save every K-th frame
    bool configure = false;
};

// `defaultDriver` and `defaultSystemDir` fill the options not given.
ParseOutcome ParseGrabOptions(const std::vector<std::string>& args, const std::string& defaultDriver,
                              const std::string& defaultSystemDir, GrabOptions& options, std::string& text);

}  // namespace tools
