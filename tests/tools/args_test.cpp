#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "args.h"
#include "support/row_name.h"

namespace {

constexpr int kPoison = -777;

struct IntRow {
    std::string name;
    std::string text;
    int min;
    int max;
    bool ok;
    int value;
};

class ParseIntRows : public testing::TestWithParam<IntRow> {};

TEST_P(ParseIntRows, AcceptsOnlyWholeNumbersInRange) {
    const IntRow& row = GetParam();
    int value = kPoison;
    EXPECT_EQ(row.ok, tools::ParseInt(row.text, row.min, row.max, value));
    EXPECT_EQ(row.ok ? row.value : kPoison, value) << "a refused text must leave the value alone";
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ParseIntRows,
    testing::Values(IntRow{"zero", "0", 0, 10, true, 0}, IntRow{"at_max", "10", 0, 10, true, 10},
                    IntRow{"above_max", "11", 0, 10, false, 0}, IntRow{"below_min", "-1", 0, 10, false, 0},
                    IntRow{"negative_allowed", "-5", -10, 10, true, -5}, IntRow{"plus_sign", "+7", 0, 10, true, 7},
                    IntRow{"empty", "", 0, 10, false, 0}, IntRow{"sign_only", "-", -10, 10, false, 0},
                    IntRow{"blank_before", " 5", 0, 10, false, 0}, IntRow{"trailing_letter", "5x", 0, 10, false, 0},
                    IntRow{"decimal_point", "2.5", 0, 10, false, 0}, IntRow{"hex", "0x10", 0, 100, false, 0},
                    IntRow{"leading_zeros", "007", 0, 10, true, 7},
                    IntRow{"int_max", "2147483647", 0, 2147483647, true, 2147483647},
                    IntRow{"overflow", "99999999999999999999", 0, 2147483647, false, 0}),
    RowName());

struct SizeRow {
    std::string name;
    std::string text;
    bool ok;
    int width;
    int height;
};

class ParseSizeRows : public testing::TestWithParam<SizeRow> {};

TEST_P(ParseSizeRows, ReadsWidthByHeight) {
    const SizeRow& row = GetParam();
    tools::Size2D size{kPoison, kPoison};
    EXPECT_EQ(row.ok, tools::ParseSize(row.text, 8192, size));
    EXPECT_EQ(row.ok ? row.width : kPoison, size.width);
    EXPECT_EQ(row.ok ? row.height : kPoison, size.height);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ParseSizeRows,
    testing::Values(SizeRow{"vga", "640x480", true, 640, 480}, SizeRow{"capital_x", "64X48", true, 64, 48},
                    SizeRow{"largest", "8192x8192", true, 8192, 8192}, SizeRow{"too_wide", "8193x10", false, 0, 0},
                    SizeRow{"zero_height", "10x0", false, 0, 0}, SizeRow{"no_x", "640", false, 0, 0},
                    SizeRow{"no_height", "640x", false, 0, 0}, SizeRow{"two_x", "1x2x3", false, 0, 0},
                    SizeRow{"blank", "640 x 480", false, 0, 0}),
    RowName());

// One parser with one option of each kind.
class ArgParserTest : public testing::Test {
protected:
    ArgParserTest() : parser_("Usage: tool [options]") {
        parser_.Flag("verbose", verbose_, "talk more");
        parser_.Int("count", count_, 1, 100, "how many");
        parser_.Text("name", "NAME", name_, "what to call it");
        parser_.Size("size", size_, 1000, "how big");
        parser_.OptionalText("device", "ID", device_, "which device");
    }

    bool Parse(const std::vector<std::string>& args) { return parser_.Parse(args, error_); }

    tools::ArgParser parser_;
    bool verbose_ = false;
    int count_ = kPoison;
    std::string name_ = "default";
    tools::Size2D size_{kPoison, kPoison};
    std::string device_ = "poison";
    std::string error_;
};

TEST_F(ArgParserTest, TakesValuesAfterABlankOrAnEqualsSign) {
    ASSERT_TRUE(Parse({"--count", "5", "--name=two words", "--size=3x4", "--verbose"})) << error_;
    EXPECT_EQ(5, count_);
    EXPECT_EQ("two words", name_);
    EXPECT_EQ(3, size_.width);
    EXPECT_EQ(4, size_.height);
    EXPECT_TRUE(verbose_);
    EXPECT_TRUE(parser_.Given("count"));
    EXPECT_TRUE(parser_.Given("verbose"));
}

TEST_F(ArgParserTest, OptionsNotGivenKeepTheirDefaults) {
    ASSERT_TRUE(Parse({})) << error_;
    EXPECT_FALSE(verbose_);
    EXPECT_EQ(kPoison, count_);
    EXPECT_EQ("default", name_);
    EXPECT_FALSE(parser_.Given("count"));
    EXPECT_TRUE(error_.empty());
}

TEST_F(ArgParserTest, TheLastOfTwoValuesWins) {
    ASSERT_TRUE(Parse({"--count", "5", "--count=6"})) << error_;
    EXPECT_EQ(6, count_);
}

TEST_F(ArgParserTest, AValueMayStartWithDashes) {
    ASSERT_TRUE(Parse({"--name", "--odd"})) << error_;
    EXPECT_EQ("--odd", name_);
}

TEST_F(ArgParserTest, AnOptionalValueIsTakenUnlessAnOptionFollows) {
    ASSERT_TRUE(Parse({"--device", "cam 7", "--verbose"})) << error_;
    EXPECT_EQ("cam 7", device_);
    ASSERT_TRUE(Parse({"--device=cam 8"})) << error_;
    EXPECT_EQ("cam 8", device_);
    ASSERT_TRUE(Parse({"--device", "--count", "3"})) << error_;
    EXPECT_EQ("", device_);
    EXPECT_EQ(3, count_);
    device_ = "poison";
    ASSERT_TRUE(Parse({"--device"})) << error_;
    EXPECT_EQ("", device_);
    EXPECT_TRUE(parser_.Given("device"));
}

struct ErrorRow {
    std::string name;
    std::vector<std::string> args;
    std::string error;
};

class ArgParserErrors : public ArgParserTest, public testing::WithParamInterface<ErrorRow> {};

TEST_P(ArgParserErrors, SayWhatIsWrong) {
    EXPECT_FALSE(Parse(GetParam().args));
    EXPECT_EQ(GetParam().error, error_);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ArgParserErrors,
    testing::Values(
        ErrorRow{"unknown", {"--colour", "red"}, "unknown option --colour"},
        ErrorRow{"unknown_with_value", {"--colour=red"}, "unknown option --colour"},
        ErrorRow{"positional", {"file.png"}, "unexpected argument \"file.png\""},
        ErrorRow{"single_dash", {"-v"}, "unexpected argument \"-v\""},
        ErrorRow{"bare_dashes", {"--"}, "unexpected argument \"--\""},
        ErrorRow{"missing_value", {"--count"}, "--count needs a value N"},
        ErrorRow{"flag_with_value", {"--verbose=yes"}, "--verbose takes no value"},
        ErrorRow{"out_of_range", {"--count", "0"}, "--count: \"0\" is not a whole number from 1 to 100"},
        ErrorRow{"not_a_number", {"--count=ten"}, "--count: \"ten\" is not a whole number from 1 to 100"},
        ErrorRow{"empty_text", {"--name="}, "--name: \"\" is empty"},
        ErrorRow{"bad_size", {"--size", "big"}, "--size: \"big\" is not a size WxH with numbers from 1 to 1000"}),
    RowName());

TEST_F(ArgParserTest, UsageListsEveryOptionWithItsHelp) {
    const std::string usage = parser_.Usage();
    EXPECT_EQ(0u, usage.find("Usage: tool [options]"));
    for (const char* line :
         {"--verbose", "talk more", "--count N", "how many", "--name NAME", "--size WxH", "--device [ID]"}) {
        EXPECT_NE(std::string::npos, usage.find(line)) << line << " missing from:\n" << usage;
    }
}

}  // namespace
