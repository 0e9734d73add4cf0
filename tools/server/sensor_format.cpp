#include "sensor_format.h"

#include <cstring>

namespace tools {
namespace {

struct FormatName {
    const char* name;
    SensorFormat format;
};

constexpr FormatName kNames[] = {
    {"Mono8", SensorFormat::Mono8},     {"Mono10", SensorFormat::Mono10},   {"Mono12", SensorFormat::Mono12},
    {"Mono16", SensorFormat::Mono16},   {"RGB8", SensorFormat::RGB8},       {"BGR8", SensorFormat::BGR8},
    {"RGB8Packed", SensorFormat::RGB8}, {"BGR8Packed", SensorFormat::BGR8},
};
// The first six names are the formats' own; the rest are older spellings.
constexpr size_t kOwnNames = 6;

// Bits below the eight most significant ones of a Mono word.
int DroppedBits(SensorFormat format) {
    switch (format) {
    case SensorFormat::Mono10:
        return 2;
    case SensorFormat::Mono12:
        return 4;
    default:
        return 8;
    }
}

int SensorBytesPerPixel(SensorFormat format) {
    switch (format) {
    case SensorFormat::Mono8:
        return 1;
    case SensorFormat::RGB8:
    case SensorFormat::BGR8:
        return 3;
    default:
        return 2;
    }
}

}  // namespace

std::optional<SensorFormat> SensorFormatFromName(const std::string& name) {
    for (const FormatName& entry : kNames) {
        if (name == entry.name) {
            return entry.format;
        }
    }
    return std::nullopt;
}

std::string PublishedFormatNames() {
    std::string names;
    for (size_t i = 0; i < kOwnNames; ++i) {
        names += (i == 0 ? "" : ", ") + std::string(kNames[i].name);
    }
    return names;
}

int PublishedBytesPerPixel(SensorFormat format) {
    return format == SensorFormat::RGB8 || format == SensorFormat::BGR8 ? 3 : 1;
}

bool ConvertSensorFrame(SensorFormat format, int width, int height, const uint8_t* data, size_t size, Image& frame,
                        std::string& error) {
    const int64_t pixels = int64_t{width} * height;
    const int64_t needed = pixels * SensorBytesPerPixel(format);
    if (width <= 0 || height <= 0 || static_cast<int64_t>(size) < needed) {
        error = "a frame of " + std::to_string(width) + "x" + std::to_string(height) + " came with " +
                std::to_string(size) + " bytes, " + std::to_string(needed) + " needed";
        return false;
    }
    frame.geometry = FrameGeometry{width, height, PublishedBytesPerPixel(format)};
    frame.pixels.resize(static_cast<size_t>(frame.geometry.Bytes()));
    uint8_t* out = frame.pixels.data();
    switch (format) {
    case SensorFormat::Mono8:
    case SensorFormat::RGB8:
        std::memcpy(out, data, static_cast<size_t>(needed));
        break;
    case SensorFormat::BGR8:
        for (int64_t i = 0; i < pixels; ++i, out += 3, data += 3) {
            out[0] = data[2];
            out[1] = data[1];
            out[2] = data[0];
        }
        break;
    case SensorFormat::Mono10:
    case SensorFormat::Mono12:
    case SensorFormat::Mono16: {
        // A word with bits above the format's range (a camera that fills
        // them) saturates instead of wrapping round.
        const int shift = DroppedBits(format);
        for (int64_t i = 0; i < pixels; ++i, data += 2) {
            const unsigned word = (unsigned{data[1]} << 8 | data[0]) >> shift;
            out[i] = static_cast<uint8_t>(word > 255 ? 255 : word);
        }
        break;
    }
    }
    return true;
}

}  // namespace tools
