// One camera's last frame: a single block of rows, row 0 first, each row
// width x bytesPerPixel bytes with nothing between rows.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/critical_section.h"

// width x height x bytesPerPixel of a frame. Three 32-bit factors can exceed
// even 64 bits: false then, and byteCount keeps the product's low 64 bits.
bool FrameByteCount(int32_t width, int32_t height, int32_t bytesPerPixel, int64_t& byteCount);

// Written by the camera's link thread (frame copy, reallocation) and read by
// the host's threads (row copies). Every access to the bytes goes through
// the buffer's lock, held for one frame copy or one row copy, so a row read
// never meets freed or half-written memory.
class ImageBuffer {
public:
    ImageBuffer() = default;
    ImageBuffer(const ImageBuffer&) = delete;
    ImageBuffer& operator=(const ImageBuffer&) = delete;
    ~ImageBuffer() = default;

    // Sizes the block for a frame; keeps the block (and its bytes) when the
    // byte count is unchanged. Throws std::runtime_error for a byte count that
    // is not positive or does not fit 32 bits, and when memory runs out.
    void Allocate(int32_t width, int32_t height, int32_t bytesPerPixel);

    // The first byte of a row, or null (logged) for a missing buffer or a row
    // outside it. Callers hold the lock while they use the row.
    uint8_t* GetLine(int32_t row);

    // Copies `byteCount` bytes from the start of `row` into `dest`, under the
    // lock. False (logged) when there is no such row, no destination, or the
    // span would reach past the end of the buffer.
    bool CopyRow(int32_t row, void* dest, int64_t byteCount);

    // The block and its byte count; callers hold Lock() while they use the
    // block (the link thread's frame copy).
    uint8_t* Data() { return data_.get(); }
    int32_t Size();

    // Re-entrant, so the holder may call the operations above.
    platform::CriticalSection& Lock() { return lock_; }

    // The geometry of the last allocation, for tests and diagnostics.
    int32_t Width();
    int32_t Height();
    int32_t BytesPerPixel();

private:
    // One field, read under the lock.
    int32_t Locked(const int32_t& field);

    platform::CriticalSection lock_;
    int32_t size_ = 0;
    int32_t width_ = 0;
    int32_t height_ = 0;
    int32_t bytesPerPixel_ = 0;
    std::unique_ptr<uint8_t[]> data_;
};
