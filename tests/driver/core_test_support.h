// Shared by the core tests: a capture of the host's log procedure, a fixture
// that gives every test its own system directory and puts the process-wide
// DriverState back afterwards, and the few facts that differ between systems.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "platform/known_differences.h"
#include "platform/win32.h"
#include "quorvex.h"
#include "support/driver_state.h"
#include "support/log_recorder.h"
#include "support/row_name.h"
#include "support/temp_dir.h"

namespace coretest {

// ---- Differences between the systems, each declared once ----

// The log file is written in text mode: Windows stores a line feed as
// carriage return and line feed, Linux as it stands.
#ifdef _WIN32
constexpr char kLogFileLineEnd[] = "\r\n";
#else
constexpr char kLogFileLineEnd[] = "\n";
#endif

// The system's text for ERROR_BROKEN_PIPE (109). Windows words it "The pipe
// has been ended."; wine, and the POSIX subset that follows wine's wording,
// "Broken pipe.".
inline std::string BrokenPipeText() {
    return known::RunningOnWine() || known::kIsPosixSubset ? "Broken pipe.\r\n" : "The pipe has been ended.\r\n";
}

// ---- The host's log procedure ----

// What the log handed to the host procedure, which each test installs.
inline testsupport::LogRecorder& Captured() {
    return testsupport::LogRecorder::Instance();
}

// ---- Timestamps ----

// "DD/MM/YY hh:mm:ss: " for the local time `when`.
inline std::string TimestampFor(std::time_t when) {
    const std::tm local = *std::localtime(&when);
    char text[64];
    std::snprintf(text, sizeof text, "%.2d/%.2d/%.2d %.2d:%.2d:%.2d: ", local.tm_mday, local.tm_mon + 1,
                  local.tm_year % 100, local.tm_hour, local.tm_min, local.tm_sec);
    return text;
}

// True when `timestamp` is the local time of some second between `before`
// and `after`, with a second of slack on each side.
inline testing::AssertionResult IsTimestampBetween(const std::string& timestamp, std::time_t before,
                                                   std::time_t after) {
    for (std::time_t when = before - 1; when <= after + 1; ++when) {
        if (timestamp == TimestampFor(when)) {
            return testing::AssertionSuccess();
        }
    }
    return testing::AssertionFailure() << "\"" << timestamp << "\" is not the local time between \""
                                       << TimestampFor(before) << "\" and \"" << TimestampFor(after) << "\"";
}

// ---- Texts ----

// `text` cut at every occurrence of `separator`; the piece after the last
// separator is kept only when it is not empty.
inline std::vector<std::string> Split(const std::string& text, const std::string& separator) {
    std::vector<std::string> pieces;
    size_t start = 0;
    for (size_t end = text.find(separator); end != std::string::npos; end = text.find(separator, start)) {
        pieces.push_back(text.substr(start, end - start));
        start = end + separator.size();
    }
    if (start < text.size()) {
        pieces.push_back(text.substr(start));
    }
    return pieces;
}

// A name that no camera server in this machine serves.
inline std::string UniqueShareName() {
    static std::mutex mutex;
    static std::mt19937 random{std::random_device{}()};
    std::lock_guard<std::mutex> hold(mutex);
    return "QuorvexCoreTest" + std::to_string(random());
}

// ---- Settings files ----

// One INI section as a camera's settings file holds it.
inline std::string IniSectionText(const std::string& section, const std::vector<std::string>& lines) {
    std::string text = "[" + section + "]\r\n";
    for (const std::string& line : lines) {
        text += line + "\r\n";
    }
    return text;
}

// A camera's section for an open without a server: a share name that nobody
// serves and the shortest wait (an open takes about 120 ms).
inline std::string ServerlessSection(const std::string& camera, int logLevel) {
    return IniSectionText(
        camera, {"PipeName=" + UniqueShareName(), "LogLevel=" + std::to_string(logLevel), "ConnectionTimeout=100"});
}

// ---- The registry's text exception ----

template <typename Call>
testing::AssertionResult ThrowsRegistryError(Call call) {
    try {
        call();
    } catch (const char* text) {
        if (text != nullptr && std::string(text) == "Err") {
            return testing::AssertionSuccess();
        }
        return testing::AssertionFailure() << "threw the text \"" << (text != nullptr ? text : "<null>") << "\"";
    } catch (...) {
        return testing::AssertionFailure() << "threw something else than a text";
    }
    return testing::AssertionFailure() << "threw nothing";
}

// ---- Fixture ----

// Each test gets its own system directory and the log's starting thresholds,
// with the capture as the host procedure; afterwards the DriverState is as a
// freshly loaded library has it (the system path empty).
class CoreTest : public testing::Test {
protected:
    void SetUp() override {
        DriverState* state = GetDriverState();
        state->logLevel = 1;
        state->logIntoFile = false;
        state->debugOutputLevel = 0;
        state->SetSystemPath(dir.Path().c_str());
        state->debugMsgProc = &testsupport::LogRecorder::Record;
        Captured().Reset();
    }

    void TearDown() override {
        DriverState* state = GetDriverState();
        state->debugMsgProc = nullptr;
        for (const std::string& problem : Captured().Problems()) {
            ADD_FAILURE() << "DebugMsgProc: " << problem;
        }
        state->logLevel = 1;
        state->logIntoFile = false;
        state->debugOutputLevel = 0;
        state->SetSystemPath("");
    }

    void WriteIni(const std::string& text) const { dir.Write("Quorvex.ini", text); }

    testsupport::TempDir dir;
};

}  // namespace coretest
