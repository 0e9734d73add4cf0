// quorvex-check's rules against scripted servers: one that keeps every rule
// passes, and each deliberately broken one fails first on the rule it breaks,
// by name.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "check_options.h"
#include "check_report.h"
#include "conformance.h"
#include "support/row_name.h"
#include "support/scripted_camera.h"
#include "support/unique_name.h"

namespace {

using testsupport::ScriptedCamera;
using testsupport::ServerFaults;

// Short waits: every scripted server answers at once or never.
check::CheckOptions Options(const std::string& share) {
    check::CheckOptions options;
    options.share = share;
    options.frames = 5;
    options.timeoutMs = 2000;
    options.mutexWaitMs = 500;
    return options;
}

std::string Report(const std::string& share, const std::vector<check::RuleResult>& results) {
    return check::FormatText(share, results);
}

const check::RuleResult* Find(const std::vector<check::RuleResult>& results, const std::string& name) {
    for (const check::RuleResult& result : results) {
        if (name == result.name) {
            return &result;
        }
    }
    return nullptr;
}

TEST(CheckRules, AServerThatKeepsTheRulesPassesEveryOne) {
    const std::string share = testsupport::UniqueName("check-good");
    ServerFaults faults;
    faults.stamps = true;
    ScriptedCamera server(share, faults);
    ASSERT_TRUE(server.Start());
    const std::vector<check::RuleResult> results = check::CheckServer(Options(share));
    EXPECT_TRUE(check::AllHold(results)) << Report(share, results);
    ASSERT_EQ(check::RuleNames().size(), results.size());
    const check::RuleResult* numbering = Find(results, "numbering");
    ASSERT_NE(nullptr, numbering);
    EXPECT_NE(std::string::npos, numbering->saw.find("frames numbered")) << numbering->saw;
}

// A reader that comes late to a frame finds the next one in its place; when
// that one is taller, its stamp lies past the announced frame's end.
TEST(CheckRules, AFrameOverwrittenByATallerOneKeepsTheNumbering) {
    const std::string share = testsupport::UniqueName("check-grow");
    ServerFaults faults;
    faults.stamps = true;
    faults.growOverThirdFrame = true;
    ScriptedCamera server(share, faults);
    ASSERT_TRUE(server.Start());
    const std::vector<check::RuleResult> results = check::CheckServer(Options(share));
    EXPECT_TRUE(check::AllHold(results)) << Report(share, results);
}

TEST(CheckRules, APlainServerPassesWithoutTheNumbering) {
    const std::string share = testsupport::UniqueName("check-plain");
    ScriptedCamera server(share, ServerFaults{});
    ASSERT_TRUE(server.Start());
    const std::vector<check::RuleResult> results = check::CheckServer(Options(share));
    EXPECT_TRUE(check::AllHold(results)) << Report(share, results);
    EXPECT_EQ(0u, Find(results, "numbering")->saw.find("not present")) << Report(share, results);
}

TEST(CheckRules, NoServerFailsEveryRule) {
    check::CheckOptions options = Options(testsupport::UniqueName("check-none"));
    options.timeoutMs = 300;
    const std::vector<check::RuleResult> results = check::CheckServer(options);
    for (const check::RuleResult& result : results) {
        EXPECT_FALSE(result.holds) << result.name;
        EXPECT_FALSE(result.saw.empty()) << result.name;
    }
    EXPECT_EQ(0u, results[0].saw.find("not checked: cannot open the pipe")) << results[0].saw;
}

struct BrokenRow {
    const char* name;
    ServerFaults faults;
    const char* rule;  // the first rule that must fail
};

void PrintTo(const BrokenRow& row, std::ostream* out) {
    *out << row.name;
}

ServerFaults With(void (*change)(ServerFaults&)) {
    ServerFaults faults;
    change(faults);
    return faults;
}

class BrokenServers : public testing::TestWithParam<BrokenRow> {};

TEST_P(BrokenServers, FailFirstOnTheRuleTheyBreak) {
    const std::string share = testsupport::UniqueName("check-broken");
    ScriptedCamera server(share, GetParam().faults);
    ASSERT_TRUE(server.Start());
    const std::vector<check::RuleResult> results = check::CheckServer(Options(share));
    const std::string report = Report(share, results);
    EXPECT_FALSE(check::AllHold(results)) << report;
    const check::RuleResult* broken = Find(results, GetParam().rule);
    ASSERT_NE(nullptr, broken) << GetParam().rule;
    EXPECT_FALSE(broken->holds) << report;
    for (const check::RuleResult& result : results) {
        if (&result == broken) {
            break;
        }
        EXPECT_TRUE(result.holds) << result.name << " fails before " << GetParam().rule << "\n" << report;
    }
    EXPECT_NE(std::string::npos, report.find(std::string("FAIL ") + GetParam().rule + ": ")) << report;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, BrokenServers,
    testing::Values(BrokenRow{"answer_in_one_message", With([](ServerFaults& f) { f.answerInOneMessage = true; }),
                              "dimensions-answer"},
                    BrokenRow{"no_bytes_per_pixel", With([](ServerFaults& f) {
                                  f.dimensions = DimensionsBlock{32, 8, 0};
                              }),
                              "dimensions-sane"},
                    // A segment is seen in whole pages: this one is a page short.
                    BrokenRow{"segment_too_short", With([](ServerFaults& f) {
                                  f.dimensions = DimensionsBlock{128, 64, 1};
                                  f.segmentBytes = 4096;
                              }),
                              "segment-holds-frame"},
                    BrokenRow{"mutex_kept", With([](ServerFaults& f) { f.keepMutex = true; }), "mutex-released"},
                    BrokenRow{"written_without_mutex", With([](ServerFaults& f) { f.writeWithoutMutex = true; }),
                              "frames-complete"},
                    BrokenRow{"frame_before_dimensions", With([](ServerFaults& f) { f.frameBeforeDimensions = true; }),
                              "dimensions-before-frames"},
                    BrokenRow{"one_answer_per_connection",
                              With([](ServerFaults& f) { f.answerFirstRequestOnly = true; }), "dimensions-again"},
                    BrokenRow{"one_connection_only", With([](ServerFaults& f) { f.serveOneConnection = true; }),
                              "host-returns"},
                    BrokenRow{"numbers_go_back", With([](ServerFaults& f) {
                                  f.stamps = true;
                                  f.numbersGoBack = true;
                              }),
                              "numbering"}),
    RowName());

TEST(CheckCommand, TakesTheShareAndItsOptions) {
    check::CheckCommand command;
    std::string text;
    ASSERT_EQ(tools::ParseOutcome::Run,
              check::ParseCheckCommand({"--frames", "3", "my share", "--json", "--timeout=2"}, command, text))
        << text;
    EXPECT_EQ("my share", command.check.share);
    EXPECT_EQ(3, command.check.frames);
    EXPECT_EQ(2000, command.check.timeoutMs);
    EXPECT_TRUE(command.json);
    for (const std::vector<std::string>& wrong :
         {std::vector<std::string>{}, {"a", "b"}, {"a", "--frames", "0"}, {"a", "--colour"}}) {
        check::CheckCommand ignored;
        EXPECT_EQ(tools::ParseOutcome::Error, check::ParseCheckCommand(wrong, ignored, text)) << wrong.size();
    }
}

TEST(CheckReport, JsonNamesEveryRuleAndEscapesWhatItSaw) {
    std::vector<check::RuleResult> results = {{"message-pipe", "the pipe is a message pipe", true, "ok"},
                                              {"numbering", "consistent", false, "a \"quoted\"\\ text\n"}};
    const std::string json = check::FormatJson("s\"x", results);
    EXPECT_EQ(
        "{\"share\": \"s\\\"x\", \"pass\": false, \"rules\": [{\"name\": \"message-pipe\", \"rule\": \"the "
        "pipe is a message pipe\", \"pass\": true, \"saw\": \"ok\"}, {\"name\": \"numbering\", \"rule\": "
        "\"consistent\", \"pass\": false, \"saw\": \"a \\\"quoted\\\"\\\\ text\\n\"}]}\n",
        json);
    EXPECT_FALSE(check::AllHold(results));
    results[1].holds = true;
    EXPECT_TRUE(check::AllHold(results));
}

}  // namespace
