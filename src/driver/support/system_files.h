// Names of the driver's files in the host's system directory.
#pragma once

#include <string>

#include "platform/win32.h"

// The directory followed by the system's separator and the file's name,
// nothing inserted or removed.
inline std::string SystemFilePath(const std::string& systemPath, const char* fileName) {
    return systemPath + platform::kPathSeparator + fileName;
}
