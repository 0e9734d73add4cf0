#include "platform/module_reference.h"

namespace platform {
namespace {
const char kMarkerInModule = 0;
}

HMODULE PinCodeModule() {
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, &kMarkerInModule, &module);
    return module;
}

DWORD ExitThreadReleasingModule(HMODULE module, DWORD exitCode) {
    if (module != nullptr) {
        FreeLibraryAndExitThread(module, exitCode);
    }
    return exitCode;
}

}  // namespace platform
