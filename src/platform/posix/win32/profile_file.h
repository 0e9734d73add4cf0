// Whole profile files: read at once, and replaced at once through a
// temporary file beside them, with failures told as Win32 error codes.
// Internal to the POSIX subset.
#pragma once

#include <string>
#include <string_view>

namespace platform::posix {

// Reads the whole file into `content`. Returns 0 or the errno value of the
// failure.
int ReadWholeFile(const std::string& path, std::string& content);

// Writes `content` beside the file under a name of its own and renames it over
// the file, so that a reader sees the old file or the new one, never a part.
// An existing file keeps its permissions, and one that may not be written is
// not replaced; a symbolic link is kept, and its target replaced. Returns 0
// or the errno value of the failure.
int ReplaceWholeFile(const std::string& path, std::string_view content);

// Sets the last-error code for the errno value `error` of a read or write of
// `path`: a missing folder is "path not found", a missing file in an existing
// folder "file not found", as on Windows.
void SetLastErrorForFile(int error, const std::string& path);

}  // namespace platform::posix
