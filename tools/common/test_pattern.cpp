#include "test_pattern.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace tools {
namespace {

constexpr uint8_t kMagic[4] = {'Q', 'V', 'T', 'P'};
constexpr uint32_t kTailMarker = 0x5A5AA5A5u;

// Background values stay within [kLow, kLow + kSpan), so that the white box
// and the black digits on their white plate stand out.
constexpr int kLow = 32;
constexpr int kSpan = 192;
constexpr uint8_t kWhite = 255;
constexpr uint8_t kBlack = 0;

// Digits 0-9 in a 3x5 grid, the top row in the highest three bits.
constexpr uint16_t kGlyphs[10] = {0x7B6F, 0x2C97, 0x73E7, 0x73CF, 0x5BC9, 0x79CF, 0x79EF, 0x7292, 0x7BEF, 0x7BCF};
constexpr int kGlyphWidth = 3;
constexpr int kGlyphHeight = 5;

void PutLe32(uint8_t* at, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        at[i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

uint32_t GetLe32(const uint8_t* at) {
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i) {
        value = (value << 8) | at[i];
    }
    return value;
}

void PutLe64(uint8_t* at, uint64_t value) {
    PutLe32(at, static_cast<uint32_t>(value));
    PutLe32(at + 4, static_cast<uint32_t>(value >> 32));
}

uint64_t GetLe64(const uint8_t* at) {
    return GetLe32(at) | (uint64_t{GetLe32(at + 4)} << 32);
}

// What a frame shows: where the box and the digit plate are, and the values
// the bands start from. Computed once per frame, used for every row.
struct Scene {
    uint32_t frameNumber = 0;
    int boxLeft = 0;
    int boxTop = 0;
    int boxSide = 0;
    int cell = 1;  // size of one glyph dot
    int plateLeft = 0;
    int plateTop = 0;
    int plateRight = 0;   // exclusive
    int plateBottom = 0;  // exclusive
    std::string digits;
    // Colour frames: the first channel's value in each column.
    std::vector<uint8_t> columnBand;
};

// A band value: kLow plus `value` modulo kSpan.
uint8_t Band(int64_t value) {
    return static_cast<uint8_t>(kLow + value % kSpan);
}

Scene MakeScene(const FrameGeometry& geometry, uint32_t frameNumber) {
    Scene scene;
    scene.frameNumber = frameNumber;
    const int width = geometry.width;
    const int height = geometry.height;
    scene.boxSide = std::max(1, std::min(width, height) / 5);
    // The box runs left and right across the middle, four pixels a frame.
    const int travel = width - scene.boxSide;
    if (travel > 0) {
        const int position = static_cast<int>((uint64_t{frameNumber} * 4) % (2 * static_cast<uint64_t>(travel)));
        scene.boxLeft = position <= travel ? position : 2 * travel - position;
    }
    scene.boxTop = (height - scene.boxSide) / 2;
    scene.cell = std::max(1, height / 48);
    scene.digits = std::to_string(frameNumber);
    scene.plateLeft = scene.cell;
    scene.plateTop = 2 * scene.cell;
    scene.plateRight =
        scene.plateLeft + static_cast<int>(scene.digits.size()) * (kGlyphWidth + 1) * scene.cell + scene.cell;
    scene.plateBottom = scene.plateTop + (kGlyphHeight + 2) * scene.cell;
    if (geometry.bytesPerPixel >= 3) {
        scene.columnBand.resize(static_cast<size_t>(width));
        for (int x = 0; x < width; ++x) {
            scene.columnBand[static_cast<size_t>(x)] = Band(int64_t{x} * kSpan / width + 2 * int64_t{frameNumber});
        }
    }
    return scene;
}

// Whether (x, y) inside the plate is a dot of a digit.
bool IsDigitDot(const Scene& scene, int x, int y) {
    const int gx = (x - scene.plateLeft - scene.cell) / scene.cell;
    const int gy = (y - scene.plateTop - scene.cell) / scene.cell;
    if (x - scene.plateLeft < scene.cell || y - scene.plateTop < scene.cell || gy >= kGlyphHeight) {
        return false;
    }
    const int digit = gx / (kGlyphWidth + 1);
    const int column = gx % (kGlyphWidth + 1);
    if (digit >= static_cast<int>(scene.digits.size()) || column == kGlyphWidth) {
        return false;
    }
    const uint16_t glyph = kGlyphs[scene.digits[static_cast<size_t>(digit)] - '0'];
    return ((glyph >> (14 - (gy * kGlyphWidth + column))) & 1) != 0;
}

// The diagonal band's offset in [0, kSpan) at the row's first pixel, moving
// by `speed` a frame.
int DiagonalStart(int y, uint32_t frameNumber, int speed) {
    return static_cast<int>((int64_t{y} + int64_t{speed} * frameNumber) % kSpan);
}

// The pattern's pixels of row `y`, before the stamp goes in: the bands, then
// the box and the plate over them. Runs once per row of every frame served
// and every frame checked, so the bands count up instead of dividing.
void PaintRow(const FrameGeometry& geometry, const Scene& scene, int y, uint8_t* out) {
    const int bpp = geometry.bytesPerPixel;
    const int width = geometry.width;
    if (bpp < 3) {
        int diagonal = DiagonalStart(y, scene.frameNumber, 2);
        for (int x = 0; x < width; ++x, out += bpp) {
            out[0] = static_cast<uint8_t>(kLow + diagonal);
            diagonal = diagonal + 1 == kSpan ? 0 : diagonal + 1;
            // The second byte of a two-byte pixel stays opaque.
            if (bpp == 2) {
                out[1] = kWhite;
            }
        }
    } else {
        const uint8_t rowBand = Band(int64_t{y} * kSpan / geometry.height + scene.frameNumber);
        int diagonal = DiagonalStart(y, scene.frameNumber, 3);
        for (int x = 0; x < width; ++x, out += bpp) {
            out[0] = scene.columnBand[static_cast<size_t>(x)];
            out[1] = rowBand;
            out[2] = static_cast<uint8_t>(kLow + diagonal);
            diagonal = diagonal + 1 == kSpan ? 0 : diagonal + 1;
            // Further channels (alpha) stay opaque.
            for (int c = 3; c < bpp; ++c) {
                out[c] = kWhite;
            }
        }
    }
    out -= int64_t{width} * bpp;
    if (y >= scene.boxTop && y < scene.boxTop + scene.boxSide) {
        const int right = std::min(width, scene.boxLeft + scene.boxSide);
        std::memset(out + int64_t{scene.boxLeft} * bpp, kWhite, static_cast<size_t>(right - scene.boxLeft) * bpp);
    }
    if (y >= scene.plateTop && y < scene.plateBottom) {
        for (int x = scene.plateLeft; x < std::min(width, scene.plateRight); ++x) {
            std::memset(out + int64_t{x} * bpp, IsDigitDot(scene, x, y) ? kBlack : kWhite, static_cast<size_t>(bpp));
        }
    }
}

// The tail's second word depends on every bit of the timestamp.
uint32_t TailCheck(int64_t timestampUs) {
    const auto bits = static_cast<uint64_t>(timestampUs);
    return static_cast<uint32_t>(bits) ^ static_cast<uint32_t>(bits >> 32) ^ kTailMarker;
}

void PutStamp(const FrameGeometry& geometry, const PatternStamp& stamp, uint8_t* pixels) {
    std::memcpy(pixels, kMagic, sizeof kMagic);
    PutLe32(pixels + 4, stamp.frameNumber);
    PutLe64(pixels + 8, static_cast<uint64_t>(stamp.timestampUs));
    uint8_t* tail = pixels + geometry.Bytes() - kPatternTailBytes;
    PutLe32(tail, stamp.frameNumber);
    PutLe32(tail + 4, TailCheck(stamp.timestampUs));
}

// Copies the bytes of [begin, end) of the frame that fall into the row
// starting at `rowStart` over the row's painted bytes.
void CopyOverlap(const uint8_t* pixels, int64_t begin, int64_t end, int64_t rowStart, int64_t rowBytes, uint8_t* row) {
    const int64_t from = std::max(begin, rowStart);
    const int64_t to = std::min(end, rowStart + rowBytes);
    if (from < to) {
        std::memcpy(row + (from - rowStart), pixels + from, static_cast<size_t>(to - from));
    }
}

}  // namespace

bool HoldsPattern(const FrameGeometry& geometry) {
    return geometry.width > 0 && geometry.height > 0 && geometry.bytesPerPixel > 0 &&
           geometry.Bytes() >= kPatternMinBytes;
}

void DrawPattern(const FrameGeometry& geometry, const PatternStamp& stamp, uint8_t* pixels) {
    const Scene scene = MakeScene(geometry, stamp.frameNumber);
    for (int y = 0; y < geometry.height; ++y) {
        PaintRow(geometry, scene, y, pixels + y * geometry.RowBytes());
    }
    PutStamp(geometry, stamp, pixels);
}

PatternReading ReadPattern(const FrameGeometry& geometry, const uint8_t* pixels) {
    PatternReading reading;
    if (!HoldsPattern(geometry) || std::memcmp(pixels, kMagic, sizeof kMagic) != 0) {
        return reading;
    }
    reading.stamp.frameNumber = GetLe32(pixels + 4);
    reading.stamp.timestampUs = static_cast<int64_t>(GetLe64(pixels + 8));
    reading.check = PatternCheck::Torn;

    const int64_t size = geometry.Bytes();
    const uint8_t* tail = pixels + size - kPatternTailBytes;
    if (GetLe32(tail) != reading.stamp.frameNumber || GetLe32(tail + 4) != TailCheck(reading.stamp.timestampUs)) {
        return reading;
    }
    // Every row is painted afresh and compared; the stamp's bytes, already
    // checked, are copied over the painted ones first.
    const Scene scene = MakeScene(geometry, reading.stamp.frameNumber);
    const int64_t rowBytes = geometry.RowBytes();
    std::vector<uint8_t> expected(static_cast<size_t>(rowBytes));
    for (int y = 0; y < geometry.height; ++y) {
        const int64_t rowStart = y * rowBytes;
        PaintRow(geometry, scene, y, expected.data());
        CopyOverlap(pixels, 0, kPatternHeadBytes, rowStart, rowBytes, expected.data());
        CopyOverlap(pixels, size - kPatternTailBytes, size, rowStart, rowBytes, expected.data());
        if (std::memcmp(expected.data(), pixels + rowStart, static_cast<size_t>(rowBytes)) != 0) {
            return reading;
        }
    }
    reading.check = PatternCheck::Intact;
    return reading;
}

}  // namespace tools
