#include "support/log.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <list>
#include <string>

#include "platform/append_file.h"
#include "platform/immortal.h"
#include "platform/win32.h"
#include "support/driver_state.h"
#include "support/system_files.h"

namespace {

constexpr size_t kMessageCapacity = 1024;
constexpr size_t kTimestampCapacity = 128;
// A message this long or longer keeps its length: there is no room left for
// the line end within the buffer's last two bytes.
constexpr size_t kLongestMessageGivenLineEnd = kMessageCapacity - 3;

// Shared by every thread; used only while the state's lock is held.
char messageBuffer[kMessageCapacity];
char timestampBuffer[kTimestampCapacity];

// Lines meant for the file while no system directory is known, oldest first.
std::list<std::string>& PendingLines() {
    static platform::Immortal<std::list<std::string>> pendingLines;
    return pendingLines.get();
}

void FormatTimestamp() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    std::snprintf(timestampBuffer, sizeof timestampBuffer, "%.2d/%.2d/%.2d %.2d:%.2d:%.2d: ", now.wDay, now.wMonth,
                  now.wYear % 100, now.wHour, now.wMinute, now.wSecond);
}

void AppendToLogFile(DriverState* state) {
    std::list<std::string>& pending = PendingLines();
    const std::string directory = state->SystemPath();
    if (directory.empty()) {
        pending.push_back(std::string(timestampBuffer) + messageBuffer);
        return;
    }
    platform::AppendFile file(SystemFilePath(directory, "Quorvex.log"));
    if (!file.IsOpen()) {
        return;
    }
    for (const std::string& line : pending) {
        file.Write(line.c_str());
    }
    pending.clear();
    file.Write(timestampBuffer);
    file.Write(messageBuffer);
}

}  // namespace

void LogMessage(int level, DriverState* state, const char* format, ...) {
    va_list args;
    va_start(args, format);
    LogMessageV(level, state, format, args);
    va_end(args);
}

void LogMessageV(int level, DriverState* state, const char* format, va_list args) {
    if (!state->Passes(level)) {
        return;
    }
    if (state->unloading) {
        return;
    }
    platform::CriticalSectionLock hold(state->lock);

    // A longer message is cut to what the buffer holds.
    std::vsnprintf(messageBuffer, sizeof messageBuffer, format, args);

    const size_t length = std::strlen(messageBuffer);
    if (length >= 1 && length <= kLongestMessageGivenLineEnd && messageBuffer[length - 1] != '\n') {
        messageBuffer[length] = '\n';
        messageBuffer[length + 1] = '\0';
    }

    if (level <= state->debugOutputLevel.load(std::memory_order_relaxed)) {
        OutputDebugStringA(messageBuffer);
    }
    if (level > state->logLevel.load(std::memory_order_relaxed)) {
        return;
    }

    FormatTimestamp();
    if (state->unloading) {
        return;
    }
    if (DebugMsgProc proc = state->debugMsgProc.load()) {
        proc(timestampBuffer);
        proc(messageBuffer);
    }
    if (state->logIntoFile.load(std::memory_order_relaxed)) {
        AppendToLogFile(state);
    }
}
