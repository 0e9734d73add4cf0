#include "support/unique_name.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <random>

namespace testsupport {
namespace {

// Enough of the test's name to tell the objects apart when reading a failure.
constexpr size_t kTestNameChars = 40;

std::string CurrentTestName() {
    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    std::string name = test != nullptr ? test->name() : "child";
    name.resize(std::min(name.size(), kTestNameChars));
    for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_') {
            c = '_';
        }
    }
    return name;
}

}  // namespace

std::string UniqueName(const std::string& prefix) {
    static const uint64_t process = (uint64_t{std::random_device()()} << 32) | std::random_device()();
    static std::atomic<unsigned> counter{0};
    const bool separated = !prefix.empty() && (prefix.back() == '-' || prefix.back() == '_');
    char suffix[48];
    std::snprintf(suffix, sizeof suffix, "-%016llx-%u", static_cast<unsigned long long>(process), counter++);
    return prefix + (separated || prefix.empty() ? "" : "-") + CurrentTestName() + suffix;
}

}  // namespace testsupport
