#include "support/settings.h"

#include <cstdio>

#include "platform/win32.h"
#include "support/driver_state.h"
#include "support/system_files.h"

namespace {
constexpr DWORD kTextValueCapacity = settings_rules::kTextValueCapacity;
}

std::string GetIniPath(DriverState* state) {
    return SystemFilePath(state->SystemPath(), settings_rules::kFileName);
}

void IniSection::Exchange(Param<int32_t>& param) {
    if (loading) {
        param.value = static_cast<int32_t>(
            GetPrivateProfileIntA(section.c_str(), param.key.c_str(), param.value, fileName.c_str()));
    } else {
        char text[16];
        std::snprintf(text, sizeof text, "%d", param.value);
        WritePrivateProfileStringA(section.c_str(), param.key.c_str(), text, fileName.c_str());
    }
}

void IniSection::Exchange(Param<std::string>& param) {
    if (loading) {
        char buffer[kTextValueCapacity] = {};
        GetPrivateProfileStringA(section.c_str(), param.key.c_str(), param.value.c_str(), buffer, kTextValueCapacity,
                                 fileName.c_str());
        param.value = buffer;
    } else {
        WritePrivateProfileStringA(section.c_str(), param.key.c_str(), param.value.c_str(), fileName.c_str());
    }
}

bool SerializeSettings(const char* section, CameraSettings& settings, bool save) {
    if (section == nullptr) {
        return false;
    }
    IniSection ini(GetIniPath(GetDriverState()), section);
    ini.loading = !save;
    ini.Exchange(settings.PipeName);
    ini.Exchange(settings.LogLevel);
    ini.Exchange(settings.ConnectionTimeout);
    return true;
}
