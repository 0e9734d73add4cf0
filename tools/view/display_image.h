// Frames as a window shows them: where the picture goes, and its pixels in
// the 32-bit layout that both cairo (RGB24) and a Windows DIB take.
#pragma once

#include <cstdint>
#include <vector>

#include "test_pattern.h"

namespace tools {

struct Placement {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

// The largest rectangle of the frame's proportions inside the area,
// centred; exactly the area when the proportions are equal.
Placement FitInside(int frameWidth, int frameHeight, int areaWidth, int areaHeight);

// The frame as 4 bytes per pixel, B, G, R, unused: gray repeated in all
// three, 3 and 4 bytes per pixel taken as R, G, B(, A).
void ToBgrx(const FrameGeometry& geometry, const uint8_t* pixels, std::vector<uint8_t>& out);

}  // namespace tools
