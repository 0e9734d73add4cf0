#include "platform/library_loading.h"

#include <dlfcn.h>

namespace platform {

UniqueModule LoadLibraryExplained(const std::string& path, std::string& error) {
    dlerror();
    UniqueModule module(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL));
    if (!module) {
        const char* text = dlerror();
        error = text != nullptr ? text : path + ": cannot be loaded";
    }
    return module;
}

namespace {
// An object of this module, whose address names the module to dladdr.
const char kModuleMarker = 0;
}  // namespace

void KeepCodeModuleLoaded() {
    const std::string path = CodeModulePath();
    // RTLD_NOLOAD: only marks the library already loaded as never unloaded.
    if (!path.empty()) {
        dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
    }
}

std::string CodeModulePath() {
    Dl_info info{};
    if (dladdr(&kModuleMarker, &info) == 0 || info.dli_fname == nullptr) {
        return std::string();
    }
    return info.dli_fname;
}

}  // namespace platform
