#include "settings_file.h"

#include "platform/win32.h"
#include "settings_rules/settings_rules.h"

namespace tools {

std::string SettingsFilePath(const std::string& systemDir) {
    return systemDir + platform::kPathSeparator + settings_rules::kFileName;
}

bool WriteCameraSetting(const std::string& systemDir, const std::string& camera, const std::string& key,
                        const std::string& value) {
    return WritePrivateProfileStringA(camera.c_str(), key.c_str(), value.c_str(),
                                      SettingsFilePath(systemDir).c_str()) != FALSE;
}

}  // namespace tools
