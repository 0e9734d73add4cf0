// What the storm and the soak share on the host's side: the run's seed and
// length, reading a frame back and judging it, and the process's handles and
// threads before and after.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "host_harness.h"
#include "storm_frame.h"
#include "support/waits.h"

namespace storm {

// The run's seed and length: QUORVEX_STORM_SEED (random when unset) and
// QUORVEX_STORM_SECONDS (the build's length when unset).
struct RunSettings {
    uint32_t seed = 0;
    int seconds = 0;

    static RunSettings FromEnvironment();
};

// How the frames a host read back came out.
struct FrameTally {
    std::atomic<int> whole{0};
    std::atomic<int> unfinished{0};
    std::atomic<int> otherGeometry{0};
    std::atomic<int> torn{0};
    // Row reads or properties that the driver refused within a callback.
    std::atomic<int> refused{0};

    std::string Summary() const;
};

// Inside the CompleteCallback of `port`: reads the frame's size through
// getProperty and every row through getCVLGrabRow into `scratch`, judges it
// and counts the outcome. Returns the judgement; a refused read gives a Torn
// verdict with an empty detail and is counted as refused.
FrameCheck ReadFrameBack(const hosttest::DriverExports& driver, int port, std::vector<uint8_t>& scratch,
                         FrameTally& tally);

// The process's open handles and threads at one moment.
struct ProcessResources {
    int handles = 0;
    int threads = 0;

    static ProcessResources Now();
};

// Waits up to `milliseconds` for the process to hold no more handles and
// threads than `before`.
testing::AssertionResult ReturnsTo(const ProcessResources& before, DWORD milliseconds);

// The names of the share's segment and mutex are gone from the system once
// nothing holds them.
testing::AssertionResult NamesGone(const std::string& share);

// A share name no other test or run uses.
std::string StormShare(const char* purpose);

using testsupport::Since;

}  // namespace storm
