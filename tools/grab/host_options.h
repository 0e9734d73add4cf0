// The command-line options that every host tool (quorvex-grab, quorvex-view)
// has: which driver, which system folder, which camera, and the settings to
// write into its section first.
#pragma once

#include <optional>
#include <string>

#include "args.h"

namespace tools {

struct HostOptions {
    std::string driver;     // the driver library's path
    std::string systemDir;  // handed to initialize; holds Quorvex.ini
    std::string camera = "Camera 1";
    int port = 1;
    bool log = false;
    bool list = false;
    // Settings written into the camera's section before it is opened.
    std::optional<std::string> share;
    std::optional<int> logLevel;
    std::optional<int> connectionTimeout;
};

// Declares the host options on a parser, with `defaultDriver` and
// `defaultSystemDir` for the options not given; Finish completes them once
// the parser has run.
class HostArgs {
public:
    HostArgs(ArgParser& parser, HostOptions& options, const std::string& defaultDriver,
             const std::string& defaultSystemDir);

    void Finish(const ArgParser& parser);

private:
    HostOptions& options_;
    std::string share_;
    int logLevel_ = 0;
    int connectionTimeout_ = 0;
};

}  // namespace tools
