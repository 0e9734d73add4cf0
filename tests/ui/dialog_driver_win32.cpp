// The Win32 dialog worked from another thread of the test process. Messages
// are sent, so each call returns once the dialog's thread has handled it;
// typing sends WM_CHAR to the edit control, which changes the text and
// notifies the dialog (EN_CHANGE) exactly as a key press does. Enter is
// posted instead, so that it passes through the dialog's own message loop.
#include <atomic>
#include <chrono>
#include <thread>

#include "dialog_driver.h"
#include "platform/unique_handle.h"
#include "platform/win32.h"
#include "support/screen_capture.h"

#include <commctrl.h>

#include "ui/resource.h"

namespace dialogtest {
namespace {

using Clock = std::chrono::steady_clock;

constexpr char kDialogClass[] = "#32770";
constexpr auto kPoll = std::chrono::milliseconds(20);
constexpr int kKeyTimeoutMs = 5000;
constexpr auto kPaintSettle = std::chrono::milliseconds(300);
constexpr WPARAM kQueueMarker = 0x51D1A106;

struct HookTraits {
    using Pointer = HHOOK;
    static Pointer Invalid() noexcept { return nullptr; }
    static void Close(Pointer hook) noexcept { UnhookWindowsHookEx(hook); }
};

// Set when the dialog's thread takes the marker message from its queue,
// that is, once it has handled everything posted before it.
std::atomic<bool> markerTaken{false};

LRESULT CALLBACK WatchQueue(int code, WPARAM removal, LPARAM message) {
    const MSG* taken = reinterpret_cast<const MSG*>(message);
    if (code == HC_ACTION && taken->message == WM_NULL && taken->wParam == kQueueMarker) {
        markerTaken = true;
    }
    return CallNextHookEx(nullptr, code, removal, message);
}

std::string WindowText(HWND window) {
    const int length = GetWindowTextLengthA(window);
    std::string text(static_cast<size_t>(length) + 1, '\x7f');
    const int copied = GetWindowTextA(window, &text[0], length + 1);
    text.resize(static_cast<size_t>(copied > 0 ? copied : 0));
    return text;
}

class Win32DialogDriver : public DialogDriver {
public:
    testing::AssertionResult WaitForDialog(const std::string& caption, int timeoutMs) override {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        do {
            const HWND found = FindWindowA(kDialogClass, caption.c_str());
            if (found != nullptr && IsWindowVisible(found)) {
                dialog = found;
                return testing::AssertionSuccess();
            }
            std::this_thread::sleep_for(kPoll);
        } while (Clock::now() < deadline);
        return testing::AssertionFailure() << "no dialog \"" << caption << "\" within " << timeoutMs << " ms";
    }

    bool IsShown() override { return IsWindow(dialog) && IsWindowVisible(dialog); }

    std::string Caption() override { return WindowText(dialog); }

    std::string Text(int controlId) override {
        const HWND control = GetDlgItem(dialog, controlId);
        if (controlId != IDC_STATUS_BAR) {
            return WindowText(control);
        }
        const size_t length = LOWORD(SendMessageA(control, SB_GETTEXTLENGTHA, 0, 0));
        std::string text(length + 1, '\x7f');
        const size_t copied = LOWORD(SendMessageA(control, SB_GETTEXTA, 0, reinterpret_cast<LPARAM>(&text[0])));
        if (copied != length || text[length] != '\0') {
            return "<SB_GETTEXTA returned " + std::to_string(copied) + " of " + std::to_string(length) + ">";
        }
        text.resize(length);
        return text;
    }

    bool IsEnabled(int controlId) override { return IsWindowEnabled(GetDlgItem(dialog, controlId)) != FALSE; }

    bool IsChecked(int controlId) override {
        return SendMessageA(GetDlgItem(dialog, controlId), BM_GETCHECK, 0, 0) == BST_CHECKED;
    }

    testing::AssertionResult Type(int controlId, const std::string& text) override {
        const HWND edit = GetDlgItem(dialog, controlId);
        if (edit == nullptr) {
            return testing::AssertionFailure() << "no control " << controlId;
        }
        SendMessageA(edit, EM_SETSEL, 0, -1);
        if (text.empty()) {
            SendMessageA(edit, WM_CHAR, VK_BACK, 1);
        }
        for (const char key : text) {
            SendMessageA(edit, WM_CHAR, static_cast<unsigned char>(key), 1);
        }
        return HasText(edit, text);
    }

    testing::AssertionResult Paste(int controlId, const std::string& text) override {
        const HWND edit = GetDlgItem(dialog, controlId);
        SendMessageA(edit, EM_SETSEL, 0, -1);
        SendMessageA(edit, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(text.c_str()));
        return HasText(edit, text);
    }

    testing::AssertionResult PressKey(int controlId, Key key) override {
        const HWND edit = GetDlgItem(dialog, controlId);
        const DWORD dialogThread = GetWindowThreadProcessId(dialog, nullptr);
        markerTaken = false;
        platform::UniqueHandle<HookTraits> hook(SetWindowsHookExA(WH_GETMESSAGE, &WatchQueue, nullptr, dialogThread));
        if (!hook) {
            return testing::AssertionFailure() << "SetWindowsHookExA failed, error " << GetLastError();
        }
        const WPARAM virtualKey = key == Key::Enter ? VK_RETURN : VK_ESCAPE;
        const LPARAM scanCode = (key == Key::Enter ? 0x1C : 0x01) << 16;
        PostMessageA(edit, WM_KEYDOWN, virtualKey, scanCode | 1);
        PostMessageA(edit, WM_KEYUP, virtualKey, scanCode | static_cast<LPARAM>(0xC0000001));
        PostMessageA(edit, WM_NULL, kQueueMarker, 0);
        const auto deadline = Clock::now() + std::chrono::milliseconds(kKeyTimeoutMs);
        while (!markerTaken && IsWindow(dialog)) {
            if (Clock::now() > deadline) {
                return testing::AssertionFailure() << "the key was not handled within " << kKeyTimeoutMs << " ms";
            }
            std::this_thread::sleep_for(kPoll);
        }
        return testing::AssertionSuccess();
    }

    void Click(int controlId) override { SendMessageA(GetDlgItem(dialog, controlId), BM_CLICK, 0, 0); }

    void CloseWindow() override { SendMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0); }

    Rect ScreenBounds() override {
        RECT bounds{};
        GetWindowRect(dialog, &bounds);
        return Rect{bounds.left, bounds.top, bounds.right, bounds.bottom};
    }

    Rect WorkArea() override {
        RECT area{};
        SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
        return Rect{area.left, area.top, area.right, area.bottom};
    }

    Rect ClientBounds() override {
        RECT bounds{};
        GetClientRect(dialog, &bounds);
        return Rect{bounds.left, bounds.top, bounds.right, bounds.bottom};
    }

    Rect Bounds(int controlId) override {
        RECT bounds{};
        GetWindowRect(GetDlgItem(dialog, controlId), &bounds);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&bounds), 2);
        return Rect{bounds.left, bounds.top, bounds.right, bounds.bottom};
    }

    std::string Screenshot(const std::string& name) override {
        // Painted now; wine hands the pixels to X shortly after.
        RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
        std::this_thread::sleep_for(kPaintSettle);
        return testsupport::CaptureScreen(std::string(QUORVEX_SCREENSHOT_DIR) + "/" + name + ".png",
                                          CropGeometry(ScreenBounds()));
    }

private:
    testing::AssertionResult HasText(HWND edit, const std::string& expected) {
        const std::string actual = WindowText(edit);
        if (actual != expected) {
            return testing::AssertionFailure() << "control holds \"" << actual << "\", expected \"" << expected << "\"";
        }
        return testing::AssertionSuccess();
    }

    HWND dialog = nullptr;
};

}  // namespace

std::string DialogDriver::DisplayProblem() {
    const HWND probe =
        CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    if (probe == nullptr) {
        return "no window can be created here (under wine: no X display, DISPLAY is not set); error " +
               std::to_string(GetLastError());
    }
    DestroyWindow(probe);
    return std::string();
}

std::unique_ptr<DialogDriver> DialogDriver::Create() {
    return std::make_unique<Win32DialogDriver>();
}

}  // namespace dialogtest
