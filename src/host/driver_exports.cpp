#include "driver_exports.h"

namespace tools {
namespace {

template <typename Function>
void Resolve(HMODULE module, const char* name, Function& target, std::string& missing) {
    const FARPROC address = GetProcAddress(module, name);
    if (address == nullptr) {
        missing += ' ';
        missing += name;
        return;
    }
    // Through void (*)(), the type that converts to and from every function
    // pointer without a warning.
    using Generic = void (*)();
    target = reinterpret_cast<Function>(reinterpret_cast<Generic>(address));
}

}  // namespace

std::string ResolveExports(HMODULE module, DriverExports& exports) {
    std::string missing;
#define QUORVEX_RESOLVE(name) Resolve(module, #name, exports.name, missing);
    QUORVEX_EXPORTS(QUORVEX_RESOLVE)
#undef QUORVEX_RESOLVE
    return missing;
}

}  // namespace tools
