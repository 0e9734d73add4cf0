// The driver as the host library meets it: a library found and loaded at run
// time, its exports looked up by name. Nothing of it is linked.
#pragma once

#include <string>
#include <vector>

#include "driver_exports.h"
#include "platform/unique_handle.h"

namespace host {

// The places a driver not named by path is looked for, in order: the folder
// in QUORVEX_LIB_DIR, this library's folder, ../lib beside a bin folder
// holding this library, and the install prefix. No place twice.
std::vector<std::string> DriverCandidates();

// Owns the loaded library. The export pointers are valid while it lives.
class DriverLibrary : public tools::DriverExports {
public:
    // Loads the driver at `path`, or the first of DriverCandidates that loads
    // when `path` is empty; false with `error` saying, for each place tried,
    // what the system answered, or naming the missing exports.
    bool Load(const std::string& path, std::string& error);

    const std::string& Path() const { return path_; }

private:
    bool LoadFile(const std::string& file, std::string& error);

    platform::UniqueModule module_;
    std::string path_;
};

}  // namespace host
