// The diagnostic log: one line per call, filtered by level, to the debugger
// output, the host's procedure and the log file in the system directory.
#pragma once

#include <cstdarg>
#include <cstdio>

struct DriverState;

#if defined(__MINGW_PRINTF_FORMAT)
#define QUORVEX_PRINTF_FORMAT(fmt, first) __attribute__((format(__MINGW_PRINTF_FORMAT, fmt, first)))
#elif defined(__GNUC__)
#define QUORVEX_PRINTF_FORMAT(fmt, first) __attribute__((format(printf, fmt, first)))
#else
#define QUORVEX_PRINTF_FORMAT(fmt, first)
#endif

// Levels: 1 errors, warnings and what happened to a camera; 2 entering and
// leaving; 3 details of single calls; 4 per-row lines. Safe on any thread; a
// line above both thresholds costs two comparisons and takes no lock.
void LogMessage(int level, DriverState* state, const char* format, ...) QUORVEX_PRINTF_FORMAT(3, 4);

// As LogMessage, for a caller that passes on its own caller's arguments.
void LogMessageV(int level, DriverState* state, const char* format, va_list args) QUORVEX_PRINTF_FORMAT(3, 0);
