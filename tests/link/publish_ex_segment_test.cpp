// QuorvexServerPublishFrameEx as the segment shows it, read with the driver's
// own segment reader: every width from 1 pixel up across the library's
// several-pixels-at-a-time conversion, so that the last pixels of a row and
// the bytes after the frame come out right, for each format and row padding.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "link/shared_memory.h"
#include "link_test_support.h"
#include "source_image.h"

namespace {

constexpr int kLargestWidth = 24;
constexpr int kHeight = 3;
constexpr int kPadding[] = {0, 1, 5};
// Bytes read beyond the frame, which must hold the frame's stamp and then
// keep the filling published before it: a conversion that writes past the
// frame's end shows there.
constexpr int kBeyond = 32;
constexpr uint8_t kFilling = 0xEE;

class PublishExSegment : public testing::TestWithParam<sourceimage::SourceFormat> {};

TEST_P(PublishExSegment, RowsOfEveryWidthAreConvertedExactly) {
    const std::string name = linktest::UniqueName("segment");
    const int segmentBytes = kLargestWidth * kHeight * 4 + kBeyond;
    linktest::ServerPtr server = linktest::StartServer(name, segmentBytes, 1);
    ASSERT_NE(server, nullptr);
    CSharedMemory segment;
    ASSERT_TRUE(segment.Open(name));
    const std::vector<uint8_t> filling(segmentBytes, kFilling);
    for (int width = 1; width <= kLargestWidth; ++width) {
        for (int padding : kPadding) {
            const sourceimage::SourceImage image =
                sourceimage::MakeSource(GetParam(), width, kHeight, padding, static_cast<uint32_t>(width));
            ASSERT_EQ(0, QuorvexServerPublishFrame(server.get(), filling.data(), segmentBytes));
            ASSERT_EQ(0, sourceimage::Publish(server.get(), image)) << QuorvexServerLastError(server.get());
            const std::vector<uint8_t> expected = sourceimage::Expected(image, "RGB");
            std::vector<uint8_t> read(expected.size() + kBeyond);
            ASSERT_EQ(CSharedMemory::ReadStatus::Copied,
                      segment.Read(read.data(), static_cast<int32_t>(read.size()), nullptr));
            EXPECT_EQ(expected, std::vector<uint8_t>(read.begin(), read.begin() + expected.size()))
                << "width " << width << ", padding " << padding;
            FrameStamp stamp{};
            std::memcpy(&stamp, read.data() + expected.size(), sizeof stamp);
            EXPECT_EQ(kFrameStampMark, stamp.mark) << "no stamp after the frame: width " << width;
            EXPECT_EQ(std::vector<uint8_t>(kBeyond - sizeof stamp, kFilling),
                      std::vector<uint8_t>(read.begin() + expected.size() + sizeof stamp, read.end()))
                << "written past the frame and its stamp: width " << width << ", padding " << padding;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, PublishExSegment,
                         testing::Values(sourceimage::kGray8, sourceimage::kRgb24, sourceimage::kBgr24,
                                         sourceimage::kRgba32, sourceimage::kBgra32),
                         [](const testing::TestParamInfo<sourceimage::SourceFormat>& row) {
                             return std::string(row.param.name);
                         });

}  // namespace
