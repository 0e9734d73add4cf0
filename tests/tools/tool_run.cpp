#include "tool_run.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "platform/process.h"
#include "platform/win32.h"
#include "shared_clock.h"
#include "support/child_process.h"

namespace toolstest {

std::string ToolPath(const char* fileName) {
    return platform::FolderOf(platform::ProgramPath()) + platform::kPathSeparator + fileName;
}

std::string UniqueShare() {
    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    std::string name =
        std::string("QuorvexToolsTest-") + test->name() + "-" + std::to_string(tools::SharedClockMicroseconds());
    std::replace(name.begin(), name.end(), '/', '-');
    return name;
}

ToolRun::ToolRun(const testsupport::TempDir& dir, const std::string& outputName) : dir_(dir), outputName_(outputName) {}

testing::AssertionResult ToolRun::Start(const std::string& tool, const std::vector<std::string>& args) {
    tool_ = tool;
    if (!process_.Start(tool, args, dir_.File(outputName_))) {
        return testing::AssertionFailure() << "cannot start " << tool << " " << testsupport::WhyNotStarted();
    }
    return testing::AssertionSuccess();
}

testing::AssertionResult ToolRun::WaitForOutput(const std::string& text, unsigned timeoutMs) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Output().find(text) == std::string::npos) {
        if (std::chrono::steady_clock::now() > until) {
            return testing::AssertionFailure() << tool_ << " printed no \"" << text << "\" but:\n" << Output();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return testing::AssertionSuccess();
}

testing::AssertionResult ToolRun::Finish(int& exitCode, unsigned timeoutMs) {
    if (!process_.Wait(timeoutMs, exitCode)) {
        return testing::AssertionFailure() << tool_ << " did not end within " << timeoutMs << " ms; it printed:\n"
                                           << Output();
    }
    return testing::AssertionSuccess();
}

std::string ToolRun::Output() const {
    std::string text = dir_.Read(outputName_);
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return text;
}

int64_t NumberAfter(const std::string& text, const std::string& key) {
    const size_t at = text.find(key);
    if (at == std::string::npos) {
        return -1;
    }
    size_t i = at + key.size();
    int64_t value = 0;
    bool any = false;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        any = true;
    }
    return any ? value : -1;
}

const std::string& ServerTool() {
    static const std::string path = ToolPath(QUORVEX_SERVER_TOOL_FILE);
    return path;
}

const std::string& GrabTool() {
    static const std::string path = ToolPath(QUORVEX_GRAB_TOOL_FILE);
    return path;
}

std::vector<std::string> Joined(std::vector<std::string> first, const std::vector<std::string>& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

std::unique_ptr<ToolRun> ToolsTest::StartServer(const std::vector<std::string>& args, const std::string& output) {
    auto server = std::make_unique<ToolRun>(dir_, output);
    EXPECT_TRUE(server->Start(ServerTool(), Joined({"--share", share_}, args)));
    EXPECT_TRUE(server->WaitForOutput("serving"));
    return server;
}

std::unique_ptr<ToolRun> ToolsTest::StartGrab(const std::vector<std::string>& args) {
    auto grab = std::make_unique<ToolRun>(dir_, "grab.txt");
    EXPECT_TRUE(grab->Start(
        GrabTool(), Joined({"--system-dir", dir_.Path(), "--share", share_, "--connect-timeout", "2000"}, args)));
    return grab;
}

std::string ToolsTest::Grab(const std::vector<std::string>& args, int expectedExit) {
    auto grab = StartGrab(args);
    int exitCode = -1;
    EXPECT_TRUE(grab->Finish(exitCode));
    EXPECT_EQ(expectedExit, exitCode) << grab->Output();
    return grab->Output();
}

void ToolsTest::Interrupt(ToolRun& server) {
    ASSERT_TRUE(server.Interrupt());
    int exitCode = -1;
    ASSERT_TRUE(server.Finish(exitCode));
    EXPECT_EQ(kExitOk, exitCode) << server.Output();
    EXPECT_NE(std::string::npos, server.Output().find("(interrupted)")) << server.Output();
}

}  // namespace toolstest
