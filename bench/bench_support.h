// What the benchmark's cases share: the driver as a host loads it, names
// unique to this run, the settings file, and order statistics.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "driver_library.h"
#include "quorvex_host.h"

namespace bench {

// How long any step may wait for another process before the case fails.
constexpr unsigned kWaitMs = 10000;

// Names of this run's objects and folders, apart from any other run's.
const std::string& RunToken();

// The folder of the running program, where the build puts the driver and
// the server tools.
std::string ProgramFolder();

// The nearest-rank percentile of `values` (fraction 0.5 for the median);
// 0 for none.
double Percentile(std::vector<double> values, double fraction);

// The host's view of the driver: loaded once, initialised on a folder of
// its own, finalised and the folder removed at the end. Its exports are
// called directly, as the delivery cases time them; the settings go through
// the host library, on the same driver and folder, as every host's do.
class HostDriver {
public:
    HostDriver() = default;
    ~HostDriver();
    HostDriver(const HostDriver&) = delete;
    HostDriver& operator=(const HostDriver&) = delete;
    // False with `error` set when the library cannot be loaded.
    bool Start(std::string& error);
    const std::string& Folder() const { return folder_; }
    host::DriverLibrary& Exports() { return library_; }
    // Points `camera` at `share`, at log level 1 (the level a host runs
    // with); false with `error` set when refused.
    bool WriteShare(const std::string& camera, const std::string& share, std::string& error);

private:
    host::DriverLibrary library_;
    QuorvexHost* settings_ = nullptr;
    std::string folder_;
    bool initialized_ = false;
};

}  // namespace bench
