#include "temp_dir.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <stdexcept>
#include <system_error>

namespace testsupport {

namespace fs = std::filesystem;

TempDir::TempDir() {
    std::random_device seed;
    std::mt19937_64 random(seed());
    const fs::path base = fs::temp_directory_path();
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
        std::ostringstream name;
        name << "quorvex-test-" << std::hex << random();
        const fs::path candidate = base / name.str();
        if (fs::create_directory(candidate)) {
            path_ = candidate.string();
        }
    }
    if (path_.empty()) {
        throw std::runtime_error("no temporary folder could be created in " + base.string());
    }
}

TempDir::~TempDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

std::string TempDir::File(const std::string& name) const {
    return (fs::path(path_) / name).string();
}

bool TempDir::Exists(const std::string& name) const {
    std::error_code ignored;
    return fs::exists(File(name), ignored);
}

std::string TempDir::Read(const std::string& name) const {
    std::ifstream file(File(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

void TempDir::Write(const std::string& name, const std::string& bytes) const {
    std::ofstream file(File(name), std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace testsupport
