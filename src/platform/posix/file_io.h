// Whole files on POSIX, read at once and replaced in one step: shared by the
// profile stand-ins and the platform's whole-file face.
#pragma once

#include <string>
#include <string_view>

namespace platform {
namespace posix {

// Reads the whole file into `content`. Returns 0 or the errno value of the
// failure.
int ReadWholeFile(const std::string& path, std::string& content);

// Writes `content` beside the file under a name of its own and renames it over
// the file, so that a reader sees the old file or the new one, never a part.
// An existing file keeps its permissions, and one that may not be written is
// not replaced; a symbolic link keeps pointing at the replaced file. Returns 0
// or the errno value of the failure.
int ReplaceWholeFile(const std::string& path, std::string_view content);

}  // namespace posix
}  // namespace platform
