#include "pixel_layout.h"

#include <cstring>

namespace pixels {
namespace {

// Three-byte pixels: the middle byte stays, the outer two change places.
void SwapRow3(uint8_t* dest, const uint8_t* source, size_t width) {
    for (size_t i = 0; i < width; ++i) {
        dest[0] = source[2];
        dest[1] = source[1];
        dest[2] = source[0];
        dest += 3;
        source += 3;
    }
}

// Four-byte pixels as one little-endian word each: bytes 0 and 2 change
// places, 1 and 3 (green and alpha) stay.
void SwapRow4(uint8_t* dest, const uint8_t* source, size_t width) {
    for (size_t i = 0; i < width; ++i) {
        uint32_t pixel;
        std::memcpy(&pixel, source + 4 * i, sizeof pixel);
        pixel = (pixel & 0xFF00FF00u) | ((pixel >> 16) & 0xFFu) | ((pixel & 0xFFu) << 16);
        std::memcpy(dest + 4 * i, &pixel, sizeof pixel);
    }
}

}  // namespace

bool IsKnownFormat(int format) {
    return format >= static_cast<int>(Format::Gray8) && format <= static_cast<int>(Format::Bgra32);
}

bool IsKnownOrder(int order) {
    return order == static_cast<int>(Order::Rgb) || order == static_cast<int>(Order::Bgr);
}

int BytesPerPixel(Format format) {
    switch (format) {
    case Format::Gray8:
        return 1;
    case Format::Rgb24:
    case Format::Bgr24:
        return 3;
    case Format::Rgba32:
    case Format::Bgra32:
        return 4;
    }
    return 0;
}

const char* FormatName(Format format) {
    switch (format) {
    case Format::Gray8:
        return "gray8";
    case Format::Rgb24:
        return "rgb24";
    case Format::Bgr24:
        return "bgr24";
    case Format::Rgba32:
        return "rgba32";
    case Format::Bgra32:
        return "bgra32";
    }
    return "unknown";
}

Conversion ConversionFor(Format format, Order order) {
    const bool sourceIsBgr = format == Format::Bgr24 || format == Format::Bgra32;
    if (format == Format::Gray8 || sourceIsBgr == (order == Order::Bgr)) {
        return Conversion::Copy;
    }
    return Conversion::SwapRedBlue;
}

void CopyRows(uint8_t* dest, const uint8_t* source, size_t width, size_t height, size_t strideBytes,
              int bytesPerPixel, Conversion conversion) {
    const size_t rowBytes = width * static_cast<size_t>(bytesPerPixel);
    if (conversion == Conversion::Copy && strideBytes == rowBytes) {
        std::memcpy(dest, source, rowBytes * height);
        return;
    }
    for (size_t row = 0; row < height; ++row, dest += rowBytes, source += strideBytes) {
        if (conversion == Conversion::Copy) {
            std::memcpy(dest, source, rowBytes);
        } else if (bytesPerPixel == 3) {
            SwapRow3(dest, source, width);
        } else {
            SwapRow4(dest, source, width);
        }
    }
}

}  // namespace pixels
