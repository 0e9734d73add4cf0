#include "driver_library.h"

#include <algorithm>
#include <cstdlib>

#include "platform/library_loading.h"
#include "platform/process.h"
#include "platform/win32.h"

namespace host {
namespace {

std::string InFolder(const std::string& folder, const char* file) {
    return folder + platform::kPathSeparator + file;
}

bool EndsInBin(const std::string& folder) {
    const auto end = folder.find_last_of("/\\");
    const std::string last = end == std::string::npos ? folder : folder.substr(end + 1);
    return last == "bin";
}

}  // namespace

std::vector<std::string> DriverCandidates() {
    std::vector<std::string> candidates;
    const auto add = [&candidates](const std::string& path) {
        if (std::find(candidates.begin(), candidates.end(), path) == candidates.end()) {
            candidates.push_back(path);
        }
    };
    if (const char* folder = std::getenv("QUORVEX_LIB_DIR"); folder != nullptr && *folder != '\0') {
        add(InFolder(folder, QUORVEX_DRIVER_FILE));
    }
    const std::string own = platform::FolderOf(platform::CodeModulePath());
    if (!own.empty()) {
        add(InFolder(own, QUORVEX_DRIVER_FILE));
        if (EndsInBin(own)) {
            add(InFolder(platform::FolderOf(own) + platform::kPathSeparator + "lib", QUORVEX_DRIVER_FILE));
        }
    }
    add(InFolder(QUORVEX_INSTALL_DRIVER_DIR, QUORVEX_DRIVER_FILE));
    return candidates;
}

bool DriverLibrary::Load(const std::string& path, std::string& error) {
    if (!path.empty()) {
        std::string why;
        if (LoadFile(path, why)) {
            return true;
        }
        error = "cannot load the driver \"" + path + "\": " + why;
        return false;
    }
    error = "cannot load the driver; tried:";
    for (const std::string& candidate : DriverCandidates()) {
        std::string why;
        if (LoadFile(candidate, why)) {
            error.clear();
            return true;
        }
        error += "\n  " + candidate + ": " + why;
    }
    return false;
}

bool DriverLibrary::LoadFile(const std::string& file, std::string& error) {
    platform::UniqueModule module = platform::LoadLibraryExplained(file, error);
    if (!module) {
        return false;
    }
    tools::DriverExports exports;
    const std::string missing = tools::ResolveExports(module.get(), exports);
    if (!missing.empty()) {
        error = "not the Quorvex driver: it has no export" + missing;
        return false;
    }
    static_cast<tools::DriverExports&>(*this) = exports;
    module_ = std::move(module);
    path_ = file;
    return true;
}

}  // namespace host
