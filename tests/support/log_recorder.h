// What a host's DebugMsgProc receives from the driver's log, for tests that
// install it: the host harness through the export, the core and link tests
// directly in the driver's process-wide record.
#pragma once

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "platform/win32.h"
#include "quorvex.h"

namespace testsupport {

// One log line as the host received it: the thread that logged it and the
// texts of its two calls.
struct LogLine {
    DWORD threadId = 0;
    std::string timestamp;
    std::string message;
};

// `Record` is the procedure handed to the driver; it runs on every thread
// that logs, so the recorder is locked. Every line must arrive as a timestamp
// call followed by a message call on the same thread; anything else is kept
// as a problem for the test to fail.
class LogRecorder {
public:
    static LogRecorder& Instance();
    static void QUORVEX_CALL Record(const char* text);

    // Forgets the lines so far. A line whose timestamp has arrived and whose
    // message is still to come stays half-received.
    void Clear();
    // Forgets lines and problems; only while no driver thread logs.
    void Reset();

    std::vector<LogLine> Lines() const;
    // The procedure's calls in order: timestamp, message, timestamp, ...
    std::vector<std::string> Calls() const;
    std::vector<std::string> Messages() const;
    // The messages that start with `prefix` (a camera's thread logs in
    // between; tests pick the lines of the class they look at).
    std::vector<std::string> MessagesStartingWith(const std::string& prefix) const;
    // The messages logged on one thread, in order.
    std::vector<std::string> MessagesOf(DWORD threadId) const;
    // How many messages are exactly `message`.
    int Count(const std::string& message) const;
    // Every message, for a failure's output.
    std::string Dump() const;
    std::vector<std::string> Problems() const;

private:
    void Receive(const char* text);

    mutable std::mutex mutex;
    std::vector<LogLine> lines;
    std::vector<std::string> problems;
    bool timestampPending = false;
    LogLine pending;
};

// True when `text` has the form "DD/MM/YY hh:mm:ss: " with plausible fields.
testing::AssertionResult IsLogTimestamp(const std::string& text);

}  // namespace testsupport
