// The driver as a host that loads it at run time reaches it: one pointer per
// export, named as the export and resolved by that name. Used by the host
// library, and by the driver's own host tests and the benchmark, which call
// the exports on purpose.
#pragma once

#include <string>

#include "platform/win32.h"
#include "quorvex.h"
#include "quorvex_exports.h"

namespace tools {

struct DriverExports {
#define QUORVEX_EXPORT_POINTER(name) decltype(&::name) name = nullptr;
    QUORVEX_EXPORTS(QUORVEX_EXPORT_POINTER)
#undef QUORVEX_EXPORT_POINTER
};

// Looks every export up in `module`; returns the names not found, each after
// a space ("" when all were).
std::string ResolveExports(HMODULE module, DriverExports& exports);

}  // namespace tools
