// quorvex-view's window: GTK 3 on Linux, Win32 (GDI) on Windows, chosen by
// the build. It shows the newest frame of a view scaled to fit with its
// proportions kept, and the status line under it. It sees the view only
// through this interface, so that the toolkit's headers and the driver's
// stay apart.
#pragma once

#include <string>

#include "image_files.h"

namespace tools {

// What the window asks of the view; called on the window's thread.
class ViewModel {
public:
    virtual ~ViewModel() = default;
    // Copies the newest frame into `frame` when one came since the last
    // call; false when none did or while paused.
    virtual bool TakeFrame(Image& frame) = 0;
    virtual std::string StatusText() = 0;
    // Prints the status line on the console (at the console's own pace).
    virtual void Report() = 0;
    virtual void TogglePause() = 0;
    // Saves the frame shown as a PNG file and says where.
    virtual void Save(const Image& shown) = 0;
    // Whether Ctrl+C asks the program to end.
    virtual bool StopRequested() const = 0;
};

struct WindowPlan {
    std::string title;
    // The picture's first size: the camera's frame size, so that a frame
    // shows pixel for pixel until the window is resized.
    int width = 0;
    int height = 0;
};

// Shows the window until the user closes it, presses Q or Escape, or
// Ctrl+C arrives; returns the program's exit code.
int RunViewWindow(ViewModel& view, const WindowPlan& plan);

// Whether a window can be shown at all (on Linux: a display answers), asked
// before the camera opens so that a missing display is said at once; prints
// why not.
bool CanShowWindow();

}  // namespace tools
