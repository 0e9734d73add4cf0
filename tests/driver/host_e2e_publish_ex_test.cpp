// Frames published from a source layout (QuorvexServerPublishFrameEx) as the
// host sees them through the driver: every format and row stride, the
// channel order, size changes, and arguments that are refused without
// touching what the host has.
#include <string>

#include "host_e2e.h"
#include "source_image.h"

namespace e2e {
namespace {

constexpr int kPort = 7;
constexpr DWORD kQuietMs = 300;

using sourceimage::Expected;
using sourceimage::kBgr24;
using sourceimage::kBgra32;
using sourceimage::kGray8;
using sourceimage::kRgb24;
using sourceimage::kRgba32;
using sourceimage::MakeSource;
using sourceimage::SourceFormat;
using sourceimage::SourceImage;
using hosttest::operator<<;

class PublishExTest : public E2ETest {
protected:
    void SetUp() override {
        E2ETest::SetUp();
        share = ShareName();
    }

    // Serves a segment of `segmentBytes`, opens the camera and waits until
    // the server counts it.
    testing::AssertionResult Serve(int segmentBytes) {
        if (!server.Create(share, segmentBytes)) {
            return testing::AssertionFailure() << "no server";
        }
        int dimensions[2];
        testing::AssertionResult opened = OpenCamera("Camera 5", kPort, share, kLevelErrors, 200, dimensions);
        if (!opened) {
            return opened;
        }
        if (!server.WaitForClients(1, kReconnectWaitMs)) {
            return testing::AssertionFailure() << "the camera did not attach";
        }
        return testing::AssertionSuccess();
    }

    // The camera's current frame, read row by row as a host does, after
    // checking that the driver reports the size and pixel size `image` has.
    testing::AssertionResult ReadBack(const SourceImage& image, std::vector<uint8_t>& frame) {
        const int bytesPerPixel = sourceimage::BytesPerPixel(image.format);
        const int expected[] = {image.width, image.height, 8 * bytesPerPixel};
        const char* const names[] = {"Width", "Height", "PixelSize"};
        for (int i = 0; i < 3; ++i) {
            int value = hosttest::kPoison;
            if (driver.getProperty(0, kPort, names[i], &value) != 1 || value != expected[i]) {
                return testing::AssertionFailure() << names[i] << " is " << value << ", not " << expected[i];
            }
        }
        const size_t rowBytes = static_cast<size_t>(image.width) * bytesPerPixel;
        frame.assign(rowBytes * image.height, 0);
        for (int row = 0; row < image.height; ++row) {
            if (driver.getCVLGrabRow(0, kPort, frame.data() + rowBytes * row, row, 0, image.width - 1) != 1) {
                return testing::AssertionFailure() << "getCVLGrabRow refused row " << row;
            }
        }
        return testing::AssertionSuccess();
    }

    // Publishes `image`, waits for the host's frame and compares it with
    // the image in the host's channel `order`.
    testing::AssertionResult DeliverEx(const SourceImage& image, const std::string& order = "RGB") {
        const int before = Port(kPort).frames;
        const int reached = sourceimage::Publish(server.get(), image);
        if (reached != 1) {
            return testing::AssertionFailure()
                   << "PublishFrameEx reached " << reached << " clients: " << QuorvexServerLastError(server.get());
        }
        testing::AssertionResult arrived = WaitForFrames(kPort, before + 1);
        if (!arrived) {
            return arrived;
        }
        std::vector<uint8_t> frame;
        testing::AssertionResult read = ReadBack(image, frame);
        if (!read) {
            return read;
        }
        if (frame != Expected(image, order)) {
            return testing::AssertionFailure() << "the host's " << image.format.name << " frame differs from the "
                                               << order << " conversion of the source";
        }
        return testing::AssertionSuccess();
    }

    std::string share;
    Server server;
};

struct LayoutRow {
    std::string name;
    SourceFormat format;
    int padding;  // bytes after each source row
    int order;
};

class PublishExLayouts : public PublishExTest, public testing::WithParamInterface<LayoutRow> {};

TEST_P(PublishExLayouts, HostReceivesTheRowsInItsChannelOrder) {
    const LayoutRow& row = GetParam();
    // An odd width, so that rows end in the middle of a word.
    const SourceImage first = MakeSource(row.format, 101, 9, row.padding, 1);
    const SourceImage second = MakeSource(row.format, 101, 9, row.padding, 2);
    ASSERT_TRUE(Serve(101 * 9 * 4));
    ASSERT_EQ(0, QuorvexServerSetChannelOrder(server.get(), row.order));
    const std::string order = row.order == QUORVEX_ORDER_RGB ? "RGB" : "BGR";
    ASSERT_TRUE(DeliverEx(first, order));
    ASSERT_TRUE(DeliverEx(second, order));
    EXPECT_STREQ("", QuorvexServerLastError(server.get()));
}

INSTANTIATE_TEST_SUITE_P(Formats, PublishExLayouts,
                         testing::Values(LayoutRow{"Gray8Packed", kGray8, 0, QUORVEX_ORDER_RGB},
                                         LayoutRow{"Gray8Padded", kGray8, 3, QUORVEX_ORDER_RGB},
                                         LayoutRow{"Rgb24Packed", kRgb24, 0, QUORVEX_ORDER_RGB},
                                         LayoutRow{"Rgb24Padded", kRgb24, 5, QUORVEX_ORDER_RGB},
                                         LayoutRow{"Bgr24Packed", kBgr24, 0, QUORVEX_ORDER_RGB},
                                         LayoutRow{"Bgr24Padded", kBgr24, 7, QUORVEX_ORDER_RGB},
                                         LayoutRow{"Rgba32Padded", kRgba32, 4, QUORVEX_ORDER_RGB},
                                         LayoutRow{"Bgra32Packed", kBgra32, 0, QUORVEX_ORDER_RGB},
                                         LayoutRow{"Rgb24ToBgr", kRgb24, 0, QUORVEX_ORDER_BGR},
                                         LayoutRow{"Bgr24ToBgr", kBgr24, 2, QUORVEX_ORDER_BGR},
                                         LayoutRow{"Rgba32ToBgr", kRgba32, 0, QUORVEX_ORDER_BGR},
                                         LayoutRow{"Bgra32ToBgr", kBgra32, 8, QUORVEX_ORDER_BGR},
                                         LayoutRow{"Gray8InBgrOrder", kGray8, 1, QUORVEX_ORDER_BGR}),
                         RowName());

TEST_F(PublishExTest, NewSizeOrPixelSizeSendsDimensionsBeforeTheFrame) {
    ASSERT_TRUE(Serve(160 * 120 * 4));
    ASSERT_TRUE(DeliverEx(MakeSource(kGray8, 64, 48, 0, 1)));
    const int resets = Port(kPort).resets;

    ASSERT_TRUE(DeliverEx(MakeSource(kGray8, 160, 120, 0, 2)));
    EXPECT_EQ(resets + 1, Port(kPort).resets.load()) << "a larger frame asks the host to reset";
    ASSERT_TRUE(DeliverEx(MakeSource(kRgba32, 160, 120, 0, 3)));
    EXPECT_EQ(resets + 2, Port(kPort).resets.load()) << "four bytes per pixel make a larger frame";
    ASSERT_TRUE(DeliverEx(MakeSource(kRgb24, 30, 20, 0, 4)));
    EXPECT_EQ(resets + 3, Port(kPort).resets.load());
    // The same size and pixel size in another channel order is no new size.
    ASSERT_TRUE(DeliverEx(MakeSource(kBgr24, 30, 20, 2, 5)));
    EXPECT_EQ(resets + 3, Port(kPort).resets.load());
}

TEST_F(PublishExTest, MixesWithDimensionsSetByHand) {
    ASSERT_TRUE(Serve(64 * 48 * 3));
    ASSERT_EQ(1, server.SetDimensions(FrameFormat{64, 48, 3}));
    ASSERT_TRUE(WaitUntil([&] { return Port(kPort).resets >= 1; }));
    const int resets = Port(kPort).resets;
    ASSERT_TRUE(DeliverEx(MakeSource(kBgr24, 64, 48, 0, 1)));
    EXPECT_EQ(resets, Port(kPort).resets.load()) << "the frame has the size set already";
}

struct RefusalRow {
    std::string name;
    bool nullPixels;
    int width;
    int height;
    int strideDelta;  // added to one packed row
    int format;
    const char* because;  // a part of the reason
};

class PublishExRefusals : public PublishExTest, public testing::WithParamInterface<RefusalRow> {};

TEST_P(PublishExRefusals, SendNothingAndLeaveTheSegmentAsItWas) {
    const RefusalRow& row = GetParam();
    ASSERT_TRUE(Serve(40 * 30 * 3));
    const SourceImage good = MakeSource(kRgb24, 40, 30, 0, 1);
    ASSERT_TRUE(DeliverEx(good));
    const int frames = Port(kPort).frames;
    const int resets = Port(kPort).resets;

    // Room for the largest of the refused frames, so that only the
    // arguments are wrong.
    const std::vector<uint8_t> bytes(200 * 200 * 4, 0x33);
    const int bytesPerPixel = row.format == QUORVEX_FORMAT_GRAY8 ? 1 : 3;
    const int stride = row.width * bytesPerPixel + row.strideDelta;
    EXPECT_EQ(-1, QuorvexServerPublishFrameEx(server.get(), row.nullPixels ? nullptr : bytes.data(), row.width,
                                              row.height, stride, row.format));
    const std::string reason = QuorvexServerLastError(server.get());
    EXPECT_NE(std::string::npos, reason.find(row.because)) << "the reason given: \"" << reason << "\"";

    Sleep(kQuietMs);
    EXPECT_EQ(frames, Port(kPort).frames.load()) << "a refused frame was announced";
    EXPECT_EQ(resets, Port(kPort).resets.load()) << "a refused frame changed the dimensions";
    // The host copies the segment again on a bare ImageReady: it still holds
    // the last good frame, in the last good size.
    ASSERT_EQ(1, server.SendHeader(ImageReady, 0));
    ASSERT_TRUE(WaitForFrames(kPort, frames + 1));
    std::vector<uint8_t> frame;
    ASSERT_TRUE(ReadBack(good, frame));
    EXPECT_EQ(Expected(good, "RGB"), frame) << "a refused frame changed the segment";
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, PublishExRefusals,
    testing::Values(RefusalRow{"NullPixels", true, 40, 30, 0, QUORVEX_FORMAT_RGB24, "null"},
                    RefusalRow{"ZeroWidth", false, 0, 30, 0, QUORVEX_FORMAT_RGB24, "not positive"},
                    RefusalRow{"NegativeHeight", false, 40, -2, 0, QUORVEX_FORMAT_RGB24, "not positive"},
                    RefusalRow{"StrideOneByteShort", false, 40, 30, -1, QUORVEX_FORMAT_RGB24, "stride"},
                    RefusalRow{"NegativeStride", false, 40, 30, -240, QUORVEX_FORMAT_RGB24, "stride"},
                    RefusalRow{"FormatZero", false, 40, 30, 0, 0, "unknown format 0"},
                    RefusalRow{"FormatSix", false, 40, 30, 0, 6, "unknown format 6"},
                    RefusalRow{"LargerThanTheSegment", false, 41, 30, 0, QUORVEX_FORMAT_RGB24, "segment"},
                    RefusalRow{"OverflowingSize", false, 65536, 65536, 0, QUORVEX_FORMAT_GRAY8, "segment"}),
    RowName());

TEST_F(PublishExTest, ChannelOrderIsCheckedAndKept) {
    ASSERT_TRUE(Serve(16 * 8 * 3));
    EXPECT_STREQ("", QuorvexServerLastError(server.get()));
    ASSERT_EQ(0, QuorvexServerSetChannelOrder(server.get(), QUORVEX_ORDER_BGR));
    EXPECT_EQ(-1, QuorvexServerSetChannelOrder(server.get(), 2));
    EXPECT_NE(std::string::npos, std::string(QuorvexServerLastError(server.get())).find("unknown channel order 2"));
    // The refused order left BGR in place.
    ASSERT_TRUE(DeliverEx(MakeSource(kRgb24, 16, 8, 0, 1), "BGR"));
    ASSERT_EQ(0, QuorvexServerSetChannelOrder(server.get(), QUORVEX_ORDER_RGB));
    ASSERT_TRUE(DeliverEx(MakeSource(kRgb24, 16, 8, 0, 2), "RGB"));
}

TEST_F(PublishExTest, PlainPublishGivesItsReasonsToo) {
    ASSERT_TRUE(Serve(100));
    const std::vector<uint8_t> bytes(101, 1);
    EXPECT_EQ(-1, QuorvexServerPublishFrame(server.get(), bytes.data(), 101));
    EXPECT_NE(std::string::npos, std::string(QuorvexServerLastError(server.get())).find("larger than the segment"));
    EXPECT_EQ(-1, QuorvexServerPublishFrame(server.get(), nullptr, 10));
    EXPECT_NE(std::string::npos, std::string(QuorvexServerLastError(server.get())).find("null"));
}

TEST(PublishExNoServer, IsRefused) {
    const uint8_t pixel = 0;
    EXPECT_EQ(-1, QuorvexServerPublishFrameEx(nullptr, &pixel, 1, 1, 1, QUORVEX_FORMAT_GRAY8));
    EXPECT_EQ(-1, QuorvexServerSetChannelOrder(nullptr, QUORVEX_ORDER_RGB));
}

}  // namespace
}  // namespace e2e
