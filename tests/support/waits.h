// The tests' waits: one generous bound for what normally takes milliseconds,
// a clock to measure with, and polling that always ends.
#pragma once

#include <chrono>

#include "platform/win32.h"

namespace testsupport {

// Generous bounds for what normally takes milliseconds.
constexpr DWORD kWaitMs = 5000;

// Milliseconds since an arbitrary start.
inline DWORD Now() {
    return GetTickCount();
}

// Milliseconds since `start`, a value of Now().
inline DWORD Since(DWORD start) {
    return Now() - start;
}

// Polls `done` every 2 ms until it holds or `milliseconds` have passed; true
// when it holds. Leaves the thread's last-error code alone, so that a caller
// can poll between setting and reading it.
template <typename Condition>
bool WaitUntil(Condition done, DWORD milliseconds = kWaitMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return done();
        }
        Sleep(2);
    }
    return true;
}

}  // namespace testsupport
