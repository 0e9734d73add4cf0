// A fine clock that every process of the machine reads alike, for measuring
// how long a frame takes from one process to another. GetTickCount counts in
// steps of 10 to 16 ms on Windows, too coarse for that.
#pragma once

#include <cstdint>

namespace platform {

// Nanoseconds since an arbitrary start that is the same for all processes of
// the machine; never goes back. QueryPerformanceCounter on Windows,
// CLOCK_MONOTONIC elsewhere.
int64_t MonotonicNanoseconds();

// Processor time that all threads of this process have used, user and
// kernel, in nanoseconds: what a benchmark charges to the process whatever
// else the machine runs. GetProcessTimes on Windows, CLOCK_PROCESS_CPUTIME_ID
// elsewhere.
int64_t ProcessCpuNanoseconds();

}  // namespace platform
