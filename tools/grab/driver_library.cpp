#include "driver_library.h"

namespace tools {

template <typename Function>
bool DriverLibrary::Resolve(const char* name, Function& target, std::string& error) {
    const FARPROC address = GetProcAddress(module_.get(), name);
    if (address == nullptr) {
        error = std::string("the driver has no export ") + name;
        return false;
    }
    // Through void (*)(), the type that converts to and from every
    // function pointer without a warning.
    using Generic = void (*)();
    target = reinterpret_cast<Function>(reinterpret_cast<Generic>(address));
    return true;
}

bool DriverLibrary::Load(const std::string& path, std::string& error) {
    module_.reset(LoadLibraryA(path.c_str()));
    if (!module_) {
        error = "cannot load the driver \"" + path + "\" (system error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    return Resolve("initialize", initialize, error) && Resolve("finalize", finalize, error) &&
           Resolve("getCVLNoOfSupportedCameras", getCVLNoOfSupportedCameras, error) &&
           Resolve("getCVLCameraConfigNames", getCVLCameraConfigNames, error) &&
           Resolve("configureCamera", configureCamera, error) && Resolve("openCVLPort", openCVLPort, error) &&
           Resolve("closeCVLPort", closeCVLPort, error) && Resolve("getCVLGrabRow", getCVLGrabRow, error) &&
           Resolve("setCompleteCallback", setCompleteCallback, error) &&
           Resolve("setCmdCallback", setCmdCallback, error) && Resolve("getProperty", getProperty, error);
}

}  // namespace tools
