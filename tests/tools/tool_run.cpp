#include "tool_run.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "platform/win32.h"
#include "shared_clock.h"
#include "support/child_process.h"

namespace toolstest {

std::string ToolPath(const char* fileName) {
    return platform::FolderOf(testsupport::SelfPath()) + platform::kPathSeparator + fileName;
}

std::string UniqueShare() {
    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string("QuorvexToolsTest-") + test->name() + "-" +
                       std::to_string(tools::SharedClockMicroseconds());
    std::replace(name.begin(), name.end(), '/', '-');
    return name;
}

ToolRun::ToolRun(const testsupport::TempDir& dir, const std::string& outputName)
    : dir_(dir), outputName_(outputName) {}

testing::AssertionResult ToolRun::Start(const std::string& tool, const std::vector<std::string>& args) {
    tool_ = tool;
    if (!process_.Start(tool, args, dir_.File(outputName_))) {
        return testing::AssertionFailure() << "cannot start " << tool;
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

}  // namespace toolstest
