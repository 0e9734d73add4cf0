// Source pixel layouts that a server publishes from, and the one-pass copy
// that turns a layout with a row stride into the segment's rows in the
// order hosts receive.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pixels {

// The values of the QUORVEX_FORMAT_* constants.
enum class Format : int { Gray8 = 1, Rgb24 = 2, Bgr24 = 3, Rgba32 = 4, Bgra32 = 5 };
// The values of the QUORVEX_ORDER_* constants.
enum class Order : int { Rgb = 0, Bgr = 1 };

// True for the five formats above.
bool IsKnownFormat(int format);
bool IsKnownOrder(int order);
int BytesPerPixel(Format format);
const char* FormatName(Format format);

// What a row of the source needs to become a row of the segment.
enum class Conversion { Copy, SwapRedBlue };
Conversion ConversionFor(Format format, Order order);

// Source rows of `width` pixels, `strideBytes` apart, written back to back
// into `dest` with red and blue exchanged when `conversion` asks. The
// caller has checked that the stride holds a row and that dest holds
// height rows.
void CopyRows(uint8_t* dest, const uint8_t* source, size_t width, size_t height, size_t strideBytes, int bytesPerPixel,
              Conversion conversion);

}  // namespace pixels
