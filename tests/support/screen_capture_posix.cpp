#include <cstdlib>

#include "screen_capture.h"

namespace testsupport {

std::string CaptureScreen(const std::string& picture, const std::string& geometry) {
    const std::string command = std::string("sh '") + QUORVEX_SCREENSHOT_SCRIPT + "' '" + picture + "'" +
                                (geometry.empty() ? "" : " " + geometry);
    const int status = std::system(command.c_str());
    if (status != 0) {
        return "the screenshot script failed with status " + std::to_string(status);
    }
    return std::string();
}

}  // namespace testsupport
