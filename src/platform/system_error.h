// The system's own words for a failure, in the one form that every message
// of the server library, the tools and the Python package uses.
#pragma once

#include <string>

#include "platform/win32.h"

namespace platform {

// "(system error 5: Access is denied.)": the code and the system's text of
// it, or "(system error 5)" when the system has none.
std::string SystemErrorNote(DWORD code);

// The same for an errno value of the C runtime: "(system error 5:
// Input/output error)".
std::string RuntimeErrorNote(int errorNumber);

}  // namespace platform
