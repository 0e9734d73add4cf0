#include "host_frame.h"

namespace testsupport {
namespace {

constexpr int kGrabber = 0;
constexpr int kBitsPerByte = 8;

}  // namespace

bool ReadShape(const tools::DriverExports& driver, int port, FrameShape& shape) {
    int bits = 0;
    const bool read = driver.getProperty(kGrabber, port, "Width", &shape.width) == 1 &&
                      driver.getProperty(kGrabber, port, "Height", &shape.height) == 1 &&
                      driver.getProperty(kGrabber, port, "PixelSize", &bits) == 1;
    shape.bytesPerPixel = bits / kBitsPerByte;
    return read;
}

bool ReadRows(const tools::DriverExports& driver, int port, const FrameShape& shape, std::vector<uint8_t>& pixels) {
    if (shape.width <= 0 || shape.height <= 0 || shape.bytesPerPixel <= 0) {
        pixels.clear();
        return false;
    }
    const size_t rowBytes = static_cast<size_t>(shape.RowBytes());
    pixels.resize(rowBytes * static_cast<size_t>(shape.height));
    for (int row = 0; row < shape.height; ++row) {
        if (driver.getCVLGrabRow(kGrabber, port, pixels.data() + rowBytes * static_cast<size_t>(row), row, 0,
                                 shape.width - 1) != 1) {
            return false;
        }
    }
    return true;
}

}  // namespace testsupport
