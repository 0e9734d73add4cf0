// The storm's camera servers, each in a child process of the test program
// (verb "storm-server"), and the parent's hold on one.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "platform/process.h"

namespace storm {

enum class ServerMode {
    // Frames of one size every 10 ms, each written under the mutex held for a
    // few milliseconds; a well-behaved server.
    Calm,
    // Random sequences of valid and invalid messages, random and absurd
    // dimensions, segments recreated at random sizes, the mutex held for
    // random times, and now and then an end with the mutex held.
    Hostile
};

// The exit code of a hostile server that ended on purpose with its mutex held.
constexpr int kDiedHoldingMutex = 7;

// One camera server process on `share`, started and killed by the parent.
class ServerProcess {
public:
    // Starts the server and waits until its pipe listens.
    testing::AssertionResult Start(const std::string& share, uint32_t seed, ServerMode mode,
                                   const std::string& outputPath);
    // Ends it at once, as a crash would, and reaps it.
    void Kill();
    // True while it runs; false once it has ended by itself.
    bool Running();

private:
    platform::ChildProcess child;
};

}  // namespace storm
