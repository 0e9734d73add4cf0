// The host library's objects in owners that close them, and a camera's
// settings written as any host of the library writes them, for tests that
// reach the driver through the host library.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "quorvex_host.h"

namespace testsupport {

struct HostCloser {
    void operator()(QuorvexHost* host) const noexcept { QuorvexHostClose(host); }
};
struct HostCameraCloser {
    void operator()(QuorvexHostCamera* camera) const noexcept { QuorvexHostCameraClose(camera); }
};
using UniqueHost = std::unique_ptr<QuorvexHost, HostCloser>;
using UniqueHostCamera = std::unique_ptr<QuorvexHostCamera, HostCameraCloser>;

// Writes `settings` into the section of `camera` in the settings file of
// `folder`, through a host on that folder that lives only for the write.
inline testing::AssertionResult WriteHostSettings(const std::string& folder, const char* camera,
                                                  const QuorvexHostSettings& settings) {
    const UniqueHost host(QuorvexHostOpen(nullptr, folder.c_str()));
    if (!host) {
        return testing::AssertionFailure() << "no host on " << folder << ": " << QuorvexHostLastError();
    }
    if (QuorvexHostWriteSettings(host.get(), camera, &settings) != 1) {
        return testing::AssertionFailure()
               << "the settings of " << camera << " were not written: " << QuorvexHostLastError();
    }
    return testing::AssertionSuccess();
}

}  // namespace testsupport
