#include "support/driver_state.h"

void DriverState::SetSystemPath(const char* path) {
    platform::CriticalSectionLock hold(lock);
    systemPath = path;
}

std::string DriverState::SystemPath() {
    platform::CriticalSectionLock hold(lock);
    return systemPath;
}

DriverState* GetDriverState() {
    static DriverState state;
    return &state;
}
