// Contract cases of platform/process.h and platform/console.h: a child
// process started with its output in a file, its exit code, its arguments
// passed whole, and Ctrl+C reaching only it.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "platform/console.h"
#include "platform/process.h"
#include "platform/win32.h"
#include "support/child_process.h"
#include "support/row_name.h"
#include "support/temp_dir.h"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace {

constexpr unsigned kExitWaitMs = 20000;
constexpr int kInterruptedExit = 7;
constexpr int kNeverInterruptedExit = 3;

int ExitWith(const std::vector<std::string>& args) {
    return std::stoi(args.at(0));
}

int EchoArgs(const std::vector<std::string>& args) {
    for (const std::string& arg : args) {
        std::printf("[%s]\n", arg.c_str());
    }
    return 0;
}

int BothStreams(const std::vector<std::string>&) {
    std::fputs("to output\n", stdout);
    std::fflush(stdout);
    std::fputs("to error\n", stderr);
    std::fflush(stderr);
    return 0;
}

int ReportTerminal(const std::vector<std::string>&) {
    std::puts(platform::IsTerminal(stdout) ? "terminal" : "not a terminal");
    return 0;
}

int WaitForInterrupt(const std::vector<std::string>&) {
    platform::CatchInterrupt();
    std::puts("ready");
    std::fflush(stdout);
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < until) {
        if (platform::InterruptRequested()) {
            std::puts("interrupted");
            return kInterruptedExit;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return kNeverInterruptedExit;
}

int SleepLong(const std::vector<std::string>&) {
    std::this_thread::sleep_for(std::chrono::seconds(60));
    return 0;
}

const bool kVerbs = testsupport::RegisterChildVerb("exit-with", ExitWith) &&
                    testsupport::RegisterChildVerb("echo-args", EchoArgs) &&
                    testsupport::RegisterChildVerb("both-streams", BothStreams) &&
                    testsupport::RegisterChildVerb("report-terminal", ReportTerminal) &&
                    testsupport::RegisterChildVerb("wait-interrupt", WaitForInterrupt) &&
                    testsupport::RegisterChildVerb("sleep-long", SleepLong);

// Runs this program with a verb; the output lands in `dir`'s "out.txt".
class ProcessTest : public testing::Test {
protected:
    testing::AssertionResult StartVerb(const std::string& verb, std::vector<std::string> args = {}) {
        args.insert(args.begin(), "--child=" + verb);
        if (!child_.Start(platform::ProgramPath(), args, dir_.File("out.txt"))) {
            return testing::AssertionFailure()
                   << "cannot start the verb " << verb << " " << testsupport::WhyNotStarted();
        }
        return testing::AssertionSuccess();
    }

    testing::AssertionResult WaitForOutput(const std::string& text) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kExitWaitMs);
        while (dir_.Read("out.txt").find(text) == std::string::npos) {
            if (std::chrono::steady_clock::now() > until) {
                return testing::AssertionFailure() << "no \"" << text << "\" in: " << dir_.Read("out.txt");
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return testing::AssertionSuccess();
    }

    int Finish() {
        int exitCode = -12345;
        EXPECT_TRUE(child_.Wait(kExitWaitMs, exitCode)) << "the child did not end";
        return exitCode;
    }

    testsupport::TempDir dir_;
    platform::ChildProcess child_;
};

struct ExitRow {
    std::string name;
    int code;
};

class ProcessExitCode : public ProcessTest, public testing::WithParamInterface<ExitRow> {};

TEST_P(ProcessExitCode, ComesBackFromWait) {
    ASSERT_TRUE(StartVerb("exit-with", {std::to_string(GetParam().code)}));
    EXPECT_TRUE(child_.IsRunning());
    EXPECT_EQ(GetParam().code, Finish());
    EXPECT_FALSE(child_.IsRunning());
}

INSTANTIATE_TEST_SUITE_P(Codes, ProcessExitCode,
                         testing::Values(ExitRow{"zero", 0}, ExitRow{"one", 1}, ExitRow{"usage", 2},
                                         ExitRow{"large", 200}),
                         RowName());

TEST_F(ProcessTest, ArgumentsArriveWhole) {
    const std::vector<std::string> args = {"plain",        "two words", "",     "quote\"inside", "trailing\\",
                                           "a\\\\b \"q\"", "tab\there", "\\\"", "Camera Share"};
    ASSERT_TRUE(StartVerb("echo-args", args));
    ASSERT_EQ(0, Finish());
    std::string expected;
    for (const std::string& arg : args) {
        expected += "[" + arg + "]\n";
    }
    std::string output = dir_.Read("out.txt");
    output.erase(std::remove(output.begin(), output.end(), '\r'), output.end());
    EXPECT_EQ(expected, output);
}

TEST_F(ProcessTest, OutputAndErrorGoToTheFile) {
    ASSERT_TRUE(StartVerb("both-streams"));
    ASSERT_EQ(0, Finish());
    const std::string output = dir_.Read("out.txt");
    EXPECT_NE(std::string::npos, output.find("to output")) << output;
    EXPECT_NE(std::string::npos, output.find("to error")) << output;
}

TEST_F(ProcessTest, OutputFileIsNotATerminal) {
    ASSERT_TRUE(StartVerb("report-terminal"));
    ASSERT_EQ(0, Finish());
    EXPECT_NE(std::string::npos, dir_.Read("out.txt").find("not a terminal"));
}

TEST_F(ProcessTest, WaitTimesOutWhileTheChildRunsAndKillEndsIt) {
    ASSERT_TRUE(StartVerb("sleep-long"));
    int exitCode = -12345;
    EXPECT_FALSE(child_.Wait(100, exitCode));
    EXPECT_EQ(-12345, exitCode);
    EXPECT_TRUE(child_.IsRunning());
    child_.Kill();
    EXPECT_FALSE(child_.IsRunning());
    EXPECT_FALSE(child_.Wait(0, exitCode)) << "nothing left to wait for";
}

TEST_F(ProcessTest, InterruptReachesTheChildAsCtrlC) {
    ASSERT_TRUE(StartVerb("wait-interrupt"));
    ASSERT_TRUE(WaitForOutput("ready"));
    ASSERT_TRUE(child_.Interrupt());
    EXPECT_EQ(kInterruptedExit, Finish());
    EXPECT_TRUE(WaitForOutput("interrupted"));
    // The parent is in a group of its own: its flag stays clear.
    EXPECT_FALSE(platform::InterruptRequested());
}

TEST_F(ProcessTest, StartFailsForAMissingProgram) {
    EXPECT_FALSE(child_.Start(dir_.File("no-such-program"), {}, dir_.File("out.txt")));
    EXPECT_FALSE(child_.IsRunning());
    EXPECT_FALSE(child_.Interrupt());
}

TEST_F(ProcessTest, ASecondStartIsRefusedWhileTheFirstChildRuns) {
    ASSERT_TRUE(StartVerb("sleep-long"));
    EXPECT_FALSE(child_.Start(platform::ProgramPath(), {"--child=exit-with", "0"}, dir_.File("other.txt")));
    EXPECT_FALSE(dir_.Exists("other.txt"));
}

// The running program's path as the system tells it, asked here without
// the platform's help.
std::string PathTheSystemGives() {
    char path[4096] = {};
#ifdef _WIN32
    GetModuleFileNameA(nullptr, path, sizeof path - 1);
#else
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n > 0) {
        path[n] = '\0';
    }
#endif
    return path;
}

TEST(ProgramPath, NamesThisProgram) {
    EXPECT_EQ(PathTheSystemGives(), platform::ProgramPath());
}

struct FolderRow {
    std::string name;
    std::string path;
    std::string folder;
};

class FolderOf : public testing::TestWithParam<FolderRow> {};

TEST_P(FolderOf, DropsTheLastPart) {
    EXPECT_EQ(GetParam().folder, platform::FolderOf(GetParam().path));
}

INSTANTIATE_TEST_SUITE_P(Paths, FolderOf,
                         testing::Values(FolderRow{"posix", "/usr/bin/tool", "/usr/bin"},
                                         FolderRow{"windows", "C:\\tools\\grab.exe", "C:\\tools"},
                                         FolderRow{"mixed", "Z:\\work/bin\\x.exe", "Z:\\work/bin"},
                                         FolderRow{"bare_name", "tool", ""}, FolderRow{"at_root", "/tool", ""}),
                         RowName());

}  // namespace
