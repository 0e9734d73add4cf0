// What the benchmarks' hosts share: names apart from any other run's and
// the events of a run.
#pragma once

#include <chrono>
#include <random>
#include <string>

#include "platform/unique_handle.h"
#include "platform/win32.h"

namespace bench {

// Names of this run's objects and folder, apart from any other run's.
inline const std::string& RunToken() {
    static const std::string token =
        std::to_string(std::random_device{}()) + "-" +
        std::to_string(std::chrono::steady_clock::now().time_since_epoch().count() % 1000000);
    return token;
}

// The events a run's host and its publishing child signal each other with,
// named after the run's share: Ready (the child is up), Go (the host's
// camera is open), Consumed (the host has a frame), Done (the host has what
// it waited for).
struct RunEvents {
    // The host creates them; Consumed resets itself as it releases a waiter.
    bool Create(const std::string& share) {
        ready.reset(CreateEventA(nullptr, TRUE, FALSE, (share + "Ready").c_str()));
        go.reset(CreateEventA(nullptr, TRUE, FALSE, (share + "Go").c_str()));
        consumed.reset(CreateEventA(nullptr, FALSE, FALSE, (share + "Consumed").c_str()));
        done.reset(CreateEventA(nullptr, TRUE, FALSE, (share + "Done").c_str()));
        return ready && go && consumed && done;
    }

    // The child opens them: it signals Ready and waits for the others.
    bool Open(const std::string& share) {
        ready.reset(OpenEventA(EVENT_MODIFY_STATE, FALSE, (share + "Ready").c_str()));
        go.reset(OpenEventA(SYNCHRONIZE, FALSE, (share + "Go").c_str()));
        consumed.reset(OpenEventA(SYNCHRONIZE, FALSE, (share + "Consumed").c_str()));
        done.reset(OpenEventA(SYNCHRONIZE, FALSE, (share + "Done").c_str()));
        return ready && go && consumed && done;
    }

    platform::UniqueEvent ready;
    platform::UniqueEvent go;
    platform::UniqueEvent consumed;
    platform::UniqueEvent done;
};

}  // namespace bench
