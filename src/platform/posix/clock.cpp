#include "platform/clock.h"

#include <time.h>

namespace platform {

int64_t MonotonicNanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t{now.tv_sec} * 1000000000 + now.tv_nsec;
}

int64_t ProcessCpuNanoseconds() {
    timespec used{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &used);
    return int64_t{used.tv_sec} * 1000000000 + used.tv_nsec;
}

}  // namespace platform
