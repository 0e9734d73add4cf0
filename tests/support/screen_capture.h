// Pictures of the X display that a test's windows show on, taken by
// tests/ui/screenshot.sh (ImageMagick): natively with the shell, under wine
// by starting the host system's shell as wine starts any program.
#pragma once

#include <string>

namespace testsupport {

// Saves the display, cut to `geometry` (WxH+X+Y) unless it is empty, as the
// PNG file `picture`, a host system path. Returns what went wrong, or an
// empty text.
std::string CaptureScreen(const std::string& picture, const std::string& geometry = std::string());

}  // namespace testsupport
