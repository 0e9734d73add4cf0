// Text between UTF-8, in which the host library's callers write, and the
// system's narrow encoding, in which the driver and the narrow system calls
// read and write it: on Windows the ANSI code page, elsewhere the same bytes.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// `utf8` in the system's narrow encoding; false when it is not UTF-8 or a
// character of it has no place in that encoding (no look-alike is put in its
// stead), `system` then empty.
bool Utf8ToSystemText(std::string_view utf8, std::string& system);

// Text of the system's narrow encoding as UTF-8.
std::string SystemTextToUtf8(std::string_view system);

// The system's narrow encoding by name, for a message: "the ANSI code page
// 1252"; "UTF-8" where bytes pass as they are.
std::string SystemTextEncoding();

}  // namespace platform
