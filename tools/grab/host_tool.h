// The start that every host tool's main shares: the command line parsed
// against the defaults (the driver beside the program, the current folder),
// --help and bad arguments answered, Ctrl+C caught and the driver loaded,
// by the tool itself or through the host library.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "args.h"
#include "driver_library.h"
#include "host_options.h"
#include "quorvex_host.h"
#include "status_console.h"

namespace tools {

// Fills the tool's options from the arguments after the program name.
using HostParse = std::function<ParseOutcome(const std::vector<std::string>& args, const std::string& defaultDriver,
                                             const std::string& defaultSystemDir, std::string& text)>;
// The tool's work once the driver is loaded; returns the exit code.
using HostWork = std::function<int(DriverLibrary& driver, StatusConsole& console)>;
// The tool's work on the host library's host; returns the exit code.
using HostLibraryWork = std::function<int(QuorvexHost* host, StatusConsole& console)>;

// `driverFile` is the driver's file name; `options` is what `parse` fills,
// read for the driver's path. Returns the program's exit code.
int RunHostTool(const std::string& tool, int argc, char** argv, const char* driverFile, const HostOptions& options,
                const HostParse& parse, const HostWork& work);

// As RunHostTool, with the driver found and loaded by the host library: the
// path in `options` when given, else the library's own search.
int RunHostLibraryTool(const std::string& tool, int argc, char** argv, const HostOptions& options,
                       const HostParse& parse, const HostLibraryWork& work);

}  // namespace tools
