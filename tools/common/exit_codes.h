// Exit codes shared by the tools, so that scripts and tests can tell the
// kinds of failure apart.
#pragma once

namespace tools {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;     // the work could not be done
constexpr int kExitUsage = 2;       // bad arguments
constexpr int kExitShareInUse = 3;  // quorvex-server: another server holds the share

}  // namespace tools
