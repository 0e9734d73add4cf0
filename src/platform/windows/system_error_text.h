// The system's own words for a Win32 error code, as FormatMessage gives them.
#pragma once

#include <string>

#include "platform/win32.h"

namespace platform {

// The text without its final line end, followed by the code in brackets
// ("The specified module could not be found. (126)"); the code alone only
// when the system has no text for it.
std::string SystemErrorText(DWORD code);

}  // namespace platform
