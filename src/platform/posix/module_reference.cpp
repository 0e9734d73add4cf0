#include <dlfcn.h>

#include "platform/module_reference.h"

namespace platform {
namespace {
const char kMarkerInModule = 0;
}

// A thread cannot drop the last reference to the code it returns into, so the
// module is marked never to be unmapped instead: the mark stays after the
// reference taken here is dropped again, and later dlclose calls leave the
// module in place.
HMODULE PinCodeModule() {
    Dl_info info{};
    if (dladdr(&kMarkerInModule, &info) == 0 || info.dli_fname == nullptr) {
        return nullptr;
    }
    HMODULE module = dlopen(info.dli_fname, RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE);
    if (module != nullptr) {
        dlclose(module);
    }
    return module;
}

DWORD ExitThreadReleasingModule(HMODULE, DWORD exitCode) {
    return exitCode;
}

}  // namespace platform
