// The one translation from errno values to Win32 last-error codes, shared by
// the files of the POSIX subset. Not part of the Win32 surface.
#pragma once

#include "win32_types.h"

// The Win32 code that Windows reports for the failure an errno value stands
// for; ERROR_GEN_FAILURE for values without a closer match.
DWORD Win32ErrorFromErrno(int error);

// Sets the calling thread's last-error code from an errno value.
void SetLastErrorFromErrno(int error);
