// The command line of quorvex-view.
#pragma once

#include <string>
#include <vector>

#include "args.h"
#include "host_options.h"

namespace tools {

struct ViewOptions : HostOptions {
    std::string saveDir;  // where S saves the frame shown
};

// `defaultDriver` and `defaultSystemDir` fill the options not given; the
// system folder is also where frames are saved unless --save-dir says.
ParseOutcome ParseViewOptions(const std::vector<std::string>& args, const std::string& defaultDriver,
                              const std::string& defaultSystemDir, ViewOptions& options, std::string& text);

}  // namespace tools
