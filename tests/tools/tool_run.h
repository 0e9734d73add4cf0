// Running the built tools as real processes from a test.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
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
    // Ends the run at once, as a crash would.
    void Kill() { process_.Kill(); }
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

// The tools' exit codes.
constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr int kExitShareInUse = 3;

// The built tools (their file names come from the build).
const std::string& ServerTool();
const std::string& GrabTool();

std::vector<std::string> Joined(std::vector<std::string> first, const std::vector<std::string>& second);

// Each case has its own folder (the grab's system folder, its PNG files and
// the tools' output) and its own share.
class ToolsTest : public testing::Test {
protected:
    // A server on this case's share, started and serving.
    std::unique_ptr<ToolRun> StartServer(const std::vector<std::string>& args,
                                         const std::string& output = "server.txt");

    // A grab of this case's share, with a short connection time-out.
    std::unique_ptr<ToolRun> StartGrab(const std::vector<std::string>& args);

    // Runs a grab to its end; returns its output.
    std::string Grab(const std::vector<std::string>& args, int expectedExit = kExitOk);

    // Stops a server with Ctrl+C and expects a clean end.
    void Interrupt(ToolRun& server);

    testsupport::TempDir dir_;
    const std::string share_ = UniqueShare();
};

}  // namespace toolstest
