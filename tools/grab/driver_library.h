// The Quorvex driver as a third-party host meets it: a library loaded by
// path at run time, its exports looked up by name. Nothing of it is linked.
#pragma once

#include <string>

#include "platform/unique_handle.h"
#include "quorvex.h"

namespace tools {

struct ModuleTraits {
    using Pointer = HMODULE;
    static Pointer Invalid() noexcept { return nullptr; }
    static void Close(Pointer module) noexcept { FreeLibrary(module); }
};

// Owns the loaded library. The export pointers are valid while it lives.
class DriverLibrary {
public:
    // Loads the library and finds every export the grab uses; false with
    // `error` naming the file or the missing export.
    bool Load(const std::string& path, std::string& error);

    decltype(&::initialize) initialize = nullptr;
    decltype(&::finalize) finalize = nullptr;
    decltype(&::getCVLNoOfSupportedCameras) getCVLNoOfSupportedCameras = nullptr;
    decltype(&::getCVLCameraConfigNames) getCVLCameraConfigNames = nullptr;
    decltype(&::configureCamera) configureCamera = nullptr;
    decltype(&::openCVLPort) openCVLPort = nullptr;
    decltype(&::closeCVLPort) closeCVLPort = nullptr;
    decltype(&::getCVLGrabRow) getCVLGrabRow = nullptr;
    decltype(&::setCompleteCallback) setCompleteCallback = nullptr;
    decltype(&::setCmdCallback) setCmdCallback = nullptr;
    decltype(&::getProperty) getProperty = nullptr;

private:
    template <typename Function>
    bool Resolve(const char* name, Function& target, std::string& error);

    platform::UniqueHandle<ModuleTraits> module_;
};

}  // namespace tools
