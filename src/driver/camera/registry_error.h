// The registry's text exception: a constant narrow text thrown by pointer,
// caught only by the exports' fences.
#pragma once

[[noreturn]] inline void ThrowRegistryError() {
    throw static_cast<const char*>("Err");
}
