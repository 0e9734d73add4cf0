// quorvex-check's command line.
#pragma once

#include <string>
#include <vector>

#include "args.h"
#include "conformance.h"

namespace check {

struct CheckCommand {
    CheckOptions check;
    bool json = false;
    bool help = false;
};

// Parses "SHARE [options]"; Error with the reason in `text`, Help with the
// usage.
tools::ParseOutcome ParseCheckCommand(const std::vector<std::string>& args, CheckCommand& command, std::string& text);

}  // namespace check
