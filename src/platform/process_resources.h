// What the running process holds of the system, for tests that check a long
// run returns all of it.
#pragma once

namespace platform {

// Open descriptors (POSIX) or handles (Windows) of this process; -1 when the
// system does not tell.
int OpenHandleCount();

// Threads of this process; -1 when the system does not tell.
int ThreadCount();

}  // namespace platform
