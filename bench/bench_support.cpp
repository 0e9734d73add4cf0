#include "bench_support.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <random>

#include "platform/process.h"

namespace bench {

const std::string& RunToken() {
    static const std::string token =
        std::to_string(std::random_device{}() % 1000000) + "-" +
        std::to_string(std::chrono::steady_clock::now().time_since_epoch().count() % 1000000);
    return token;
}

std::string ProgramFolder() {
    return platform::FolderOf(platform::ProgramPath());
}

double Percentile(std::vector<double> values, double fraction) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    const auto rank = static_cast<size_t>(fraction * static_cast<double>(values.size()) + 0.999999);
    return values[std::min(values.size(), std::max<size_t>(rank, 1)) - 1];
}

HostDriver::~HostDriver() {
    QuorvexHostClose(settings_);
    if (initialized_) {
        library_.finalize();
    }
    if (!folder_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
}

bool HostDriver::Start(std::string& error) {
    if (!library_.Load(ProgramFolder() + "/" + QUORVEX_LIBRARY_FILE, error)) {
        return false;
    }
    const std::filesystem::path folder = std::filesystem::temp_directory_path() / ("quorvex-bench-" + RunToken());
    std::filesystem::create_directories(folder);
    folder_ = folder.string();
    library_.initialize(folder_.c_str(), nullptr);
    initialized_ = true;
    settings_ = QuorvexHostOpen(library_.Path().c_str(), folder_.c_str());
    if (settings_ == nullptr) {
        error = QuorvexHostLastError();
        return false;
    }
    return true;
}

bool HostDriver::WriteShare(const std::string& camera, const std::string& share, std::string& error) {
    const QuorvexHostSettings settings{share.c_str(), 1, static_cast<int>(kWaitMs)};
    if (QuorvexHostWriteSettings(settings_, camera.c_str(), &settings) != 1) {
        error = QuorvexHostLastError();
        return false;
    }
    return true;
}

}  // namespace bench
