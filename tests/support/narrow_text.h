// Text as the driver and the camera-server library take it: on Windows the
// ANSI code page, converted here by the system itself without look-alikes;
// elsewhere the same bytes.
#pragma once

#include <string>

#include "platform/win32.h"

namespace testsupport {

// `utf8` in the system's narrow text; empty when the ANSI code page has no
// exact form of it.
inline std::string NarrowForm(const std::string& utf8) {
#ifdef _WIN32
    wchar_t wide[512] = {};
    const int wideLength =
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()), wide, 512);
    char narrow[1024] = {};
    BOOL defaulted = FALSE;
    const int length =
        WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, wideLength, narrow, 1024, nullptr, &defaulted);
    return length > 0 && !defaulted ? std::string(narrow, static_cast<size_t>(length)) : std::string();
#else
    return utf8;
#endif
}

}  // namespace testsupport
