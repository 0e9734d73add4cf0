// quorvex-view: a host of the Quorvex driver that shows a camera's frames
// live in a window.
#include "exit_codes.h"
#include "host_camera.h"
#include "host_tool.h"
#include "live_view.h"
#include "view_options.h"
#include "view_window.h"

namespace {

// The picture's size before the camera has said its own.
constexpr int kDefaultWidth = 640;
constexpr int kDefaultHeight = 480;

int View(tools::DriverLibrary& driver, const tools::ViewOptions& options, tools::StatusConsole& console) {
    tools::HostCamera camera(driver, options, console, "quorvex-view");
    int exitCode = tools::kExitOk;
    if (!camera.Prepare(exitCode) || options.list) {
        return exitCode;
    }
    // Before the camera waits for its server: no display is said at once.
    if (!tools::CanShowWindow()) {
        return tools::kExitFailure;
    }
    tools::LiveView view(options, console);
    int dimensions[2];
    if (!camera.Open(view, dimensions)) {
        return tools::kExitFailure;
    }
    const bool known = dimensions[0] > 0 && dimensions[1] > 0;
    const tools::WindowPlan plan{"quorvex-view: " + options.camera, known ? dimensions[0] : kDefaultWidth,
                                 known ? dimensions[1] : kDefaultHeight};
    exitCode = tools::RunViewWindow(view, plan);
    // Closing joins the camera's thread before the view goes.
    camera.Close();
    console.Status(view.StatusText(), true);
    console.Finish();
    return exitCode;
}

}  // namespace

int main(int argc, char** argv) {
    tools::ViewOptions options;
    return tools::RunHostTool(
        "quorvex-view", argc, argv, QUORVEX_DRIVER_FILE, options,
        [&options](const std::vector<std::string>& args, const std::string& defaultDriver,
                   const std::string& defaultSystemDir, std::string& text) {
            return tools::ParseViewOptions(args, defaultDriver, defaultSystemDir, options, text);
        },
        [&options](tools::DriverLibrary& driver, tools::StatusConsole& console) {
            return View(driver, options, console);
        });
}
