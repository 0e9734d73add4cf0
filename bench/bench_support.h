// What the benchmark's cases share: the driver as a host loads it, names
// unique to this run, the settings file, and order statistics.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "driver_library.h"

namespace bench {

// How long any step may wait for another process before the case fails.
constexpr unsigned kWaitMs = 10000;

// Names of this run's objects and folders, apart from any other run's.
const std::string& RunToken();

// The folder of the running program, where the build puts the driver and
// the server tools.
std::string ProgramFolder();

// A camera's section of the settings file.
struct CameraSection {
    std::string camera;  // "Camera 1" ...
    std::string share;
};

// Writes Quorvex.ini in `folder` with the sections, every camera at log
// level 1 (the level a host runs with).
void WriteSettings(const std::string& folder, const std::vector<CameraSection>& sections);

// The nearest-rank percentile of `values` (fraction 0.5 for the median);
// 0 for none.
double Percentile(std::vector<double> values, double fraction);

// The host's view of the driver: loaded once, initialised on a folder of
// its own, finalised and the folder removed at the end.
class HostDriver {
public:
    ~HostDriver();
    // False with `error` set when the library cannot be loaded.
    bool Start(std::string& error);
    const std::string& Folder() const { return folder_; }
    tools::DriverLibrary& Exports() { return library_; }

private:
    tools::DriverLibrary library_;
    std::string folder_;
    bool initialized_ = false;
};

}  // namespace bench
