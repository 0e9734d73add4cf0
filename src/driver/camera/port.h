// What a camera's port, and its link thread's, hold while no host port is
// theirs.
#pragma once

#include <cstdint>

constexpr int32_t kNoPort = -2;
