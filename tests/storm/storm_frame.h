// The frames of the storm's camera servers, made so that a host can tell from
// the rows it read back whether they form one whole frame as the server
// wrote it under its mutex.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/host_frame.h"

namespace storm {

using Geometry = testsupport::FrameShape;

// Every row starts with a stamp of four 32-bit words: the frame's id, the
// row's index, the frame's row bytes and its height; the rest of the row is
// derived from the id and the index. Rows hold at least the stamp.
constexpr int kStampBytes = 16;

// The id that row 0 carries while the server writes the other rows: a frame
// whose writer was killed in the middle shows it.
constexpr uint32_t kUnfinished = 0xFFFFFFFFu;

// Writes frame `id` of `geometry` to `destination`: row 0's id first says the
// frame is unfinished, then the other rows follow and row 0 comes last.
void WriteFrame(uint8_t* destination, const Geometry& geometry, uint32_t id);

enum class Verdict {
    Whole,          // every row belongs to one frame of the geometry read with
    Unfinished,     // the server was killed while it wrote the frame
    OtherGeometry,  // the segment held a frame of another size than announced
    Torn            // rows that no frame of the server holds
};

struct FrameCheck {
    Verdict verdict = Verdict::Torn;
    uint32_t id = 0;
    std::string detail;  // for a torn frame: which row and why
};

// Judges the rows of `frame`, read back with `rowBytes` per row.
FrameCheck CheckFrame(const std::vector<uint8_t>& frame, int rowBytes, int height);

}  // namespace storm
