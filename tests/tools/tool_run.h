// Running the built tools as real processes from a test.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/process.h"
#include "support/temp_dir.h"

namespace toolstest {

// The longest a tool may take to start, answer or end in these tests.
constexpr unsigned kToolWaitMs = 30000;

// The full path of a built tool: the build puts it beside the test program.
std::string ToolPath(const char* fileName);

// A share name no other test or run uses.
std::string UniqueShare();

// One run of a tool, its output (standard output and error together) in a
// file of the test's folder. A run still going when the object goes away
// is killed.
class ToolRun {
public:
    ToolRun(const testsupport::TempDir& dir, const std::string& outputName);

    testing::AssertionResult Start(const std::string& tool, const std::vector<std::string>& args);
    // Waits until the output holds `text`.
    testing::AssertionResult WaitForOutput(const std::string& text, unsigned timeoutMs = kToolWaitMs);
    // Waits for the end and gives the exit code.
    testing::AssertionResult Finish(int& exitCode, unsigned timeoutMs = kToolWaitMs);
    bool Interrupt() { return process_.Interrupt(); }
    // The output so far, with Windows line ends made plain.
    std::string Output() const;

private:
    const testsupport::TempDir& dir_;
    std::string outputName_;
    std::string tool_;
    platform::ChildProcess process_;
};

// The first number after `key` in `text`, or -1.
int64_t NumberAfter(const std::string& text, const std::string& key);

}  // namespace toolstest
