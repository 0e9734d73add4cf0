#include "driver_library.h"

#include "platform/system_error.h"

namespace tools {

bool DriverLibrary::Load(const std::string& path, std::string& error) {
    module_.reset(LoadLibraryA(path.c_str()));
    if (!module_) {
        error = "cannot load the driver \"" + path + "\" " + platform::SystemErrorNote(GetLastError());
        return false;
    }
    const std::string missing = ResolveExports(module_.get(), *this);
    if (!missing.empty()) {
        error = "the driver has no export" + missing;
        return false;
    }
    return true;
}

}  // namespace tools
