// The Quorvex driver as a third-party host meets it: a library loaded by
// path at run time, its exports looked up by name. Nothing of it is linked.
#pragma once

#include <string>

#include "driver_exports.h"
#include "platform/unique_handle.h"

namespace tools {

// Owns the loaded library. The export pointers are valid while it lives.
class DriverLibrary : public DriverExports {
public:
    // Loads the library and finds every export; false with `error` naming
    // the file or the missing exports.
    bool Load(const std::string& path, std::string& error);

private:
    platform::UniqueModule module_;
};

}  // namespace tools
