#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "grab_options.h"
#include "support/row_name.h"

namespace {

using tools::ParseOutcome;

tools::ParseOutcome Parse(const std::vector<std::string>& args, tools::GrabOptions& options, std::string& text) {
    return tools::ParseGrabOptions(args, "driver-default", "dir-default", options, text);
}

TEST(GrabOptions, DefaultsOpenCameraOneOnPortOneAndWriteNoSettings) {
    tools::GrabOptions options;
    std::string text;
    ASSERT_EQ(ParseOutcome::Run, Parse({}, options, text)) << text;
    EXPECT_EQ("driver-default", options.driver);
    EXPECT_EQ("dir-default", options.systemDir);
    EXPECT_EQ("Camera 1", options.camera);
    EXPECT_EQ(1, options.port);
    EXPECT_EQ(0, options.frames);
    EXPECT_EQ(10, options.timeoutSeconds);
    EXPECT_TRUE(options.saveDir.empty());
    EXPECT_FALSE(options.log);
    EXPECT_FALSE(options.configure);
    EXPECT_FALSE(options.share.has_value());
    EXPECT_FALSE(options.logLevel.has_value());
    EXPECT_FALSE(options.connectionTimeout.has_value());
}

TEST(GrabOptions, SettingsAreWrittenOnlyWhenGiven) {
    tools::GrabOptions options;
    std::string text;
    ASSERT_EQ(ParseOutcome::Run,
              Parse({"--share", "Line 2", "--log-level", "0", "--connect-timeout", "100"}, options, text))
        << text;
    ASSERT_TRUE(options.share.has_value());
    EXPECT_EQ("Line 2", *options.share);
    ASSERT_TRUE(options.logLevel.has_value());
    EXPECT_EQ(0, *options.logLevel);
    ASSERT_TRUE(options.connectionTimeout.has_value());
    EXPECT_EQ(100, *options.connectionTimeout);
}

TEST(GrabOptions, EveryOtherOptionReachesItsField) {
    tools::GrabOptions options;
    std::string text;
    ASSERT_EQ(ParseOutcome::Run,
              Parse({"--driver", "d.dll", "--system-dir", "sys", "--camera", "Camera 7", "--port", "0", "--frames",
                     "300", "--timeout", "0", "--save", "out", "--every", "100", "--log", "--configure", "--list"},
                    options, text))
        << text;
    EXPECT_EQ("d.dll", options.driver);
    EXPECT_EQ("sys", options.systemDir);
    EXPECT_EQ("Camera 7", options.camera);
    EXPECT_EQ(0, options.port);
    EXPECT_EQ(300, options.frames);
    EXPECT_EQ(0, options.timeoutSeconds);
    EXPECT_EQ("out", options.saveDir);
    EXPECT_EQ(100, options.every);
    EXPECT_TRUE(options.log);
    EXPECT_TRUE(options.configure);
    EXPECT_TRUE(options.list);
}

struct ErrorRow {
    std::string name;
    std::vector<std::string> args;
    std::string error;
};

class GrabOptionErrors : public testing::TestWithParam<ErrorRow> {};

TEST_P(GrabOptionErrors, AreRefusedWithAReason) {
    tools::GrabOptions options;
    std::string text;
    EXPECT_EQ(ParseOutcome::Error, Parse(GetParam().args, options, text));
    EXPECT_NE(std::string::npos, text.find(GetParam().error)) << text;
}

INSTANTIATE_TEST_SUITE_P(Rows, GrabOptionErrors,
                         testing::Values(ErrorRow{"log_level_5", {"--log-level", "5"}, "from 0 to 4"},
                                         ErrorRow{
                                             "timeout_too_short", {"--connect-timeout", "99"}, "from 100 to 10000"},
                                         ErrorRow{"negative_port", {"--port", "-1"}, "--port: \"-1\""},
                                         ErrorRow{"every_zero", {"--save", "d", "--every", "0"}, "from 1 to"},
                                         ErrorRow{"every_without_save", {"--every", "5"}, "--every needs --save"},
                                         ErrorRow{"frames_missing_value", {"--frames"}, "--frames needs a value"},
                                         ErrorRow{"empty_camera", {"--camera", ""}, "is empty"},
                                         ErrorRow{"unknown", {"--fps", "30"}, "unknown option --fps"}),
                         RowName());

}  // namespace
