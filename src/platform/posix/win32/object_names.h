// System names for Win32 object names. Internal to the POSIX subset.
#pragma once

#include <string>
#include <string_view>

namespace platform::posix {

// The POSIX shared-memory name of a named kernel object ("/qvx-UID-PREFIX-HASH"):
// any characters and any length map onto the system's limits, the hash of the
// whole name keeps names apart that the cleaned prefix makes alike, and the
// user id keeps users apart.
std::string SharedMemoryName(std::string_view objectName);

// What every one of this user's object names starts with ("/qvx-UID-").
std::string SharedMemoryPrefix();

// The socket directory of this user's pipes: created on first use with mode
// 0700 and refused when it is not the user's own or others may enter it.
// Returns false with the last error set.
bool PipeDirectory(std::string& directory);

// The socket path of a pipe name (what follows "\\.\pipe\"), which Windows
// compares without regard to case.
std::string PipeSocketPath(const std::string& directory, std::string_view pipeName);

}  // namespace platform::posix
