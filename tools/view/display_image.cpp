#include "display_image.h"

#include <algorithm>

namespace tools {

Placement FitInside(int frameWidth, int frameHeight, int areaWidth, int areaHeight) {
    if (frameWidth <= 0 || frameHeight <= 0 || areaWidth <= 0 || areaHeight <= 0) {
        return Placement{};
    }
    Placement placement;
    // Compared in whole numbers, so that equal proportions give the area
    // itself and not a pixel less.
    if (int64_t{areaWidth} * frameHeight <= int64_t{areaHeight} * frameWidth) {
        placement.width = areaWidth;
        placement.height = static_cast<int>(std::max<int64_t>(1, int64_t{areaWidth} * frameHeight / frameWidth));
    } else {
        placement.height = areaHeight;
        placement.width = static_cast<int>(std::max<int64_t>(1, int64_t{areaHeight} * frameWidth / frameHeight));
    }
    placement.x = (areaWidth - placement.width) / 2;
    placement.y = (areaHeight - placement.height) / 2;
    return placement;
}

void ToBgrx(const FrameGeometry& geometry, const uint8_t* pixels, std::vector<uint8_t>& out) {
    const int64_t count = int64_t{geometry.width} * geometry.height;
    out.resize(static_cast<size_t>(count * 4));
    uint8_t* to = out.data();
    const int bpp = geometry.bytesPerPixel;
    for (int64_t i = 0; i < count; ++i, to += 4, pixels += bpp) {
        if (bpp >= 3) {
            to[0] = pixels[2];
            to[1] = pixels[1];
            to[2] = pixels[0];
        } else {
            to[0] = to[1] = to[2] = pixels[0];
        }
        to[3] = 0;
    }
}

}  // namespace tools
