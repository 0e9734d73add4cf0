// Keeps the module that holds the driver's code loaded while a thread of the
// driver runs, so that a host unloading the library while cameras are open
// never leaves a thread running freed code.
#pragma once

#include "platform/win32.h"

namespace platform {

// Takes a reference on the module that contains this code. Null when there
// is none to take: the code is linked into a program, or its module is never
// unmapped.
HMODULE PinCodeModule();

// The last call of a thread that holds a reference from PinCodeModule: drops
// it and ends the thread with `exitCode`. With a reference it never returns
// (the module may be gone once the reference drops); without one it returns
// `exitCode` for the thread procedure to return.
DWORD ExitThreadReleasingModule(HMODULE module, DWORD exitCode);

}  // namespace platform
