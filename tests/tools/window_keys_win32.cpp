// Keys as the window's message loop receives them from the keyboard: the
// character for space, S and Q, the key itself for Escape.
#include <chrono>
#include <thread>

#include "platform/win32.h"
#include "window_keys.h"

namespace toolstest {
namespace {

constexpr auto kFindFor = std::chrono::seconds(20);
constexpr auto kPoll = std::chrono::milliseconds(50);

}  // namespace

testing::AssertionResult PressKey(const std::string& title, Key key) {
    const auto until = std::chrono::steady_clock::now() + kFindFor;
    HWND window = nullptr;
    while ((window = FindWindowA(nullptr, title.c_str())) == nullptr || !IsWindowVisible(window)) {
        if (std::chrono::steady_clock::now() > until) {
            return testing::AssertionFailure() << "no visible window \"" << title << "\"";
        }
        std::this_thread::sleep_for(kPoll);
    }
    const bool posted = key == Key::Escape ? PostMessageA(window, WM_KEYDOWN, VK_ESCAPE, 1) != FALSE
                                           : PostMessageA(window, WM_CHAR,
                                                          key == Key::Space ? ' '
                                                          : key == Key::S   ? 's'
                                                                            : 'q',
                                                          1) != FALSE;
    if (!posted) {
        return testing::AssertionFailure() << "PostMessage failed, error " << GetLastError();
    }
    return testing::AssertionSuccess();
}

}  // namespace toolstest
