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
// the host's threads (row copies). Other threads reach the bytes through the
// buffer's lock, held for one frame copy or one row copy and nothing else: no
// log line is written, and so no host procedure called, while it is held, so
// that a host's log procedure may hand over to a thread that reads rows.
// The thread that stores the frames is the block's one writer: its own row
// reads (a host reading inside its complete callback) need no lock, since
// nothing else can change the block under them. Frames are stored, and the
// block reallocated, on one thread at a time, and a thread that stores after
// another starts once the other has stopped reading (the camera joins its
// old link thread before it starts a new one).
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
    // nothing and succeeds. Waits (blocked, not spinning) for a frame copy in
    // progress on another thread.
    bool CopyRow(int32_t row, void* dest, int64_t byteCount);

    // Copies a whole frame of `geometry` from `source` into the block. False,
    // with nothing copied, when the block was not allocated for exactly that
    // geometry; the caller logs. The calling thread becomes the block's
    // writer (see the class comment) until a reallocation.
    bool StoreFrame(const void* source, const FrameGeometry& geometry);

    // Whether the calling thread stored the last frame and nothing was
    // reallocated since: its row reads then take no lock.
    bool WrittenOnThisThread() const;
    // CopyRow for the thread that stores the frames (the camera's link
    // thread), known to be that thread by its caller: no lock, since no
    // other thread writes the block.
    bool CopyRowAsWriter(int32_t row, void* dest, int64_t byteCount);

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
    enum class RowStatus { Found, Unallocated, OutOfRange, Refused };
    // Caller holds the lock, or is the writer.
    RowStatus LocateRow(int32_t row, uint8_t*& line);
    RowStatus CopyLocated(int32_t row, void* dest, int64_t byteCount, int64_t& remaining);
    // Logs what CopyLocated found wrong; false.
    static bool RefuseRow(RowStatus status, int32_t row, void* dest, int64_t byteCount, int64_t remaining);
    static void LogRowProblem(RowStatus status, int32_t row);

    platform::CriticalSection lock_;
    // Held by a frame copy from before it asks for the lock until it is done,
    // and set meanwhile in storing_: row reads that see the flag queue behind
    // the copy here, asleep, so that a host reading rows in a tight loop
    // cannot keep the link thread, and with it the server's mutex, waiting.
    platform::CriticalSection turnstile_;
    std::atomic<bool> storing_{false};
    // The writer's number (see WrittenOnThisThread); 0 after a reallocation.
    std::atomic<uint64_t> writer_{0};
    int32_t size_ = 0;
    FrameGeometry geometry_;
    // The block starts a page, as the shared segment it is copied from does:
    // a copy between addresses a few bytes past a multiple of 4096 apart
    // (where a plain new[] of a large block lands) runs at a third of its
    // speed, its loads taken for dependent on the stores just before them.
    struct PageDelete {
        void operator()(uint8_t* block) const;
    };
    std::unique_ptr<uint8_t[], PageDelete> data_;
};
