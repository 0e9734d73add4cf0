// quorvex-grab: the reference host of the Quorvex driver. It loads the
// driver by path, opens a camera, reads its frames row by row and sums up
// what it saw.
#include "grab_options.h"
#include "grab_session.h"
#include "host_tool.h"

int main(int argc, char** argv) {
    tools::GrabOptions options;
    return tools::RunHostTool(
        "quorvex-grab", argc, argv, QUORVEX_DRIVER_FILE, options,
        [&options](const std::vector<std::string>& args, const std::string& defaultDriver,
                   const std::string& defaultSystemDir, std::string& text) {
            return tools::ParseGrabOptions(args, defaultDriver, defaultSystemDir, options, text);
        },
        [&options](tools::DriverLibrary& driver, tools::StatusConsole& console) {
            tools::GrabSession session(driver, options, console);
            return session.Run();
        });
}
