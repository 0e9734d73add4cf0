// Keeps the module that holds the driver's code loaded while a thread of the
// driver runs, so that a host unloading the library while cameras are open
// never leaves a thread running freed code.
#pragma once

#include "platform/win32.h"

namespace platform {

// Takes a reference on the module that contains this code. Null when the
// code is not in a loadable module (linked into a program).
HMODULE PinCodeModule();

// The last call of a thread that holds a reference from PinCodeModule: drops
// it and ends the thread with `exitCode`. On Windows this never returns (the
// module may be gone once the reference drops); elsewhere the module stays
// mapped for the rest of the process and the call returns `exitCode` for the
// thread procedure to return.
DWORD ExitThreadReleasingModule(HMODULE module, DWORD exitCode);

}  // namespace platform
