#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "image_files.h"
#include "support/row_name.h"
#include "support/temp_dir.h"

namespace {

struct WildcardRow {
    std::string name;
    std::string wildcard;
    std::string file;
    bool match;
};

class WildcardRows : public testing::TestWithParam<WildcardRow> {};

TEST_P(WildcardRows, Match) {
    EXPECT_EQ(GetParam().match, tools::WildcardMatch(GetParam().wildcard, GetParam().file));
}

INSTANTIATE_TEST_SUITE_P(Rows, WildcardRows,
                         testing::Values(WildcardRow{"star_suffix", "*.png", "a.png", true},
                                         WildcardRow{"case_ignored", "*.png", "A.PNG", true},
                                         WildcardRow{"wrong_suffix", "*.png", "a.pngx", false},
                                         WildcardRow{"star_empty", "frame*.png", "frame.png", true},
                                         WildcardRow{"question_one", "f?.bmp", "f1.bmp", true},
                                         WildcardRow{"question_not_empty", "f?.bmp", "f.bmp", false},
                                         WildcardRow{"backtrack", "*ab*c", "aabxbc", true},
                                         WildcardRow{"only_star", "*", "", true},
                                         WildcardRow{"literal", "a.png", "b.png", false},
                                         WildcardRow{"two_stars", "**x", "yyx", true}),
                         RowName());

struct ChannelRow {
    std::string name;
    int bytesPerPixel;
};

class PngRoundTrip : public testing::TestWithParam<ChannelRow> {};

TEST_P(PngRoundTrip, GivesBackEveryByte) {
    testsupport::TempDir dir;
    const tools::FrameGeometry geometry{13, 7, GetParam().bytesPerPixel};
    std::vector<uint8_t> pixels(static_cast<size_t>(geometry.Bytes()));
    for (size_t i = 0; i < pixels.size(); ++i) {
        pixels[i] = static_cast<uint8_t>(i * 151 + 7);
    }
    ASSERT_TRUE(tools::SavePng(dir.File("x.png"), geometry, pixels.data()));
    tools::Image image;
    std::string error;
    ASSERT_TRUE(tools::LoadImageFile(dir.File("x.png"), GetParam().bytesPerPixel, image, error)) << error;
    EXPECT_EQ(geometry, image.geometry);
    EXPECT_EQ(pixels, image.pixels);
}

INSTANTIATE_TEST_SUITE_P(Channels, PngRoundTrip,
                         testing::Values(ChannelRow{"gray", 1}, ChannelRow{"gray_alpha", 2}, ChannelRow{"rgb", 3},
                                         ChannelRow{"rgba", 4}),
                         RowName());

TEST(ImageFiles, GrayIsSpreadToRgbOnLoad) {
    testsupport::TempDir dir;
    const tools::FrameGeometry gray{2, 1, 1};
    const uint8_t pixels[] = {10, 200};
    ASSERT_TRUE(tools::SavePng(dir.File("g.png"), gray, pixels));
    tools::Image image;
    std::string error;
    ASSERT_TRUE(tools::LoadImageFile(dir.File("g.png"), 3, image, error)) << error;
    EXPECT_EQ((std::vector<uint8_t>{10, 10, 10, 200, 200, 200}), image.pixels);
}

TEST(ImageFiles, LoadingNamesTheFileThatFails) {
    testsupport::TempDir dir;
    dir.Write("bad.png", "not a picture");
    tools::Image image;
    std::string error;
    EXPECT_FALSE(tools::LoadImageFile(dir.File("bad.png"), 1, image, error));
    EXPECT_NE(std::string::npos, error.find("bad.png")) << error;
    EXPECT_TRUE(image.pixels.empty());
}

TEST(ImageFiles, SavingRefusesPixelsOfMoreThanFourBytes) {
    testsupport::TempDir dir;
    const std::vector<uint8_t> pixels(5 * 4, 1);
    EXPECT_FALSE(tools::SavePng(dir.File("x.png"), tools::FrameGeometry{2, 2, 5}, pixels.data()));
    EXPECT_FALSE(dir.Exists("x.png"));
}

class ImageListing : public testing::Test {
protected:
    ImageListing() {
        for (const char* name : {"b.png", "a.PNG", "c.bmp", "notes.txt"}) {
            dir_.Write(name, "x");
        }
    }
    std::vector<std::string> List(const std::string& pattern) { return tools::ListImageFiles(pattern, error_); }

    testsupport::TempDir dir_;
    std::string error_;
};

TEST_F(ImageListing, AFolderGivesItsImageFilesInNameOrder) {
    EXPECT_EQ((std::vector<std::string>{dir_.File("a.PNG"), dir_.File("b.png"), dir_.File("c.bmp")}),
              List(dir_.Path()));
}

TEST_F(ImageListing, AWildcardMatchesNamesIgnoringCase) {
    EXPECT_EQ((std::vector<std::string>{dir_.File("a.PNG"), dir_.File("b.png")}), List(dir_.File("*.png")));
}

TEST_F(ImageListing, OneFileIsItself) {
    EXPECT_EQ(std::vector<std::string>{dir_.File("notes.txt")}, List(dir_.File("notes.txt")));
}

TEST_F(ImageListing, NoMatchSaysSo) {
    EXPECT_TRUE(List(dir_.File("*.jpg")).empty());
    EXPECT_NE(std::string::npos, error_.find("no image file matches")) << error_;
}

TEST_F(ImageListing, AMissingFolderSaysSo) {
    EXPECT_TRUE(List(dir_.File("missing") + "/*.png").empty());
    EXPECT_NE(std::string::npos, error_.find("cannot list the folder")) << error_;
}

}  // namespace

TEST(ImageFiles, BytesPerPixelOfAFileAreItsColours) {
    testsupport::TempDir dir;
    for (int channels = 1; channels <= 4; ++channels) {
        const std::vector<uint8_t> pixels(static_cast<size_t>(2 * 2 * channels), 90);
        const std::string name = "c" + std::to_string(channels) + ".png";
        ASSERT_TRUE(tools::SavePng(dir.File(name), tools::FrameGeometry{2, 2, channels}, pixels.data()));
        std::string error;
        EXPECT_EQ(channels == 2 ? 1 : channels, tools::ImageFileBytesPerPixel(dir.File(name), error)) << name << error;
    }
    dir.Write("bad.png", "not a picture");
    std::string error;
    EXPECT_EQ(0, tools::ImageFileBytesPerPixel(dir.File("bad.png"), error));
    EXPECT_NE(std::string::npos, error.find("bad.png")) << error;
}
