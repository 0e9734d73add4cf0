// Critical sections, debugger output, clocks and sleeping.
#pragma once

#include <pthread.h>

#include "win32_types.h"

// A re-entrant lock: the owning thread may enter it again.
struct CRITICAL_SECTION {
    pthread_mutex_t mutex;
};
typedef CRITICAL_SECTION* LPCRITICAL_SECTION;

// Stand in for the critical-section functions on a recursive mutex. Left out:
// spin counts, debug information, and any check that the thread leaving is the
// owner (Windows does not check either).
void InitializeCriticalSection(LPCRITICAL_SECTION section);
void DeleteCriticalSection(LPCRITICAL_SECTION section);
void EnterCriticalSection(LPCRITICAL_SECTION section);
void LeaveCriticalSection(LPCRITICAL_SECTION section);

// Stands in for OutputDebugStringA: there is no debugger channel, so the text
// goes to standard error as it stands. A null text writes nothing.
void OutputDebugStringA(LPCSTR text);

// Stands in for GetLocalTime: the wall clock in the process's time zone, to
// the millisecond.
void GetLocalTime(LPSYSTEMTIME time);

// Stands in for GetTickCount: milliseconds since the system started, wrapping
// after 49.7 days; never goes back when the wall clock is set.
DWORD GetTickCount();

// Stands in for Sleep: 0 only yields the processor, INFINITE never returns.
// No alertable wait.
void Sleep(DWORD milliseconds);
