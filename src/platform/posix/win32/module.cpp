// Shared libraries through the dynamic linker.
#include <cstring>

#include <dlfcn.h>
#include <unistd.h>

#include "win32_errors.h"
#include "win32_module.h"

namespace {

// Names below this value are ordinals on Windows, which dlsym has no use for.
constexpr uintptr_t kLowestNamePointer = 0x10000;

// Whether the name points at a file, as opposed to a library the linker is
// to search for; only then can a failure mean a file of the wrong kind.
bool NamesExistingFile(LPCSTR fileName) {
    return std::strchr(fileName, '/') != nullptr && access(fileName, F_OK) == 0;
}

}  // namespace

HMODULE LoadLibraryA(LPCSTR fileName) {
    // dlopen(nullptr) would hand out the program itself.
    if (fileName == nullptr || *fileName == '\0') {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    void* library = dlopen(fileName, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        SetLastError(NamesExistingFile(fileName) ? ERROR_BAD_EXE_FORMAT : ERROR_MOD_NOT_FOUND);
    }
    return library;
}

FARPROC GetProcAddress(HMODULE module, LPCSTR name) {
    if (reinterpret_cast<uintptr_t>(name) < kLowestNamePointer) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    void* program = module == nullptr ? dlopen(nullptr, RTLD_LAZY) : nullptr;
    void* symbol = dlsym(module == nullptr ? program : module, name);
    if (program != nullptr) {
        dlclose(program);
    }
    if (symbol == nullptr) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    // An object pointer becomes a function pointer through its bytes; a cast
    // between the two is only conditionally supported.
    FARPROC procedure = nullptr;
    static_assert(sizeof procedure == sizeof symbol, "function and object pointers differ in size");
    std::memcpy(&procedure, &symbol, sizeof procedure);
    return procedure;
}

BOOL FreeLibrary(HMODULE module) {
    if (module == nullptr || dlclose(module) != 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}
