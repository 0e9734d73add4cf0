// One camera's last frame: a single block of rows, row 0 first, each row
// width x bytesPerPixel bytes with nothing between rows.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "platform/critical_section.h"

// width x height x bytesPerPixel of a frame. Three 32-bit factors can exceed
// even 64 bits: false then, and byteCount keeps the product's low 64 bits.
bool FrameByteCount(int32_t width, int32_t height, int32_t bytesPerPixel, int64_t& byteCount);

// The shape of a frame, or of the buffer's last allocation.
struct FrameGeometry {
    int32_t width = 0;
    int32_t height = 0;
    int32_t bytesPerPixel = 0;

    bool operator==(const FrameGeometry& other) const {
        return width == other.width && height == other.height && bytesPerPixel == other.bytesPerPixel;
    }
    bool operator!=(const FrameGeometry& other) const { return !(*this == other); }
};

// Written by the camera's link thread (frame copy, reallocation) and read by
// the host's threads (row copies). Every access to the bytes goes through
// the buffer's lock, held for one frame copy or one row copy and nothing
// else: no log line is written, and so no host procedure called, while it is
// held, so that a host's log procedure may hand over to a thread that reads
// rows.
class ImageBuffer {
public:
    ImageBuffer() = default;
    ImageBuffer(const ImageBuffer&) = delete;
    ImageBuffer& operator=(const ImageBuffer&) = delete;
    ~ImageBuffer() = default;

    // Sizes the block for a frame and takes its geometry; keeps the block
    // (and its bytes) when the byte count is unchanged. Throws
    // std::runtime_error for a byte count that is not positive or does not
    // fit 32 bits, and when memory runs out.
    void Allocate(int32_t width, int32_t height, int32_t bytesPerPixel);

    // The first byte of a row, or null (logged) for a missing buffer or a row
    // outside it.
    uint8_t* GetLine(int32_t row);

    // Copies `byteCount` bytes from the start of `row` into `dest`. False
    // (logged) when there is no such row, no destination, a negative count,
    // or a span reaching past the end of the buffer. A count of 0 copies
    // nothing and succeeds.
    bool CopyRow(int32_t row, void* dest, int64_t byteCount);

    // Copies a whole frame of `geometry` from `source` into the block. False,
    // with nothing copied, when the block was not allocated for exactly that
    // geometry; the caller logs.
    bool StoreFrame(const void* source, const FrameGeometry& geometry);

    int32_t Size();
    // The geometry of the last allocation.
    FrameGeometry Geometry();
    int32_t Width() { return Geometry().width; }
    int32_t Height() { return Geometry().height; }
    int32_t BytesPerPixel() { return Geometry().bytesPerPixel; }
    // The block, for tests and diagnostics; its bytes change with each frame.
    uint8_t* Data() { return data_.get(); }

    // The lock a frame copy holds; re-entrant.
    platform::CriticalSection& Lock() { return lock_; }

private:
    enum class RowStatus { Found, Unallocated, OutOfRange };
    // Caller holds the lock.
    RowStatus LocateRow(int32_t row, uint8_t*& line);
    static void LogRowProblem(RowStatus status, int32_t row);

    platform::CriticalSection lock_;
    // Set while a frame copy waits for or holds the lock: row reads then let
    // it go first, so that a host reading rows in a tight loop cannot keep
    // the link thread, and with it the server's mutex, waiting.
    std::atomic<bool> storing_{false};
    int32_t size_ = 0;
    FrameGeometry geometry_;
    std::unique_ptr<uint8_t[]> data_;
};
