// quorvex-view: a host of the Quorvex driver that shows a camera's frames
// live in a window. It reaches the driver through the host library.
#include "exit_codes.h"
#include "frame_reader.h"
#include "host_tool.h"
#include "live_view.h"
#include "view_options.h"
#include "view_window.h"

namespace {

constexpr const char* kTool = "quorvex-view";
// The picture's size before the camera has said its own.
constexpr int kDefaultWidth = 640;
constexpr int kDefaultHeight = 480;
// Frames the library keeps while the reader is busy with one: the view
// counts every frame for its status line.
constexpr int kQueueDepth = 4;

int View(QuorvexHost* host, const tools::ViewOptions& options, tools::StatusConsole& console) {
    if (const std::optional<int> done = tools::PrepareCamera(host, options, console, kTool)) {
        return *done;
    }
    // Before the camera waits for its server: no display is said at once.
    if (!tools::CanShowWindow()) {
        return tools::kExitFailure;
    }
    QuorvexHostCamera* camera = tools::OpenCamera(host, options, kQueueDepth, console, kTool);
    if (camera == nullptr) {
        return tools::kExitFailure;
    }
    int width = 0;
    int height = 0;
    QuorvexHostCameraOpenedSize(camera, &width, &height);
    const bool known = width > 0 && height > 0;
    const tools::WindowPlan plan{"quorvex-view: " + options.camera, known ? width : kDefaultWidth,
                                 known ? height : kDefaultHeight};
    tools::LiveView view(options, console, QuorvexHostCameraShare(camera));
    int exitCode = tools::kExitOk;
    {
        const tools::FrameReader reader(camera, view);
        exitCode = tools::RunViewWindow(view, plan);
    }
    QuorvexHostCameraClose(camera);
    console.Status(view.StatusText(), true);
    console.Finish();
    return exitCode;
}

}  // namespace

int main(int argc, char** argv) {
    tools::ViewOptions options;
    return tools::RunHostTool(
        kTool, argc, argv, options,
        [&options](const std::vector<std::string>& args, const std::string& defaultDriver,
                   const std::string& defaultSystemDir, std::string& text) {
            return tools::ParseViewOptions(args, defaultDriver, defaultSystemDir, options, text);
        },
        [&options](QuorvexHost* host, tools::StatusConsole& console) { return View(host, options, console); });
}
