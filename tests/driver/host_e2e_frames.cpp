// The test frames and texts of the end-to-end tests: patterned frames whose
// rows tell which frame they come from, and the log lines the tests expect.
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "host_e2e.h"

namespace e2e {
namespace {

uint8_t PatternByte(uint32_t seed, int row, size_t offset) {
    const uint32_t mixed =
        seed * 2654435761u ^ static_cast<uint32_t>(row) * 40503u ^ static_cast<uint32_t>(offset) * 97u;
    return static_cast<uint8_t>(mixed ^ mixed >> 8 ^ mixed >> 16);
}

void PutLittleEndian(uint8_t* at, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        at[i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

uint32_t GetLittleEndian(const uint8_t* at) {
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i) {
        value = value << 8 | at[i];
    }
    return value;
}

}  // namespace

std::string Format(const char* format, ...) {
    char text[1024];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    return text;
}

std::string ShareName() {
    return hosttest::UniqueName("qv-e2e-");
}

std::string ConnectionLine(const char* camera, int port, bool connected, const std::string& shareName) {
    return Format("Camera '%s' on port %d %s share '%s'\n", camera, port,
                  connected ? "connected to" : "disconnected from", shareName.c_str());
}

// ---- Frames ----

std::vector<uint8_t> MakeFrame(const FrameFormat& format, uint32_t seed) {
    const size_t rowBytes = static_cast<size_t>(format.RowBytes());
    std::vector<uint8_t> frame(rowBytes * static_cast<size_t>(format.height));
    if (rowBytes < kRowStampBytes) {
        ADD_FAILURE() << "rows of " << rowBytes << " bytes cannot hold their stamp";
        return frame;
    }
    for (int row = 0; row < format.height; ++row) {
        uint8_t* line = frame.data() + rowBytes * static_cast<size_t>(row);
        PutLittleEndian(line, seed);
        PutLittleEndian(line + 4, static_cast<uint32_t>(row));
        for (size_t offset = kRowStampBytes; offset < rowBytes; ++offset) {
            line[offset] = PatternByte(seed, row, offset);
        }
    }
    return frame;
}

testing::AssertionResult CheckRow(const uint8_t* bytes, size_t count, int row, uint32_t& seed) {
    if (count < kRowStampBytes) {
        return testing::AssertionFailure() << "a row of " << count << " bytes has no stamp";
    }
    seed = GetLittleEndian(bytes);
    const uint32_t stampedRow = GetLittleEndian(bytes + 4);
    if (stampedRow != static_cast<uint32_t>(row)) {
        return testing::AssertionFailure()
               << "row " << row << " holds the bytes of row " << stampedRow << " (seed " << seed << ")";
    }
    for (size_t offset = kRowStampBytes; offset < count; ++offset) {
        if (bytes[offset] != PatternByte(seed, row, offset)) {
            return testing::AssertionFailure() << "row " << row << " of frame " << seed << " differs at byte " << offset
                                               << ": mixed from two frames or overwritten";
        }
    }
    return testing::AssertionSuccess();
}

}  // namespace e2e
