// The start that every host tool's main shares: the command line parsed
// against the defaults (the current folder; the driver as the host library
// finds it), --help and bad arguments answered, Ctrl+C caught, the host
// library opened, and the camera looked up, its settings written and opened.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "args.h"
#include "host_options.h"
#include "quorvex_host.h"
#include "status_console.h"

namespace tools {

// Fills the tool's options from the arguments after the program name.
using HostParse = std::function<ParseOutcome(const std::vector<std::string>& args, const std::string& defaultDriver,
                                             const std::string& defaultSystemDir, std::string& text)>;
// The tool's work on the host library's host; returns the exit code.
using HostWork = std::function<int(QuorvexHost* host, StatusConsole& console)>;

// `options` is what `parse` fills, read for the driver's path (empty: the
// library's own search), the settings folder and --log. Returns the
// program's exit code.
int RunHostTool(const std::string& tool, int argc, char** argv, const HostOptions& options, const HostParse& parse,
                const HostWork& work);

// Looks the camera up (with --list: lists the driver's cameras) and then
// writes the settings the options give, so that nothing is written for a
// camera the driver does not have. The exit code when the tool ends here,
// nothing when it goes on.
std::optional<int> PrepareCamera(QuorvexHost* host, const HostOptions& options, StatusConsole& console,
                                 const std::string& tool);

// Opens the camera with rows packed and says so, with the size its server
// answered; null, having said why, when the library refuses.
QuorvexHostCamera* OpenCamera(QuorvexHost* host, const HostOptions& options, int queueDepth, StatusConsole& console,
                              const std::string& tool);

}  // namespace tools
