#include "support/log_recorder.h"

namespace testsupport {
namespace {

bool IsDigitAt(const std::string& text, size_t at) {
    return text[at] >= '0' && text[at] <= '9';
}

int TwoDigitsAt(const std::string& text, size_t at) {
    return (text[at] - '0') * 10 + (text[at + 1] - '0');
}

}  // namespace

LogRecorder& LogRecorder::Instance() {
    static LogRecorder recorder;
    return recorder;
}

void QUORVEX_CALL LogRecorder::Record(const char* text) {
    Instance().Receive(text);
}

void LogRecorder::Receive(const char* text) {
    const DWORD thread = GetCurrentThreadId();
    std::lock_guard<std::mutex> hold(mutex);
    if (text == nullptr) {
        problems.push_back("DebugMsgProc called with a null text");
        return;
    }
    if (!timestampPending) {
        if (!IsLogTimestamp(text)) {
            problems.push_back(std::string("expected a timestamp call, got: ") + text);
            return;
        }
        pending = LogLine{thread, text, std::string()};
        timestampPending = true;
        return;
    }
    timestampPending = false;
    if (IsLogTimestamp(text)) {
        problems.push_back(std::string("a timestamp followed a timestamp: ") + text);
        return;
    }
    if (pending.threadId != thread) {
        problems.push_back(std::string("message on another thread than its timestamp: ") + text);
    }
    pending.message = text;
    lines.push_back(pending);
}

void LogRecorder::Clear() {
    std::lock_guard<std::mutex> hold(mutex);
    lines.clear();
}

void LogRecorder::Reset() {
    std::lock_guard<std::mutex> hold(mutex);
    lines.clear();
    problems.clear();
    timestampPending = false;
}

std::vector<LogLine> LogRecorder::Lines() const {
    std::lock_guard<std::mutex> hold(mutex);
    return lines;
}

std::vector<std::string> LogRecorder::Calls() const {
    std::lock_guard<std::mutex> hold(mutex);
    std::vector<std::string> calls;
    for (const LogLine& line : lines) {
        calls.push_back(line.timestamp);
        calls.push_back(line.message);
    }
    return calls;
}

std::vector<std::string> LogRecorder::Messages() const {
    return MessagesStartingWith("");
}

std::vector<std::string> LogRecorder::MessagesStartingWith(const std::string& prefix) const {
    std::lock_guard<std::mutex> hold(mutex);
    std::vector<std::string> messages;
    for (const LogLine& line : lines) {
        if (line.message.compare(0, prefix.size(), prefix) == 0) {
            messages.push_back(line.message);
        }
    }
    return messages;
}

int LogRecorder::Count(const std::string& message) const {
    std::lock_guard<std::mutex> hold(mutex);
    int count = 0;
    for (const LogLine& line : lines) {
        count += line.message == message ? 1 : 0;
    }
    return count;
}

std::string LogRecorder::Dump() const {
    std::string dump;
    for (const std::string& message : Messages()) {
        dump += message;
    }
    return dump;
}

std::vector<std::string> LogRecorder::MessagesOf(DWORD threadId) const {
    std::lock_guard<std::mutex> hold(mutex);
    std::vector<std::string> messages;
    for (const LogLine& line : lines) {
        if (line.threadId == threadId) {
            messages.push_back(line.message);
        }
    }
    return messages;
}

std::vector<std::string> LogRecorder::Problems() const {
    std::lock_guard<std::mutex> hold(mutex);
    return problems;
}

testing::AssertionResult IsLogTimestamp(const std::string& text) {
    const std::string shape = "00/00/00 00:00:00: ";
    bool matches = text.size() == shape.size();
    for (size_t i = 0; matches && i < shape.size(); ++i) {
        matches = shape[i] == '0' ? IsDigitAt(text, i) : text[i] == shape[i];
    }
    if (!matches) {
        return testing::AssertionFailure() << "\"" << text << "\" is not of the form DD/MM/YY hh:mm:ss: ";
    }
    const int day = TwoDigitsAt(text, 0);
    const int month = TwoDigitsAt(text, 3);
    const int hour = TwoDigitsAt(text, 9);
    const int minute = TwoDigitsAt(text, 12);
    const int second = TwoDigitsAt(text, 15);
    if (day < 1 || day > 31 || month < 1 || month > 12 || hour > 23 || minute > 59 || second > 60) {
        return testing::AssertionFailure() << "\"" << text << "\" has a field out of range";
    }
    return testing::AssertionSuccess();
}

}  // namespace testsupport
