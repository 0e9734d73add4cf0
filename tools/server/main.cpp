// quorvex-server: a camera server for the Quorvex driver, serving a moving
// test pattern, image files or a GenICam camera on a share.
#include <cstdio>
#include <string>
#include <vector>

#include "exit_codes.h"
#include "genicam_server.h"
#include "platform/console.h"
#include "server_app.h"
#include "server_options.h"
#include "status_console.h"

int main(int argc, char** argv) {
    tools::ServerOptions options;
    std::string text;
    switch (tools::ParseServerOptions(std::vector<std::string>(argv + 1, argv + argc), options, text)) {
    case tools::ParseOutcome::Help:
        std::fputs(text.c_str(), stdout);
        return tools::kExitOk;
    case tools::ParseOutcome::Error:
        std::fprintf(stderr, "quorvex-server: %s\nTry 'quorvex-server --help'.\n", text.c_str());
        return tools::kExitUsage;
    case tools::ParseOutcome::Run:
        break;
    }
    platform::CatchInterrupt();
    tools::StatusConsole console(stdout, platform::IsTerminal(stdout), std::chrono::seconds(2));
    if (options.list) {
        return tools::ListGenicamCameras(console);
    }
    if (options.genicam) {
        return tools::RunGenicamServer(options, console);
    }
    return tools::RunServer(options, console);
}
