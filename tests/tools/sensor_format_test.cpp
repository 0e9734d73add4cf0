#include "sensor_format.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/row_name.h"

namespace {

using tools::SensorFormat;

TEST(SensorFormat, NamesAreGenicamsAndUnknownOnesAreRefused) {
    EXPECT_EQ(SensorFormat::Mono8, tools::SensorFormatFromName("Mono8"));
    EXPECT_EQ(SensorFormat::Mono12, tools::SensorFormatFromName("Mono12"));
    EXPECT_EQ(SensorFormat::RGB8, tools::SensorFormatFromName("RGB8Packed"));
    EXPECT_EQ(SensorFormat::BGR8, tools::SensorFormatFromName("BGR8"));
    for (const char* refused : {"BayerRG8", "Mono12Packed", "mono8", "RGBA8", ""}) {
        EXPECT_FALSE(tools::SensorFormatFromName(refused).has_value()) << refused;
    }
    EXPECT_EQ("Mono8, Mono10, Mono12, Mono16, RGB8, BGR8", tools::PublishedFormatNames());
}

struct ConversionRow {
    std::string name;
    SensorFormat format;
    int width;
    std::vector<uint8_t> camera;
    std::vector<uint8_t> published;
    int bytesPerPixel;
};

class SensorConversion : public testing::TestWithParam<ConversionRow> {};

TEST_P(SensorConversion, GivesTheBytesHostsReceive) {
    const ConversionRow& row = GetParam();
    tools::Image frame;
    frame.pixels.assign(64, 0xEE);
    std::string error;
    ASSERT_TRUE(tools::ConvertSensorFrame(row.format, row.width, 1, row.camera.data(), row.camera.size(), frame, error))
        << error;
    EXPECT_EQ(row.width, frame.geometry.width);
    EXPECT_EQ(1, frame.geometry.height);
    EXPECT_EQ(row.bytesPerPixel, frame.geometry.bytesPerPixel);
    EXPECT_EQ(row.published, frame.pixels);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SensorConversion,
    testing::Values(
        ConversionRow{"mono8", SensorFormat::Mono8, 3, {0, 128, 255}, {0, 128, 255}, 1},
        ConversionRow{
            "mono10_top_bits", SensorFormat::Mono10, 3, {0xFF, 0x03, 0x00, 0x02, 0x03, 0x00}, {0xFF, 0x80, 0x00}, 1},
        ConversionRow{"mono12_top_bits", SensorFormat::Mono12, 2, {0xFF, 0x0F, 0x10, 0x08}, {0xFF, 0x81}, 1},
        ConversionRow{"mono12_overrange_saturates", SensorFormat::Mono12, 1, {0x00, 0xF0}, {0xFF}, 1},
        ConversionRow{"mono16_high_byte", SensorFormat::Mono16, 2, {0x34, 0x12, 0xFF, 0xFF}, {0x12, 0xFF}, 1},
        ConversionRow{"rgb8_as_is", SensorFormat::RGB8, 2, {1, 2, 3, 4, 5, 6}, {1, 2, 3, 4, 5, 6}, 3},
        ConversionRow{"bgr8_swapped", SensorFormat::BGR8, 2, {1, 2, 3, 4, 5, 6}, {3, 2, 1, 6, 5, 4}, 3}),
    RowName());

TEST(SensorConversion, AFrameShorterThanItsSizeIsRefused) {
    const std::vector<uint8_t> camera(2 * 2 * 2 - 1, 0);
    tools::Image frame;
    std::string error;
    EXPECT_FALSE(tools::ConvertSensorFrame(SensorFormat::Mono16, 2, 2, camera.data(), camera.size(), frame, error));
    EXPECT_EQ("a frame of 2x2 came with 7 bytes, 8 needed", error);
    EXPECT_FALSE(tools::ConvertSensorFrame(SensorFormat::Mono8, 0, 2, camera.data(), camera.size(), frame, error));
}

}  // namespace
