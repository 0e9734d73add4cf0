// Failures of whole-file reads and writes told as Win32 error codes.
// Internal to the POSIX subset.
#pragma once

#include <string>

namespace platform::posix {

// Sets the last-error code for the errno value `error` of a read or write of
// `path`: a missing folder is "path not found", a missing file in an existing
// folder "file not found", as on Windows.
void SetLastErrorForFile(int error, const std::string& path);

}  // namespace platform::posix
