// Every known difference between the POSIX subset and the Win32 that the
// platform cases are checked against (Windows itself, or wine), by name.
// Cases read these instead of testing for the system themselves, so that
// each difference is written down once, here.
#pragma once

#include "platform/win32.h"

namespace known {

#ifdef _WIN32
inline bool RunningOnWine() {
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}
constexpr bool kIsPosixSubset = false;
#else
inline bool RunningOnWine() {
    return false;
}
constexpr bool kIsPosixSubset = true;
#endif

// Wine rewrites a whole profile from what it parsed when it changes one value:
// blank lines go, blanks around "=" go and every line ends in "\r\n". Windows
// and the subset change only the lines concerned.
inline bool ProfileWriteReformatsFile() {
    return RunningOnWine();
}

// Wine drops one character too many from a quoted value that fills the
// buffer exactly ("\"q v\"" into 4 bytes gives "q ").
inline bool ProfileQuotedValueLosesCharAtExactSize() {
    return RunningOnWine();
}

// A null file name means win.ini to Windows; the subset refuses it.
constexpr bool kNullProfileFileIsWinIni = !kIsPosixSubset;

// OutputDebugStringA goes to a debugger on Windows and to standard error in
// the subset.
constexpr bool kDebugOutputOnStandardError = kIsPosixSubset;

// WaitForMultipleObjects with bWaitAll TRUE: Windows waits for all objects;
// the subset refuses it with ERROR_INVALID_PARAMETER.
constexpr bool kWaitForAllObjects = !kIsPosixSubset;

// Not differences but names that differ: a system library that exports the C
// library's cos() on each system.
#ifdef _WIN32
constexpr char kLibraryWithCos[] = "msvcrt.dll";
#else
constexpr char kLibraryWithCos[] = "libm.so.6";
#endif

}  // namespace known
