#include "shared_clock.h"

#include <chrono>

namespace tools {

int64_t SharedClockMicroseconds() {
    using std::chrono::duration_cast;
    using std::chrono::microseconds;
    return duration_cast<microseconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace tools
