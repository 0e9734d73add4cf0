#include "storm_frame.h"

#include <cstring>

namespace storm {
namespace {

uint8_t Filler(uint32_t id, uint32_t row, uint32_t column) {
    return static_cast<uint8_t>(id * 131u + row * 31u + column * 7u + (column >> 8));
}

uint32_t Word(const uint8_t* bytes, int index) {
    uint32_t value = 0;
    std::memcpy(&value, bytes + 4 * index, sizeof value);
    return value;
}

void PutWord(uint8_t* bytes, int index, uint32_t value) {
    std::memcpy(bytes + 4 * index, &value, sizeof value);
}

void WriteRow(uint8_t* row, const Geometry& geometry, uint32_t id, uint32_t index) {
    PutWord(row, 0, id);
    PutWord(row, 1, index);
    PutWord(row, 2, static_cast<uint32_t>(geometry.RowBytes()));
    PutWord(row, 3, static_cast<uint32_t>(geometry.height));
    for (int column = kStampBytes; column < geometry.RowBytes(); ++column) {
        row[column] = Filler(id, index, static_cast<uint32_t>(column));
    }
}

}  // namespace

void WriteFrame(uint8_t* destination, const Geometry& geometry, uint32_t id) {
    const int rowBytes = geometry.RowBytes();
    PutWord(destination, 0, kUnfinished);
    for (int row = 1; row < geometry.height; ++row) {
        WriteRow(destination + static_cast<size_t>(row) * rowBytes, geometry, id, static_cast<uint32_t>(row));
    }
    WriteRow(destination, geometry, id, 0);
}

FrameCheck CheckFrame(const std::vector<uint8_t>& frame, int rowBytes, int height) {
    FrameCheck check;
    if (rowBytes < kStampBytes || height < 1 || frame.size() < static_cast<size_t>(rowBytes) * height) {
        check.verdict = Verdict::OtherGeometry;
        return check;
    }
    check.id = Word(frame.data(), 0);
    if (check.id == kUnfinished) {
        check.verdict = Verdict::Unfinished;
        return check;
    }
    if (Word(frame.data(), 2) != static_cast<uint32_t>(rowBytes) ||
        Word(frame.data(), 3) != static_cast<uint32_t>(height)) {
        check.verdict = Verdict::OtherGeometry;
        return check;
    }
    for (int row = 0; row < height; ++row) {
        const uint8_t* bytes = frame.data() + static_cast<size_t>(row) * rowBytes;
        if (Word(bytes, 0) != check.id || Word(bytes, 1) != static_cast<uint32_t>(row) ||
            Word(bytes, 2) != static_cast<uint32_t>(rowBytes) || Word(bytes, 3) != static_cast<uint32_t>(height)) {
            check.detail = "row " + std::to_string(row) + " of frame " + std::to_string(check.id) +
                           " has the stamp of frame " + std::to_string(Word(bytes, 0)) + " row " +
                           std::to_string(Word(bytes, 1));
            return check;
        }
        for (int column = kStampBytes; column < rowBytes; ++column) {
            if (bytes[column] != Filler(check.id, static_cast<uint32_t>(row), static_cast<uint32_t>(column))) {
                check.detail = "row " + std::to_string(row) + " of frame " + std::to_string(check.id) +
                               " differs at byte " + std::to_string(column);
                return check;
            }
        }
    }
    check.verdict = Verdict::Whole;
    return check;
}

}  // namespace storm
