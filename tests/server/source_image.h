// Source images for the tests of QuorvexServerPublishFrameEx: pixels in one
// of the server's formats with a row stride, and, worked out independently of
// the library, the frame a host must receive from them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "quorvex_server.h"

namespace sourceimage {

// A QUORVEX_FORMAT_* value and the letters of its channels in memory order.
struct SourceFormat {
    const char* name;
    int format;
    const char* channels;
};

constexpr SourceFormat kGray8{"Gray8", QUORVEX_FORMAT_GRAY8, "Y"};
constexpr SourceFormat kRgb24{"Rgb24", QUORVEX_FORMAT_RGB24, "RGB"};
constexpr SourceFormat kBgr24{"Bgr24", QUORVEX_FORMAT_BGR24, "BGR"};
constexpr SourceFormat kRgba32{"Rgba32", QUORVEX_FORMAT_RGBA32, "RGBA"};
constexpr SourceFormat kBgra32{"Bgra32", QUORVEX_FORMAT_BGRA32, "BGRA"};

int BytesPerPixel(const SourceFormat& format);

// Pseudo-random bytes from `seed`, the same on every system; the padding
// after each row is filled too, so that a copy that takes it shows.
struct SourceImage {
    SourceFormat format;
    int width;
    int height;
    int stride;
    std::vector<uint8_t> bytes;
};

SourceImage MakeSource(const SourceFormat& format, int width, int height, int padding, uint32_t seed);

// Rows back to back with the channels in the host's `order` ("RGB" or
// "BGR", alpha kept last); gray as it is.
std::vector<uint8_t> Expected(const SourceImage& image, const std::string& order);

// QuorvexServerPublishFrameEx of the whole image.
int Publish(QuorvexServer* server, const SourceImage& image);

}  // namespace sourceimage
