#include "platform/library_loading.h"

#include "platform/system_error.h"

namespace platform {
namespace {
const char kModuleMarker = 0;
}

UniqueModule LoadLibraryExplained(const std::string& path, std::string& error) {
    // The folder of a library named by path is searched for its own
    // dependencies, as for a program.
    UniqueModule module(LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
    if (!module) {
        error = SystemErrorNote(GetLastError());
    }
    return module;
}

void KeepCodeModuleLoaded() {
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN, &kModuleMarker, &module);
}

std::string CodeModulePath() {
    HMODULE module = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            &kModuleMarker, &module)) {
        return std::string();
    }
    char path[MAX_PATH * 4] = {};
    const DWORD length = GetModuleFileNameA(module, path, sizeof path);
    return length == 0 || length >= sizeof path ? std::string() : std::string(path, length);
}

}  // namespace platform
