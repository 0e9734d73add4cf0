// Critical sections, debugger output, clocks and sleeping.
#include <cerrno>
#include <cstring>
#include <ctime>

#include <sched.h>
#include <unistd.h>

#include "win32_sync.h"

namespace {

constexpr long kNanosecondsPerMillisecond = 1000000;

#ifdef CLOCK_BOOTTIME
// Windows counts the time the machine was suspended as well.
constexpr clockid_t kTickClock = CLOCK_BOOTTIME;
#else
constexpr clockid_t kTickClock = CLOCK_MONOTONIC;
#endif

}  // namespace

void InitializeCriticalSection(LPCRITICAL_SECTION section) {
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(&section->mutex, &attributes);
    pthread_mutexattr_destroy(&attributes);
}

void DeleteCriticalSection(LPCRITICAL_SECTION section) {
    pthread_mutex_destroy(&section->mutex);
}

void EnterCriticalSection(LPCRITICAL_SECTION section) {
    pthread_mutex_lock(&section->mutex);
}

void LeaveCriticalSection(LPCRITICAL_SECTION section) {
    pthread_mutex_unlock(&section->mutex);
}

void OutputDebugStringA(LPCSTR text) {
    if (text == nullptr) {
        return;
    }
    size_t remaining = std::strlen(text);
    while (remaining > 0) {
        const ssize_t written = write(STDERR_FILENO, text, remaining);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            break;
        }
        text += written;
        remaining -= static_cast<size_t>(written);
    }
}

void GetLocalTime(LPSYSTEMTIME time) {
    if (time == nullptr) {
        return;
    }
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm local{};
    localtime_r(&now.tv_sec, &local);
    time->wYear = static_cast<WORD>(local.tm_year + 1900);
    time->wMonth = static_cast<WORD>(local.tm_mon + 1);
    time->wDayOfWeek = static_cast<WORD>(local.tm_wday);
    time->wDay = static_cast<WORD>(local.tm_mday);
    time->wHour = static_cast<WORD>(local.tm_hour);
    time->wMinute = static_cast<WORD>(local.tm_min);
    // A leap second shows as the last second of the minute, as on Windows.
    time->wSecond = static_cast<WORD>(local.tm_sec > 59 ? 59 : local.tm_sec);
    time->wMilliseconds = static_cast<WORD>(now.tv_nsec / kNanosecondsPerMillisecond);
}

DWORD GetTickCount() {
    timespec now{};
    clock_gettime(kTickClock, &now);
    const uint64_t milliseconds =
        static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec / kNanosecondsPerMillisecond);
    return static_cast<DWORD>(milliseconds);
}

void Sleep(DWORD milliseconds) {
    if (milliseconds == 0) {
        sched_yield();
        return;
    }
    if (milliseconds == INFINITE) {
        for (;;) {
            pause();
        }
    }
    timespec interval{};
    interval.tv_sec = static_cast<time_t>(milliseconds / 1000u);
    interval.tv_nsec = static_cast<long>(milliseconds % 1000u) * kNanosecondsPerMillisecond;
    // A signal cuts nanosleep short; it leaves the rest in `interval`.
    while (nanosleep(&interval, &interval) != 0 && errno == EINTR) {
    }
}
