// quorvexsrc's buffers out of the host library's frames: the layout the
// caps promise (GStreamer's default stride, rows padded to 4 bytes for GRAY8
// and RGB) whatever row pitch the frame comes with.
#include "frame_buffer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "harness_support.h"
#include "support/row_name.h"

namespace {

struct LayoutRow {
    std::string name;
    GstVideoFormat format;
    int width;
    int height;
    int bytesPerPixel;
    int rowPitch;  // of the frame
};

void PrintTo(const LayoutRow& row, std::ostream* out) {
    *out << row.name;
}

class FrameBufferTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(gsttest::StartGStreamer()); }
};

class FrameBuffer : public FrameBufferTest, public testing::WithParamInterface<LayoutRow> {};

// Row r, byte b of a frame: distinct across rows and columns, and a marker
// in the bytes between rows that must not reach the buffer's rows.
uint8_t PixelByte(int row, int byte) {
    return static_cast<uint8_t>(row * 7 + byte * 13 + 1);
}
constexpr uint8_t kBetweenRows = 0xEE;

TEST_P(FrameBuffer, HasTheCapsStrideAndEveryRowExact) {
    const LayoutRow& row = GetParam();
    const int rowBytes = row.width * row.bytesPerPixel;
    std::vector<uint8_t> pixels(static_cast<size_t>(row.rowPitch) * static_cast<size_t>(row.height), kBetweenRows);
    for (int r = 0; r < row.height; ++r) {
        for (int b = 0; b < rowBytes; ++b) {
            pixels[static_cast<size_t>(r * row.rowPitch + b)] = PixelByte(r, b);
        }
    }
    const QuorvexHostFrame frame{
        pixels.data(), row.width, row.height, row.bytesPerPixel, row.rowPitch, 1, 0, 0, 0, 0, 0};
    GstVideoInfo info;
    ASSERT_TRUE(
        gst_video_info_set_format(&info, row.format, static_cast<guint>(row.width), static_cast<guint>(row.height)));

    const quorvexgst::UniqueBuffer buffer = quorvexgst::BufferOf(frame, info);
    ASSERT_TRUE(buffer);
    ASSERT_EQ(gst_buffer_get_size(buffer.get()), GST_VIDEO_INFO_SIZE(&info));
    GstVideoFrame video;
    ASSERT_TRUE(gst_video_frame_map(&video, &info, buffer.get(), GST_MAP_READ)) << "the buffer does not fit its caps";
    const auto* rows = static_cast<const uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&video, 0));
    const int stride = GST_VIDEO_FRAME_PLANE_STRIDE(&video, 0);
    int wrong = 0;
    for (int r = 0; r < row.height; ++r) {
        for (int b = 0; b < rowBytes; ++b) {
            wrong += rows[r * stride + b] != PixelByte(r, b) ? 1 : 0;
        }
    }
    gst_video_frame_unmap(&video);
    EXPECT_EQ(wrong, 0) << "bytes differ from the frame's";
}

INSTANTIATE_TEST_SUITE_P(Layouts, FrameBuffer,
                         testing::Values(LayoutRow{"gray_321_pitch_324_one_copy", GST_VIDEO_FORMAT_GRAY8, 321, 5, 1,
                                                   324},
                                         LayoutRow{"gray_321_packed", GST_VIDEO_FORMAT_GRAY8, 321, 5, 1, 321},
                                         LayoutRow{"gray_322_pitch_336", GST_VIDEO_FORMAT_GRAY8, 322, 4, 1, 336},
                                         LayoutRow{"rgb_321_pitch_964_one_copy", GST_VIDEO_FORMAT_RGB, 321, 5, 3, 964},
                                         LayoutRow{"rgb_321_packed", GST_VIDEO_FORMAT_RGB, 321, 5, 3, 963},
                                         LayoutRow{"rgba_5_packed_one_copy", GST_VIDEO_FORMAT_RGBA, 5, 3, 4, 20}),
                         RowName());

// A frame of another size than the caps has no buffer of theirs.
TEST_F(FrameBufferTest, AFrameOfAnotherSizeHasNoBuffer) {
    std::vector<uint8_t> pixels(64 * 48 * 3);
    GstVideoInfo info;
    ASSERT_TRUE(gst_video_info_set_format(&info, GST_VIDEO_FORMAT_RGB, 64, 48));
    EXPECT_FALSE(quorvexgst::BufferOf(QuorvexHostFrame{pixels.data(), 64, 47, 3, 192, 1, 0, 0, 0, 0, 0}, info));
    EXPECT_FALSE(quorvexgst::BufferOf(QuorvexHostFrame{pixels.data(), 63, 48, 3, 192, 1, 0, 0, 0, 0, 0}, info));
    EXPECT_FALSE(quorvexgst::BufferOf(QuorvexHostFrame{pixels.data(), 64, 48, 1, 64, 1, 0, 0, 0, 0, 0}, info));
    EXPECT_TRUE(quorvexgst::BufferOf(QuorvexHostFrame{pixels.data(), 64, 48, 3, 192, 1, 0, 0, 0, 0, 0}, info));
}

}  // namespace
