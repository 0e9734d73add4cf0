// quorvex-view: a host of the Quorvex driver that shows a camera's frames
// live in a window.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "driver_library.h"
#include "exit_codes.h"
#include "host_camera.h"
#include "live_view.h"
#include "platform/console.h"
#include "platform/process.h"
#include "platform/win32.h"
#include "status_console.h"
#include "view_options.h"
#include "view_window.h"

namespace {

// The picture's size before the camera has said its own.
constexpr int kDefaultWidth = 640;
constexpr int kDefaultHeight = 480;

}  // namespace

int main(int argc, char** argv) {
    std::error_code ignored;
    const std::string defaultDriver =
        platform::FolderOf(platform::ProgramPath()) + platform::kPathSeparator + QUORVEX_DRIVER_FILE;
    const std::string defaultSystemDir = std::filesystem::current_path(ignored).string();

    tools::ViewOptions options;
    std::string text;
    switch (tools::ParseViewOptions(std::vector<std::string>(argv + 1, argv + argc), defaultDriver, defaultSystemDir,
                                    options, text)) {
    case tools::ParseOutcome::Help:
        std::fputs(text.c_str(), stdout);
        return tools::kExitOk;
    case tools::ParseOutcome::Error:
        std::fprintf(stderr, "quorvex-view: %s\nTry 'quorvex-view --help'.\n", text.c_str());
        return tools::kExitUsage;
    case tools::ParseOutcome::Run:
        break;
    }
    platform::CatchInterrupt();
    tools::StatusConsole console(stdout, platform::IsTerminal(stdout), std::chrono::seconds(1));
    tools::DriverLibrary driver;
    if (!driver.Load(options.driver, text)) {
        console.Line("quorvex-view: " + text);
        return tools::kExitFailure;
    }
    tools::HostCamera camera(driver, options, console, "quorvex-view");
    int exitCode = tools::kExitOk;
    if (!camera.Prepare(exitCode) || options.list) {
        return exitCode;
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
