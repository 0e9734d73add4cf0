// quorvex-server's work once its options are parsed.
#pragma once

#include "server_options.h"
#include "status_console.h"

namespace tools {

// Serves the share until the frames asked for are out or Ctrl+C arrives;
// returns the program's exit code. Reports to `console`.
int RunServer(const ServerOptions& options, StatusConsole& console);

}  // namespace tools
