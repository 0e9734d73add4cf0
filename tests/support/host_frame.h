// A frame as a host reads it inside its CompleteCallback: the shape through
// getProperty, then every row through getCVLGrabRow, on grabber 0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "driver_exports.h"

namespace testsupport {

struct FrameShape {
    int width = 0;
    int height = 0;
    int bytesPerPixel = 0;

    size_t RowBytes() const { return static_cast<size_t>(width) * static_cast<size_t>(bytesPerPixel); }
    size_t Bytes() const { return RowBytes() * static_cast<size_t>(height); }
};

// The camera's "Width", "Height" and "PixelSize" on `port`; false when the
// driver refuses one of them.
bool ReadShape(const tools::DriverExports& driver, int port, FrameShape& shape);

// Every row of a frame of `shape` on `port` into `pixels`, rows back to back;
// false at the first row the driver refuses, or when the shape holds no
// pixels.
bool ReadRows(const tools::DriverExports& driver, int port, const FrameShape& shape, std::vector<uint8_t>& pixels);

}  // namespace testsupport
