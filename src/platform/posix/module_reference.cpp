#include "platform/module_reference.h"

namespace platform {

// A thread cannot drop the last reference to the code it returns into. The
// library is linked never to be unmapped (-z nodelete), so there is nothing
// to hold here.
HMODULE PinCodeModule() {
    return nullptr;
}

DWORD ExitThreadReleasingModule(HMODULE, DWORD exitCode) {
    return exitCode;
}

}  // namespace platform
