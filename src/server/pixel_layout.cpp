#include "pixel_layout.h"

#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <tmmintrin.h>
#define QUORVEX_PIXELS_SSSE3 1
#endif

namespace pixels {
namespace {

using RowSwap = void (*)(uint8_t* dest, const uint8_t* source, size_t width);

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

#ifdef QUORVEX_PIXELS_SSSE3
// Where each byte of 16 comes from: five three-byte pixels and the first byte
// of a sixth, or four four-byte pixels.
alignas(16) constexpr int8_t kShuffle3[16] = {2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, 15};
alignas(16) constexpr int8_t kShuffle4[16] = {2, 1, 0, 3, 6, 5, 4, 7, 10, 9, 8, 11, 14, 13, 12, 15};

// One byte shuffle moves kStep pixels at a time; the pixels that fewer than
// kLeft leave over go to the scalar `Tail`. With three-byte pixels each
// 16-byte store also writes the first byte of the next pixel unchanged,
// which the next step or the tail writes again; leaving six pixels (18
// bytes) at each step keeps loads and stores inside the row.
template <size_t kBytes, size_t kStep, size_t kLeft, const int8_t* kShuffle, RowSwap Tail>
__attribute__((target("ssse3"))) void SwapRowSsse3(uint8_t* dest, const uint8_t* source, size_t width) {
    const __m128i order = _mm_load_si128(reinterpret_cast<const __m128i*>(kShuffle));
    size_t done = 0;
    for (; width - done >= kLeft; done += kStep) {
        const __m128i pixels = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + kBytes * done));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dest + kBytes * done), _mm_shuffle_epi8(pixels, order));
    }
    Tail(dest + kBytes * done, source + kBytes * done, width - done);
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
            three = &SwapRowSsse3<3, 5, 6, kShuffle3, SwapRow3>;
            four = &SwapRowSsse3<4, 4, 4, kShuffle4, SwapRow4>;
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

void CopyRows(uint8_t* dest, const uint8_t* source, size_t width, size_t height, size_t strideBytes, int bytesPerPixel,
              Conversion conversion) {
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
