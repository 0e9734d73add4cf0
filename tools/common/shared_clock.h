// The clock that quorvex-server stamps frames with and quorvex-grab measures
// latency against.
#pragma once

#include <cstdint>

namespace tools {

// Microseconds of a monotonic clock that all processes on one machine read
// alike: steady_clock is CLOCK_MONOTONIC on Linux and the performance counter
// on Windows, both system-wide. The tools' tests check this across processes.
int64_t SharedClockMicroseconds();

}  // namespace tools
