#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "image_files.h"
#include "server_options.h"
#include "support/row_name.h"

namespace {

using tools::ParseOutcome;

TEST(ServerOptions, DefaultsServeThePatternOnTheDriversDefaultShare) {
    tools::ServerOptions options;
    std::string text;
    ASSERT_EQ(ParseOutcome::Run, tools::ParseServerOptions({}, options, text)) << text;
    EXPECT_EQ("Camera Share", options.share);
    EXPECT_EQ(640, options.size.width);
    EXPECT_EQ(480, options.size.height);
    EXPECT_EQ(1, options.bytesPerPixel);
    EXPECT_EQ(30, options.fps);
    EXPECT_EQ(0, options.frames);
    EXPECT_TRUE(options.images.empty());
    EXPECT_EQ(0, options.faults.skipEvery);
}

TEST(ServerOptions, EveryOptionReachesItsField) {
    tools::ServerOptions options;
    std::string text;
    ASSERT_EQ(ParseOutcome::Run,
              tools::ParseServerOptions(
                  {"--share",      "Line 2", "--size",       "320x200", "--bpp",          "4",  "--fps",        "0",
                   "--frames",     "50",     "--clients",    "2",       "--resize-every", "10", "--stop-after", "40",
                   "--drop-after", "30",     "--skip-every", "5",       "--repeat-every", "6"},
                  options, text))
        << text;
    EXPECT_EQ("Line 2", options.share);
    EXPECT_EQ(320, options.size.width);
    EXPECT_EQ(200, options.size.height);
    EXPECT_EQ(4, options.bytesPerPixel);
    EXPECT_EQ(0, options.fps);
    EXPECT_EQ(50, options.frames);
    EXPECT_EQ(2, options.clients);
    EXPECT_EQ(10, options.faults.resizeEvery);
    EXPECT_EQ(40, options.faults.stopAfter);
    EXPECT_EQ(30, options.faults.dropAfter);
    EXPECT_EQ(5, options.faults.skipEvery);
    EXPECT_EQ(6, options.faults.repeatEvery);
}

TEST(ServerOptions, GenicamTakesAnOptionalDeviceAndFeatures) {
    tools::ServerOptions options;
    std::string text;
    ASSERT_EQ(ParseOutcome::Run,
              tools::ParseServerOptions({"--genicam", "--feature", "Width=320", "--feature=Gain=2.5", "--frames", "9"},
                                        options, text))
        << text;
    ASSERT_TRUE(options.genicam.has_value());
    EXPECT_EQ("", *options.genicam);
    EXPECT_EQ((std::vector<std::string>{"Width=320", "Gain=2.5"}), options.features);
    EXPECT_EQ(9, options.frames);

    tools::ServerOptions named;
    ASSERT_EQ(ParseOutcome::Run, tools::ParseServerOptions({"--genicam", "Aravis-Fake-GV01"}, named, text)) << text;
    EXPECT_EQ("Aravis-Fake-GV01", named.genicam.value_or("none"));
    EXPECT_FALSE(named.list);

    tools::ServerOptions plain;
    ASSERT_EQ(ParseOutcome::Run, tools::ParseServerOptions({"--list"}, plain, text)) << text;
    EXPECT_FALSE(plain.genicam.has_value());
    EXPECT_TRUE(plain.list);
}

TEST(ServerOptions, HelpGivesTheUsage) {
    tools::ServerOptions options;
    std::string text;
    ASSERT_EQ(ParseOutcome::Help, tools::ParseServerOptions({"--help"}, options, text));
    EXPECT_NE(std::string::npos, text.find("Usage: quorvex-server")) << text;
    EXPECT_NE(std::string::npos, text.find("--skip-every N")) << text;
}

TEST(ServerOptions, StdinTakesItsSizeAndFormatAndNeedsNoPace) {
    tools::ServerOptions options;
    std::string text;
    ASSERT_EQ(ParseOutcome::Run,
              tools::ParseServerOptions({"--stdin", "1280x720", "--format", "bgra32"}, options, text))
        << text;
    EXPECT_TRUE(options.fromStdin);
    EXPECT_EQ(1280, options.stdinSize.width);
    EXPECT_EQ(720, options.stdinSize.height);
    EXPECT_EQ("bgra32", options.formatName);
    EXPECT_EQ(5, options.format);
    EXPECT_EQ(4, options.bytesPerPixel);
    EXPECT_EQ(0, options.fps) << "frames are published as they come";
}

TEST(ServerOptions, EverySourceMayWaitForHosts) {
    for (const std::vector<std::string>& source : std::vector<std::vector<std::string>>{
             {}, {"--images", "x.png"}, {"--stdin", "4x4", "--format", "gray8"}, {"--genicam"}}) {
        tools::ServerOptions options;
        std::string text;
        std::vector<std::string> args = source;
        args.insert(args.end(), {"--wait-for-hosts", "2", "--wait-timeout", "30"});
        ASSERT_EQ(ParseOutcome::Run, tools::ParseServerOptions(args, options, text)) << text;
        EXPECT_EQ(2, options.waitForHosts);
        EXPECT_EQ(30, options.waitTimeout);
    }
}

TEST(ServerOptions, StdinKeepsAGivenPace) {
    tools::ServerOptions options;
    std::string text;
    ASSERT_EQ(ParseOutcome::Run,
              tools::ParseServerOptions({"--stdin", "8x2", "--format=gray8", "--fps", "25"}, options, text))
        << text;
    EXPECT_EQ(25, options.fps);
    EXPECT_EQ(1, options.format);
    EXPECT_EQ(1, options.bytesPerPixel);
}

TEST(ServerOptions, RawFormatsByName) {
    const std::vector<std::pair<std::string, int>> expected = {
        {"gray8", 1}, {"rgb24", 3}, {"bgr24", 3}, {"rgba32", 4}, {"bgra32", 4}};
    int number = 0;
    for (const auto& [name, bytesPerPixel] : expected) {
        int format = 0;
        int bytes = 0;
        ASSERT_TRUE(tools::LookUpRawFormat(name, format, bytes)) << name;
        EXPECT_EQ(++number, format) << name;
        EXPECT_EQ(bytesPerPixel, bytes) << name;
    }
    int format = 0;
    int bytes = 0;
    EXPECT_FALSE(tools::LookUpRawFormat("RGB24", format, bytes));
}

struct ErrorRow {
    std::string name;
    std::vector<std::string> args;
    std::string error;  // a part of the message
};

class ServerOptionErrors : public testing::TestWithParam<ErrorRow> {};

TEST_P(ServerOptionErrors, AreRefusedWithAReason) {
    tools::ServerOptions options;
    std::string text;
    EXPECT_EQ(ParseOutcome::Error, tools::ParseServerOptions(GetParam().args, options, text));
    EXPECT_NE(std::string::npos, text.find(GetParam().error)) << text;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ServerOptionErrors,
    testing::Values(
        ErrorRow{"bpp_2", {"--bpp", "2"}, "\"2\" is not 1, 3 or 4 bytes per pixel"},
        ErrorRow{"bpp_word", {"--bpp=rgb"}, "\"rgb\" is not 1, 3 or 4"},
        ErrorRow{"fps_too_high", {"--fps", "5000"}, "from 0 to 1000"},
        ErrorRow{"negative_frames", {"--frames", "-1"}, "--frames"},
        ErrorRow{"too_many_clients", {"--clients", "9"}, "from 1 to 8"},
        ErrorRow{"empty_share", {"--share="}, "is empty"},
        ErrorRow{"too_small_for_pattern", {"--size", "4x4"}, "too small for the test pattern"},
        ErrorRow{"half_size_too_small", {"--size", "8x4", "--resize-every", "5"}, "also at half the size"},
        ErrorRow{
            "images_with_size", {"--images", "x.png", "--size", "10x10"}, "--size works with the test pattern only"},
        ErrorRow{"images_with_skip", {"--images", "x.png", "--skip-every", "3"}, "--skip-every works"},
        ErrorRow{"repeat_every_1", {"--repeat-every", "1"}, "give 2 or more"},
        ErrorRow{"stray_argument", {"pattern"}, "unexpected argument \"pattern\""},
        ErrorRow{"stdin_without_format", {"--stdin", "4x4"}, "--stdin needs --format"},
        ErrorRow{"format_without_stdin", {"--format", "gray8"}, "give --stdin WxH too"},
        ErrorRow{"unknown_format",
                 {"--stdin", "4x4", "--format", "yuv420"},
                 "\"yuv420\" is not gray8, rgb24, bgr24, rgba32 or bgra32"},
        ErrorRow{"stdin_bad_size", {"--stdin", "4by4", "--format", "gray8"}, "--stdin"},
        ErrorRow{"stdin_with_images",
                 {"--stdin", "4x4", "--format", "gray8", "--images", "x.png"},
                 "--images does not go with --stdin"},
        ErrorRow{
            "stdin_with_bpp", {"--stdin", "4x4", "--format", "gray8", "--bpp", "3"}, "--bpp does not go with --stdin"},
        ErrorRow{"feature_without_genicam", {"--feature", "Width=8"}, "--feature needs --genicam"},
        ErrorRow{"feature_without_value", {"--genicam", "--feature", "Width"}, "is not NAME=VALUE"},
        ErrorRow{"feature_without_name", {"--genicam", "--feature", "=8"}, "is not NAME=VALUE"},
        ErrorRow{"genicam_with_size", {"--genicam", "--size", "64x64"}, "--size does not work with --genicam"},
        ErrorRow{"genicam_with_fps", {"--genicam", "--fps=5"}, "--fps does not work with --genicam"},
        ErrorRow{"wait_timeout_alone", {"--wait-timeout", "5"}, "--wait-timeout needs --wait-for-hosts"},
        ErrorRow{"wait_timeout_zero", {"--wait-for-hosts", "1", "--wait-timeout", "0"}, "--wait-timeout"},
        ErrorRow{"more_hosts_than_clients",
                 {"--wait-for-hosts", "3", "--clients", "2"},
                 "--wait-for-hosts: 3 hosts cannot attach with --clients 2"},
        ErrorRow{"too_many_hosts", {"--wait-for-hosts", "9"}, "from 0 to 8"}),
    RowName());

}  // namespace

TEST(ServerOptions, ImagesKeepTheirColoursUnlessBppIsGiven) {
    tools::ServerOptions options;
    std::string text;
    ASSERT_EQ(ParseOutcome::Run, tools::ParseServerOptions({"--images", "a.png"}, options, text)) << text;
    EXPECT_EQ(tools::kBytesPerPixelOfFiles, options.bytesPerPixel);
    tools::ServerOptions gray;
    ASSERT_EQ(ParseOutcome::Run, tools::ParseServerOptions({"--images", "a.png", "--bpp", "1"}, gray, text)) << text;
    EXPECT_EQ(1, gray.bytesPerPixel);
}
