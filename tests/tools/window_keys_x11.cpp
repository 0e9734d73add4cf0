// Keys through xdotool: the window is given the focus and the key goes to it
// through the X server's test extension, as from a keyboard.
#include <cstdlib>

#include "window_keys.h"

namespace toolstest {
namespace {

const char* KeyName(Key key) {
    switch (key) {
    case Key::Space:
        return "space";
    case Key::S:
        return "s";
    case Key::Q:
        return "q";
    case Key::Escape:
        return "Escape";
    }
    return "";
}

}  // namespace

testing::AssertionResult PressKey(const std::string& title, Key key) {
    // Two commands: a key chained to the search would be sent to the
    // window found, and fail when Q closes it before the key's release.
    const std::string command = "timeout 20 xdotool search --sync --onlyvisible --limit 1 --name '^" + title +
                                "$' windowfocus --sync && timeout 20 xdotool key " + KeyName(key);
    const int status = std::system(command.c_str());
    if (status != 0) {
        return testing::AssertionFailure()
               << "\"" << command << "\" failed with status " << status << " (xdotool is in the package of that name)";
    }
    return testing::AssertionSuccess();
}

}  // namespace toolstest
