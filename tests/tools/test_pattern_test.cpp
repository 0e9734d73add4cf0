#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/row_name.h"
#include "test_pattern.h"

namespace {

using tools::FrameGeometry;
using tools::PatternCheck;
using tools::PatternStamp;

struct GeometryRow {
    std::string name;
    FrameGeometry geometry;
};

std::vector<uint8_t> Drawn(const FrameGeometry& geometry, const PatternStamp& stamp) {
    std::vector<uint8_t> pixels(static_cast<size_t>(geometry.Bytes()), 0xCD);
    tools::DrawPattern(geometry, stamp, pixels.data());
    return pixels;
}

class PatternGeometries : public testing::TestWithParam<GeometryRow> {
protected:
    const FrameGeometry& Geometry() const { return GetParam().geometry; }
};

TEST_P(PatternGeometries, ReadsBackItsStampIntact) {
    const PatternStamp stamp{123456789u, 0x0123456789ABCDEFll};
    const std::vector<uint8_t> pixels = Drawn(Geometry(), stamp);
    const tools::PatternReading reading = tools::ReadPattern(Geometry(), pixels.data());
    EXPECT_EQ(PatternCheck::Intact, reading.check);
    EXPECT_EQ(stamp.frameNumber, reading.stamp.frameNumber);
    EXPECT_EQ(stamp.timestampUs, reading.stamp.timestampUs);
}

TEST_P(PatternGeometries, EveryChangedByteIsNoticed) {
    const std::vector<uint8_t> pixels = Drawn(Geometry(), PatternStamp{42, 1000});
    for (size_t i = 0; i < pixels.size(); ++i) {
        std::vector<uint8_t> damaged = pixels;
        damaged[i] ^= 0x01;
        const PatternCheck check = tools::ReadPattern(Geometry(), damaged.data()).check;
        ASSERT_EQ(i < 4 ? PatternCheck::NotPattern : PatternCheck::Torn, check) << "byte " << i;
    }
}

TEST_P(PatternGeometries, AFrameMadeOfTwoFramesIsTorn) {
    const std::vector<uint8_t> older = Drawn(Geometry(), PatternStamp{7, 7000});
    std::vector<uint8_t> mixed = Drawn(Geometry(), PatternStamp{8, 8000});
    // The newer frame's start over the older frame: a copy that overtook a
    // writer.
    std::copy(older.begin() + static_cast<std::ptrdiff_t>(older.size() / 2), older.end(),
              mixed.begin() + static_cast<std::ptrdiff_t>(mixed.size() / 2));
    const tools::PatternReading reading = tools::ReadPattern(Geometry(), mixed.data());
    EXPECT_EQ(PatternCheck::Torn, reading.check);
    EXPECT_EQ(8u, reading.stamp.frameNumber);
}

TEST_P(PatternGeometries, FollowingFramesDiffer) {
    EXPECT_NE(Drawn(Geometry(), PatternStamp{1, 5}), Drawn(Geometry(), PatternStamp{2, 5}));
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, PatternGeometries,
    testing::Values(GeometryRow{"gray_64x48", {64, 48, 1}}, GeometryRow{"rgb_64x48", {64, 48, 3}},
                    GeometryRow{"rgba_64x48", {64, 48, 4}}, GeometryRow{"odd_37x29_rgb", {37, 29, 3}},
                    GeometryRow{"smallest_gray_24x1", {24, 1, 1}}, GeometryRow{"smallest_rgb_2x4", {2, 4, 3}},
                    GeometryRow{"one_column", {1, 30, 1}}, GeometryRow{"two_bytes_per_pixel", {20, 10, 2}}),
    RowName());

TEST(TestPattern, StampLayoutIsMagicNumberAndTimestampLittleEndian) {
    const FrameGeometry geometry{16, 4, 1};
    const std::vector<uint8_t> pixels = Drawn(geometry, PatternStamp{0x01020304u, 0x1122334455667788ll});
    const std::vector<uint8_t> head(pixels.begin(), pixels.begin() + 16);
    const std::vector<uint8_t> expected = {'Q',  'V',  'T',  'P',  0x04, 0x03, 0x02, 0x01,
                                           0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11};
    EXPECT_EQ(expected, head);
    const std::vector<uint8_t> tailNumber(pixels.end() - 8, pixels.end() - 4);
    EXPECT_EQ((std::vector<uint8_t>{0x04, 0x03, 0x02, 0x01}), tailNumber);
}

TEST(TestPattern, FramesTooSmallForAStampHoldNoPattern) {
    EXPECT_FALSE(tools::HoldsPattern(FrameGeometry{23, 1, 1}));
    EXPECT_TRUE(tools::HoldsPattern(FrameGeometry{24, 1, 1}));
    EXPECT_FALSE(tools::HoldsPattern(FrameGeometry{0, 100, 1}));
    EXPECT_FALSE(tools::HoldsPattern(FrameGeometry{100, -1, 1}));
    const std::vector<uint8_t> pixels(23, 'Q');
    EXPECT_EQ(PatternCheck::NotPattern, tools::ReadPattern(FrameGeometry{23, 1, 1}, pixels.data()).check);
}

TEST(TestPattern, OtherPicturesAreNoPattern) {
    const FrameGeometry geometry{32, 32, 1};
    std::vector<uint8_t> pixels(static_cast<size_t>(geometry.Bytes()));
    for (size_t i = 0; i < pixels.size(); ++i) {
        pixels[i] = static_cast<uint8_t>(i * 37);
    }
    EXPECT_EQ(PatternCheck::NotPattern, tools::ReadPattern(geometry, pixels.data()).check);
}

TEST(TestPattern, ReadWithAnotherGeometryIsTorn) {
    // A host that missed a change of size reads the bytes with the old
    // shape: the tail is not where it looks.
    const std::vector<uint8_t> pixels = Drawn(FrameGeometry{64, 48, 1}, PatternStamp{3, 3});
    EXPECT_EQ(PatternCheck::Torn, tools::ReadPattern(FrameGeometry{64, 24, 1}, pixels.data()).check);
}

}  // namespace
