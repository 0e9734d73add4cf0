#include "pixel_layout.h"

#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <tmmintrin.h>
#define QUORVEX_PIXELS_SSSE3 1
#endif

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

using RowSwap = void (*)(uint8_t* dest, const uint8_t* source, size_t width);

#ifdef QUORVEX_PIXELS_SSSE3
// One byte shuffle moves five three-byte pixels at a time. Each 16-byte store
// also writes the first byte of the sixth pixel unchanged, which the next
// step or the scalar tail writes again; 16-byte loads and stores stay inside
// the row because six pixels (18 bytes) are left at each step.
__attribute__((target("ssse3"))) void SwapRow3Ssse3(uint8_t* dest, const uint8_t* source, size_t width) {
    const __m128i order = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, 15);
    size_t done = 0;
    for (; width - done >= 6; done += 5) {
        const __m128i pixels = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + 3 * done));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dest + 3 * done), _mm_shuffle_epi8(pixels, order));
    }
    SwapRow3(dest + 3 * done, source + 3 * done, width - done);
}

__attribute__((target("ssse3"))) void SwapRow4Ssse3(uint8_t* dest, const uint8_t* source, size_t width) {
    const __m128i order = _mm_setr_epi8(2, 1, 0, 3, 6, 5, 4, 7, 10, 9, 8, 11, 14, 13, 12, 15);
    size_t done = 0;
    for (; width - done >= 4; done += 4) {
        const __m128i pixels = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + 4 * done));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dest + 4 * done), _mm_shuffle_epi8(pixels, order));
    }
    SwapRow4(dest + 4 * done, source + 4 * done, width - done);
}
#endif

// The fastest row swaps this processor runs, chosen once.
struct RowSwaps {
    RowSwap three = &SwapRow3;
    RowSwap four = &SwapRow4;

    RowSwaps() {
#ifdef QUORVEX_PIXELS_SSSE3
        __builtin_cpu_init();
        if (__builtin_cpu_supports("ssse3")) {
            three = &SwapRow3Ssse3;
            four = &SwapRow4Ssse3;
        }
#endif
    }
};

const RowSwaps& Swaps() {
    static const RowSwaps swaps;
    return swaps;
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
    // Row by row even when the rows lie back to back: in bench/publish_bench
    // one copy of a whole frame into the segment ran slower than its rows.
    const RowSwap swap = bytesPerPixel == 3 ? Swaps().three : Swaps().four;
    for (size_t row = 0; row < height; ++row, dest += rowBytes, source += strideBytes) {
        if (conversion == Conversion::Copy) {
            std::memcpy(dest, source, rowBytes);
        } else {
            swap(dest, source, width);
        }
    }
}

}  // namespace pixels
