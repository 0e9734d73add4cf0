// The pixel formats of GenICam cameras that quorvex-server publishes, and
// their conversion into the frames hosts receive.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "image_files.h"

namespace tools {

enum class SensorFormat {
    Mono8,   // published as it is, 1 byte per pixel
    Mono10,  // 16-bit little-endian words; published as gray8
    Mono12,
    Mono16,
    RGB8,  // 3 bytes per pixel, R, G, B
    BGR8,  // 3 bytes per pixel, B, G, R; published as R, G, B
};

// The format of a GenICam pixel format name, as PixelFormat's entries name
// them (also the older "RGB8Packed" and "BGR8Packed"); nothing for the
// formats the server does not publish.
std::optional<SensorFormat> SensorFormatFromName(const std::string& name);

// The names the server publishes, for messages: "Mono8, Mono10, ...".
std::string PublishedFormatNames();

// Bytes per pixel of the published frames.
int PublishedBytesPerPixel(SensorFormat format);

// Converts one camera frame of width x height pixels, rows back to back in
// `data` (`size` bytes), into `frame`: gray8 for the Mono formats (the
// most significant bits of Mono10/12/16), R, G, B for the colour ones.
// False with `error` when `size` is too small for the frame.
bool ConvertSensorFrame(SensorFormat format, int width, int height, const uint8_t* data, size_t size, Image& frame,
                        std::string& error);

}  // namespace tools
