#include "platform/clock.h"

#include "platform/win32.h"

namespace platform {

int64_t MonotonicNanoseconds() {
    // The frequency is fixed at boot; reading it each time keeps the function
    // free of statics.
    LARGE_INTEGER frequency;
    LARGE_INTEGER counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    const int64_t ticksPerSecond = frequency.QuadPart;
    const int64_t seconds = counter.QuadPart / ticksPerSecond;
    const int64_t rest = counter.QuadPart % ticksPerSecond;
    // Split so that the multiplication cannot overflow for any uptime.
    return seconds * 1000000000 + rest * 1000000000 / ticksPerSecond;
}

int64_t ProcessCpuNanoseconds() {
    FILETIME created;
    FILETIME exited;
    FILETIME kernel;
    FILETIME user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) {
        return 0;
    }
    const auto ticks = [](const FILETIME& time) { return (int64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime; };
    // FILETIME counts in steps of 100 ns.
    return (ticks(kernel) + ticks(user)) * 100;
}

}  // namespace platform
