// quorvex-grab: the reference host of the Quorvex driver. Through the host
// library it loads the driver, writes the camera's settings, opens the
// camera, reads its frames and sums up what it saw.
#include "grab_options.h"
#include "grab_session.h"
#include "host_tool.h"

int main(int argc, char** argv) {
    tools::GrabOptions options;
    return tools::RunHostTool(
        "quorvex-grab", argc, argv, options,
        [&options](const std::vector<std::string>& args, const std::string& defaultDriver,
                   const std::string& defaultSystemDir, std::string& text) {
            return tools::ParseGrabOptions(args, defaultDriver, defaultSystemDir, options, text);
        },
        [&options](QuorvexHost* host, tools::StatusConsole& console) {
            tools::GrabSession session(host, options, console);
            return session.Run();
        });
}
