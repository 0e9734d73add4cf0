// The second way to interrupt a program on Windows. Ctrl+Break reaches a
// process only from one that shares its console, and a parent without a
// console (a service, a test run from a pipe, wine without a terminal) has
// none to share; so a program that catches interrupts also owns a named
// event that a parent can set instead. Internal to the Windows platform files.
#pragma once

#include <string>

#include "platform/win32.h"

namespace platform::windows {

inline std::string InterruptEventName(DWORD processId) {
    return "Local\\QuorvexInterrupt-" + std::to_string(processId);
}

}  // namespace platform::windows
