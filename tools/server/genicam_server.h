// quorvex-server's GenICam mode: a camera driven through Aravis as the source
// of the frames. Built with Aravis where Debian has it (Linux); elsewhere
// both calls say that the server was built without it.
#pragma once

#include "server_options.h"
#include "status_console.h"

namespace tools {

// Serves the camera of `options.genicam` until the frames asked for are out
// or Ctrl+C arrives; returns the program's exit code.
int RunGenicamServer(const ServerOptions& options, StatusConsole& console);

// Prints one line per GenICam camera found; returns the exit code.
int ListGenicamCameras(StatusConsole& console);

}  // namespace tools
