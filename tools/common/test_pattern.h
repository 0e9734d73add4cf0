// The moving test pattern that quorvex-server serves and quorvex-grab checks.
//
// Every frame differs from the one before (diagonal bands and a box move, the
// frame number is drawn in digits), and its bytes carry a stamp that the host
// reads back:
//   bytes 0..3    magic "QVTP"
//   bytes 4..7    frame number, little-endian
//   bytes 8..15   timestamp, microseconds of the shared clock, little-endian
//   last 8 bytes  the frame number again, and the timestamp's two halves
//                 and a marker combined by exclusive or
// A frame copied while the server was overwriting it has a head and a tail
// (or pixels) from different frames: the reader reports it torn. The pixels
// themselves are a function of the geometry and the frame number, so the
// reader checks every byte.
#pragma once

#include <cstdint>

namespace tools {

struct FrameGeometry {
    int32_t width = 0;
    int32_t height = 0;
    int32_t bytesPerPixel = 0;

    int64_t RowBytes() const { return int64_t{width} * bytesPerPixel; }
    int64_t Bytes() const { return RowBytes() * height; }
    bool operator==(const FrameGeometry& other) const {
        return width == other.width && height == other.height && bytesPerPixel == other.bytesPerPixel;
    }
    bool operator!=(const FrameGeometry& other) const { return !(*this == other); }
};

struct PatternStamp {
    uint32_t frameNumber = 0;
    int64_t timestampUs = 0;
};

constexpr int64_t kPatternHeadBytes = 16;
constexpr int64_t kPatternTailBytes = 8;
// The smallest frame that holds a stamp: head and tail must not overlap.
constexpr int64_t kPatternMinBytes = kPatternHeadBytes + kPatternTailBytes;

// Whether frames of this geometry can carry the pattern.
bool HoldsPattern(const FrameGeometry& geometry);

// Fills `pixels` (geometry.Bytes() bytes) with the pattern of the stamp's
// frame. The geometry must hold the pattern.
void DrawPattern(const FrameGeometry& geometry, const PatternStamp& stamp, uint8_t* pixels);

enum class PatternCheck {
    NotPattern,  // no magic, or a geometry too small for a stamp
    Intact,      // head, tail and every pixel belong to one frame
    Torn,        // the magic is there, but the rest is not one frame's
};

struct PatternReading {
    PatternCheck check = PatternCheck::NotPattern;
    PatternStamp stamp;  // the head's stamp, whenever the magic is there
};

// Reads the stamp of a frame and checks all its bytes against it.
PatternReading ReadPattern(const FrameGeometry& geometry, const uint8_t* pixels);

}  // namespace tools
