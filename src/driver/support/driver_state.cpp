#include "support/driver_state.h"

#include "platform/immortal.h"

namespace {

// The one object of the library that acts at unload: it only marks the
// record, without taking its lock, which a thread that the system ended
// before the unload may still hold.
struct UnloadMark {
    UnloadMark() = default;
    UnloadMark(const UnloadMark&) = delete;
    UnloadMark& operator=(const UnloadMark&) = delete;
    ~UnloadMark() { GetDriverState()->unloading = true; }
};

const UnloadMark unloadMark;

}  // namespace

void DriverState::SetSystemPath(const char* path) {
    platform::CriticalSectionLock hold(lock);
    systemPath = path;
}

std::string DriverState::SystemPath() {
    platform::CriticalSectionLock hold(lock);
    return systemPath;
}

DriverState* GetDriverState() {
    static platform::Immortal<DriverState> state;
    return &state.get();
}
