// The driver's settings file as a host prepares it: a camera's section in
// Quorvex.ini in the host's system folder, written before the camera opens.
#pragma once

#include <string>

namespace tools {

// The file the driver reads: the system folder, the system's separator,
// "Quorvex.ini", joined as the driver joins them.
std::string SettingsFilePath(const std::string& systemDir);

// Sets one key of the camera's section; false when the file cannot be
// written.
bool WriteCameraSetting(const std::string& systemDir, const std::string& camera, const std::string& key,
                        const std::string& value);

}  // namespace tools
