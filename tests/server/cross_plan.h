// The frames that the cross-bitness test sends from a 64-bit server to a
// 32-bit host: 1, 3 and 4 bytes per pixel, changes of size, and a restart of
// the server process between two runs. Both programs build the same source
// images from a step's number.
#pragma once

#include "source_image.h"

namespace crossplan {

struct Step {
    sourceimage::SourceFormat format;
    int width;
    int height;
    int padding;  // source bytes after each row
};

constexpr Step kSteps[] = {
    {sourceimage::kGray8, 333, 7, 0},
    {sourceimage::kGray8, 333, 7, 5},
    {sourceimage::kRgb24, 333, 7, 3},
    {sourceimage::kBgr24, 200, 50, 0},
    {sourceimage::kRgba32, 64, 48, 4},
    {sourceimage::kBgra32, 64, 48, 0},
    // The server restarts here.
    {sourceimage::kBgra32, 64, 48, 0},
    {sourceimage::kGray8, 640, 480, 0},
    {sourceimage::kRgb24, 101, 3, 1},
};
constexpr int kStepCount = sizeof kSteps / sizeof kSteps[0];
constexpr int kRestartAt = 6;
// A segment that holds the largest step's frame.
constexpr int kSegmentBytes = 640 * 480 * 4;

inline sourceimage::SourceImage Source(int step) {
    const Step& s = kSteps[step];
    return sourceimage::MakeSource(s.format, s.width, s.height, s.padding, 1000u + static_cast<uint32_t>(step));
}

// The named event the host sets after it has checked each frame; the server
// publishes the next frame only then.
inline std::string AckEventName(const std::string& share) {
    return share + "Ack";
}

}  // namespace crossplan
