// A frame as a host reads it inside its CompleteCallback: the shape through
// getProperty, then every row through getCVLGrabRow, on grabber 0.
#pragma once

#include <cstdint>
#include <vector>

#include "driver_exports.h"

namespace testsupport {

// A frame's size, as the driver's properties and the servers' dimensions
// give it.
struct FrameShape {
    int width = 0;
    int height = 0;
    int bytesPerPixel = 0;

    int RowBytes() const { return width * bytesPerPixel; }
    int Bytes() const { return RowBytes() * height; }
};

// The camera's "Width", "Height" and "PixelSize" on `port`; false when the
// driver refuses one of them.
bool ReadShape(const tools::DriverExports& driver, int port, FrameShape& shape);

// Every row of a frame of `shape` on `port` into `pixels`, rows back to back;
// false at the first row the driver refuses, or when the shape holds no
// pixels.
bool ReadRows(const tools::DriverExports& driver, int port, const FrameShape& shape, std::vector<uint8_t>& pixels);

}  // namespace testsupport
