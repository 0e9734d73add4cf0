// Critical sections, debugger output, clocks and sleeping.
#pragma once

#include <pthread.h>

#include "win32_types.h"

// A re-entrant lock: the owning thread may enter it again.
struct CRITICAL_SECTION {
    pthread_mutex_t mutex;
};
typedef CRITICAL_SECTION* LPCRITICAL_SECTION;

void InitializeCriticalSection(LPCRITICAL_SECTION section);
void DeleteCriticalSection(LPCRITICAL_SECTION section);
void EnterCriticalSection(LPCRITICAL_SECTION section);
void LeaveCriticalSection(LPCRITICAL_SECTION section);

// Stands in for OutputDebugStringA: there is no debugger channel, so the text
// goes to standard error.
void OutputDebugStringA(LPCSTR text);

void GetLocalTime(LPSYSTEMTIME time);
DWORD GetTickCount();
void Sleep(DWORD milliseconds);
