// The diagnostic log: level filter, line ends, the 1023-character cut, the two
// calls of the host procedure, the log file and its held-back lines, and two
// threads logging at once.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core_test_support.h"
#include "platform/append_file.h"
#include "support/log.h"

namespace {

using coretest::Captured;
using coretest::kLogFileLineEnd;

class LogTest : public coretest::CoreTest {
protected:
    static DriverState* State() { return GetDriverState(); }

    std::string LogFileText() const { return dir.Read("Quorvex.log"); }
    bool LogFileExists() const { return dir.Exists("Quorvex.log"); }

    // The log file cut into lines; each line is a timestamp and a message.
    std::vector<std::string> LogFileLines() const { return coretest::Split(LogFileText(), kLogFileLineEnd); }
};

// Splits "DD/MM/YY hh:mm:ss: message" into its two parts.
constexpr size_t kTimestampLength = 19;

std::string MessageOf(const std::string& fileLine) {
    return fileLine.substr(std::min(kTimestampLength, fileLine.size()));
}

// ---- Level filter ----

struct LevelCase {
    const char* name;
    int logLevel;
    int messageLevel;
    bool passes;
};

const LevelCase kLevelCases[] = {
    {"ZeroSilencesLevel1", 0, 1, false},
    {"NegativeSilencesLevel1", -1, 1, false},
    {"VeryNegativeSilencesLevel0", -100, 0, false},
    {"OnePassesLevel1", 1, 1, true},
    {"OneDropsLevel2", 1, 2, false},
    {"ThreeDropsLevel4", 3, 4, false},
    {"FourPassesLevel4", 4, 4, true},
    {"NinePassesLevel4", 9, 4, true},
};

class LogLevelTest : public LogTest, public testing::WithParamInterface<LevelCase> {};

TEST_P(LogLevelTest, ReachesHostAndFileOnlyAtOrBelowThreshold) {
    const LevelCase& row = GetParam();
    State()->logLevel = row.logLevel;
    State()->logIntoFile = true;

    LogMessage(row.messageLevel, State(), "getCVLGrabRow: entering row=%d  grabberNo=%d  portNo=%d\n", 7, 0, 3);

    const std::string expected = "getCVLGrabRow: entering row=7  grabberNo=0  portNo=3\n";
    if (row.passes) {
        EXPECT_EQ(std::vector<std::string>{expected}, Captured().Messages());
        const std::vector<std::string> lines = LogFileLines();
        ASSERT_EQ(1u, lines.size());
        EXPECT_EQ("getCVLGrabRow: entering row=7  grabberNo=0  portNo=3", MessageOf(lines[0]));
    } else {
        EXPECT_TRUE(Captured().Calls().empty());
        EXPECT_FALSE(LogFileExists());
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, LogLevelTest, testing::ValuesIn(kLevelCases), RowName());

TEST_F(LogTest, DebuggerThresholdAloneDoesNotReachHostOrFile) {
    State()->logLevel = 0;
    State()->debugOutputLevel = 4;
    State()->logIntoFile = true;

    LogMessage(1, State(), "for the debugger only");

    EXPECT_TRUE(Captured().Calls().empty());
    EXPECT_FALSE(LogFileExists());
}

// ---- Line ends and length ----

struct LineEndCase {
    const char* name;
    std::string message;
    std::string expected;
};

std::vector<LineEndCase> LineEndCases() {
    const std::string x1021(1021, 'x');
    const std::string x1022(1022, 'x');
    const std::string x1023(1023, 'x');
    return {
        {"WithoutLineEndGetsOne", "abc", "abc\n"},
        {"WithLineEndGetsNoSecond", "abc\n", "abc\n"},
        {"LineEndInsideStillGetsOne", "a\nb", "a\nb\n"},
        {"EmptyGetsNone", "", ""},
        {"LoneLineEndStays", "\n", "\n"},
        {"Of1021CharactersGetsOne", x1021, x1021 + "\n"},
        {"Of1021EndingInLineEndStays", std::string(1020, 'x') + "\n", std::string(1020, 'x') + "\n"},
        {"Of1022CharactersGetsNone", x1022, x1022},
        {"Of1023CharactersGetsNone", x1023, x1023},
        {"Of1024CharactersIsCutTo1023", std::string(1024, 'x'), x1023},
        {"Of3000CharactersIsCutTo1023", std::string(3000, 'x'), x1023},
        {"CutDropsTheFinalLineEnd", std::string(1100, 'x') + "\n", x1023},
    };
}

class LogLineEndTest : public LogTest, public testing::WithParamInterface<LineEndCase> {};

TEST_P(LogLineEndTest, HostReceivesMessageWithAtMostOneAddedLineEnd) {
    const LineEndCase& row = GetParam();

    LogMessage(1, State(), "%s", row.message.c_str());

    const std::vector<std::string> messages = Captured().Messages();
    ASSERT_EQ(1u, messages.size());
    EXPECT_EQ(row.expected.size(), messages[0].size());
    EXPECT_EQ(row.expected, messages[0]);
}

INSTANTIATE_TEST_SUITE_P(Rows, LogLineEndTest, testing::ValuesIn(LineEndCases()), RowName());

TEST_F(LogTest, FormatsPrintfConversions) {
    LogMessage(1, State(), "%s=%d, %X, %ld, %s", "value", -42, 0xBEEFu, 123456789L, "end");

    EXPECT_EQ(std::vector<std::string>{"value=-42, BEEF, 123456789, end\n"}, Captured().Messages());
}

TEST_F(LogTest, EmptyMessageLeavesFileLineOpenForTheNext) {
    State()->logIntoFile = true;

    LogMessage(1, State(), "%s", "");
    LogMessage(1, State(), "next");

    const std::string text = LogFileText();
    ASSERT_EQ(2 * kTimestampLength + 4 + std::string(kLogFileLineEnd).size(), text.size()) << text;
    EXPECT_EQ("next" + std::string(kLogFileLineEnd), text.substr(2 * kTimestampLength));
    EXPECT_EQ(1u, LogFileLines().size());
}

TEST_F(LogTest, LongLinesReachTheFileWithoutAddedLineEnd) {
    State()->logIntoFile = true;

    LogMessage(1, State(), "%s", std::string(1022, 'a').c_str());
    LogMessage(1, State(), "%s", std::string(1023, 'b').c_str());
    LogMessage(1, State(), "%s", std::string(2000, 'c').c_str());
    LogMessage(1, State(), "last");

    const std::vector<std::string> lines = LogFileLines();
    ASSERT_EQ(1u, lines.size());
    const std::string& row = lines[0];
    ASSERT_EQ(4 * kTimestampLength + 1022 + 1023 + 1023 + 4, row.size());
    EXPECT_EQ(std::string(1022, 'a'), row.substr(kTimestampLength, 1022));
    EXPECT_EQ(std::string(1023, 'b'), row.substr(2 * kTimestampLength + 1022, 1023));
    EXPECT_EQ(std::string(1023, 'c'), row.substr(3 * kTimestampLength + 2045, 1023));
    EXPECT_EQ("last", row.substr(row.size() - 4));
}

// ---- Host procedure ----

TEST_F(LogTest, HostGetsTimestampThenMessageEvenWithoutFile) {
    ASSERT_FALSE(State()->logIntoFile);

    const std::time_t before = std::time(nullptr);
    LogMessage(1, State(), "Camera::Open: entering port=%d\n", 3);
    const std::time_t after = std::time(nullptr);

    const std::vector<std::string> calls = Captured().Calls();
    ASSERT_EQ(2u, calls.size());
    EXPECT_TRUE(coretest::IsTimestampBetween(calls[0], before, after));
    EXPECT_EQ("Camera::Open: entering port=3\n", calls[1]);
    EXPECT_FALSE(LogFileExists());
}

TEST_F(LogTest, TimestampHasTheShapeOfDayMonthYearTime) {
    LogMessage(1, State(), "shape");

    const std::vector<std::string> calls = Captured().Calls();
    ASSERT_EQ(2u, calls.size());
    const std::string& timestamp = calls[0];
    ASSERT_EQ(kTimestampLength, timestamp.size()) << timestamp;
    const std::string shape = "99/99/99 99:99:99: ";
    for (size_t i = 0; i < shape.size(); ++i) {
        if (shape[i] == '9') {
            EXPECT_TRUE(timestamp[i] >= '0' && timestamp[i] <= '9') << timestamp << " at " << i;
        } else {
            EXPECT_EQ(shape[i], timestamp[i]) << timestamp << " at " << i;
        }
    }
}

TEST_F(LogTest, WithoutHostProcedureTheFileIsStillServed) {
    State()->debugMsgProc = nullptr;
    State()->logIntoFile = true;

    LogMessage(1, State(), "file only");

    const std::vector<std::string> lines = LogFileLines();
    ASSERT_EQ(1u, lines.size());
    EXPECT_EQ("file only", MessageOf(lines[0]));
}

// ---- Log file ----

TEST_F(LogTest, FileIsNamedAfterTheSystemDirectory) {
    State()->logIntoFile = true;

    LogMessage(1, State(), "named");

    std::vector<std::string> entries;
    for (const std::filesystem::directory_entry& entry : std::filesystem::directory_iterator(dir.Path())) {
        entries.push_back(entry.path().filename().string());
    }
    EXPECT_EQ(std::vector<std::string>{"Quorvex.log"}, entries);
}

TEST_F(LogTest, FileGetsOneLineAppendedPerMessage) {
    State()->logIntoFile = true;
    dir.Write("Quorvex.log", "earlier content" + std::string(kLogFileLineEnd));

    const std::time_t before = std::time(nullptr);
    LogMessage(1, State(), "first\n");
    LogMessage(1, State(), "second");
    LogMessage(1, State(), "third %d", 3);
    const std::time_t after = std::time(nullptr);

    const std::vector<std::string> lines = LogFileLines();
    ASSERT_EQ(4u, lines.size());
    EXPECT_EQ("earlier content", lines[0]);
    const char* const messages[] = {"first", "second", "third 3"};
    const std::vector<std::string> calls = Captured().Calls();
    ASSERT_EQ(6u, calls.size());
    for (size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(messages[i]);
        EXPECT_TRUE(coretest::IsTimestampBetween(lines[i + 1].substr(0, kTimestampLength), before, after));
        EXPECT_EQ(calls[2 * i], lines[i + 1].substr(0, kTimestampLength));
        EXPECT_EQ(messages[i], MessageOf(lines[i + 1]));
    }
}

TEST_F(LogTest, LinesWaitForTheSystemPathThenComeFirst) {
    State()->logIntoFile = true;
    State()->SetSystemPath("");

    LogMessage(1, State(), "held one");
    LogMessage(1, State(), "held two\n");
    LogMessage(1, State(), "held three");
    EXPECT_FALSE(LogFileExists());
    EXPECT_EQ(3u, Captured().Messages().size());

    State()->SetSystemPath(dir.Path().c_str());
    LogMessage(1, State(), "fourth");

    const std::vector<std::string> lines = LogFileLines();
    ASSERT_EQ(4u, lines.size());
    const char* const expected[] = {"held one", "held two", "held three", "fourth"};
    const std::vector<std::string> calls = Captured().Calls();
    ASSERT_EQ(8u, calls.size());
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(calls[2 * i] + expected[i], lines[i]);
    }
}

// How the log file is kept from being opened: another writer holding it with
// exclusive write access, or its directory missing.
enum class Blocker { AnotherWriter, MissingDirectory };

struct BlockedCase {
    const char* name;
    Blocker blocker;
};

const BlockedCase kBlockedCases[] = {
    {"AnotherWriterHoldsIt", Blocker::AnotherWriter},
    {"DirectoryMissing", Blocker::MissingDirectory},
};

class LogBlockedFileTest : public LogTest, public testing::WithParamInterface<BlockedCase> {};

TEST_P(LogBlockedFileTest, HostStillGetsTheLineAndHeldLinesStayHeld) {
    State()->logIntoFile = true;
    State()->SetSystemPath("");
    LogMessage(1, State(), "held one");
    LogMessage(1, State(), "held two");

    {
        std::unique_ptr<platform::AppendFile> otherWriter;
        if (GetParam().blocker == Blocker::AnotherWriter) {
            otherWriter = std::make_unique<platform::AppendFile>(dir.File("Quorvex.log"));
            ASSERT_TRUE(otherWriter->IsOpen());
            State()->SetSystemPath(dir.Path().c_str());
        } else {
            State()->SetSystemPath(dir.File("missing").c_str());
        }
        LogMessage(1, State(), "lost for the file");
        EXPECT_EQ("lost for the file\n", Captured().Messages().back());
        EXPECT_EQ("", LogFileText());
        EXPECT_FALSE(dir.Exists("missing"));
    }

    State()->SetSystemPath(dir.Path().c_str());
    LogMessage(1, State(), "after");

    std::vector<std::string> messages;
    for (const std::string& line : LogFileLines()) {
        messages.push_back(MessageOf(line));
    }
    EXPECT_EQ((std::vector<std::string>{"held one", "held two", "after"}), messages);
}

INSTANTIATE_TEST_SUITE_P(Rows, LogBlockedFileTest, testing::ValuesIn(kBlockedCases), RowName());

// ---- Threads ----

TEST_F(LogTest, TwoThreadsGiveWholeLinesInBothSinks) {
    constexpr int kThreads = 2;
    constexpr int kLinesPerThread = 200;
    State()->logIntoFile = true;
    // Long enough that a line written in pieces would show.
    const std::string padding(300, '.');

    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &padding] {
            for (int i = 0; i < kLinesPerThread; ++i) {
                LogMessage(1, GetDriverState(), "thread %d line %d %s", t, i, padding.c_str());
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }

    // Every line whole, and each thread's lines in its own order.
    const auto checkLines = [&](const std::vector<std::string>& messages, const char* sink) {
        SCOPED_TRACE(sink);
        ASSERT_EQ(static_cast<size_t>(kThreads * kLinesPerThread), messages.size());
        std::map<int, int> nextLine;
        for (const std::string& message : messages) {
            int t = -1;
            int i = -1;
            ASSERT_EQ(2, std::sscanf(message.c_str(), "thread %d line %d", &t, &i)) << message;
            ASSERT_TRUE(t >= 0 && t < kThreads) << message;
            EXPECT_EQ(nextLine[t]++, i) << message;
            EXPECT_EQ("thread " + std::to_string(t) + " line " + std::to_string(i) + " " + padding, message);
        }
    };

    const std::vector<std::string> calls = Captured().Calls();
    ASSERT_EQ(static_cast<size_t>(2 * kThreads * kLinesPerThread), calls.size());
    std::vector<std::string> hostMessages;
    for (size_t i = 0; i < calls.size(); i += 2) {
        ASSERT_EQ(kTimestampLength, calls[i].size()) << calls[i];
        ASSERT_EQ('\n', calls[i + 1].back());
        hostMessages.push_back(calls[i + 1].substr(0, calls[i + 1].size() - 1));
    }
    checkLines(hostMessages, "host procedure");

    std::vector<std::string> fileMessages;
    for (const std::string& line : LogFileLines()) {
        fileMessages.push_back(MessageOf(line));
    }
    checkLines(fileMessages, "log file");
}

}  // namespace
