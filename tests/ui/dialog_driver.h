// The camera settings dialog as its user meets it, for tests that run
// configureCamera on one thread and work the dialog from another: find it by
// its caption, type into its fields, read what it shows, press its buttons.
// One implementation per toolkit (Win32 under wine, GTK 3 natively); the
// cases in dialog_test.cpp are written once against this interface.
//
// Controls are named by the dialog's control IDs (ui/resource.h; 1 is OK,
// 2 Cancel, 1004 the status bar). Every wait has a time-out.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace dialogtest {

// A rectangle in pixels, right and bottom exclusive.
struct Rect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
};

// The screen area that a picture of `window` shows, as "WxH+X+Y" for the
// screenshot script: the window with a margin, so that a frame drawn around
// it (or the lack of one) is seen too.
inline std::string CropGeometry(const Rect& window) {
    constexpr int kMargin = 24;
    const int left = window.left > kMargin ? window.left - kMargin : 0;
    const int top = window.top > kMargin ? window.top - kMargin : 0;
    return std::to_string(window.right + kMargin - left) + "x" + std::to_string(window.bottom + kMargin - top) + "+" +
           std::to_string(left) + "+" + std::to_string(top);
}

// The keys that do more than type.
enum class Key { Enter, Escape };

class DialogDriver {
public:
    // Empty when this process can show windows; otherwise why it cannot.
    static std::string DisplayProblem();
    static std::unique_ptr<DialogDriver> Create();

    virtual ~DialogDriver() = default;

    // Waits until a dialog with exactly this caption is on the screen; the
    // other operations then work on that dialog.
    virtual testing::AssertionResult WaitForDialog(const std::string& caption, int timeoutMs) = 0;
    // True while the dialog found last is still shown.
    virtual bool IsShown() = 0;

    // The text of the window title, of an edit field, a label or the status bar.
    virtual std::string Caption() = 0;
    virtual std::string Text(int controlId) = 0;
    virtual bool IsEnabled(int controlId) = 0;
    virtual bool IsChecked(int controlId) = 0;

    // Selects the whole text of an edit field and types `text` over it key by
    // key; an empty text is typed as one Backspace.
    virtual testing::AssertionResult Type(int controlId, const std::string& text) = 0;
    // Replaces the whole text of an edit field in one step, as a paste does.
    virtual testing::AssertionResult Paste(int controlId, const std::string& text) = 0;
    // Presses a key in an edit field and returns once the dialog has handled it.
    virtual testing::AssertionResult PressKey(int controlId, Key key) = 0;
    // Clicks a button or the check box.
    virtual void Click(int controlId) = 0;
    // Closes the window as its close box does.
    virtual void CloseWindow() = 0;

    // The dialog window on the screen, frame included where the toolkit
    // draws one, and its controls relative to the dialog's client area.
    virtual Rect ScreenBounds() = 0;
    // The part of the screen that windows are placed in.
    virtual Rect WorkArea() = 0;
    virtual Rect ClientBounds() = 0;
    virtual Rect Bounds(int controlId) = 0;

    // Saves a PNG picture of the screen around the dialog as `name`.png in
    // the build's folder for test pictures; empty on success, otherwise why
    // there is none.
    virtual std::string Screenshot(const std::string& name) = 0;
};

}  // namespace dialogtest
