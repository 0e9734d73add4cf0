#include "camera/image_buffer.h"

#include <cstring>
#include <new>
#include <stdexcept>

#include "platform/win32.h"
#include "support/driver_state.h"
#include "support/log.h"

namespace {

// The calling thread's number, given at its first call and never given to
// another thread, even after it has ended (unlike its id, or the address of
// its own variables).
uint64_t ThisThread() {
    static std::atomic<uint64_t> lastNumber{0};
    static thread_local const uint64_t number = ++lastNumber;
    return number;
}

// The byte count as the 32-bit value the log shows; the product itself is
// computed in 64 bits so that no size can overflow unnoticed.
int32_t AsLogged(int64_t value) {
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(value)));
}

constexpr size_t kBlockAlignment = 4096;

}  // namespace

void ImageBuffer::PageDelete::operator()(uint8_t* block) const {
    ::operator delete[](block, std::align_val_t{kBlockAlignment});
}

bool FrameByteCount(int32_t width, int32_t height, int32_t bytesPerPixel, int64_t& byteCount) {
    return !__builtin_mul_overflow(int64_t{bytesPerPixel} * width, int64_t{height}, &byteCount);
}

void ImageBuffer::Allocate(int32_t width, int32_t height, int32_t bytesPerPixel) {
    int64_t n = 0;
    const bool overflowed = !FrameByteCount(width, height, bytesPerPixel, n);
    if (overflowed || n <= 0 || n > INT32_MAX) {
        LogMessage(1, GetDriverState(), "ImageBuffer::Allocate: ERROR: incorrect size %d\n", AsLogged(n));
        throw std::runtime_error("ImageBuffer::Allocate: ERROR: incorrect size");
    }
    bool allocated = true;
    {
        platform::CriticalSectionLock hold(lock_);
        writer_ = 0;
        if (n != size_) {
            data_.reset();
            data_.reset(static_cast<uint8_t*>(
                ::operator new[](static_cast<size_t>(n), std::align_val_t{kBlockAlignment}, std::nothrow)));
            size_ = static_cast<int32_t>(n);
        }
        if (data_) {
            geometry_ = FrameGeometry{width, height, bytesPerPixel};
        } else {
            size_ = 0;
            allocated = false;
        }
    }
    if (!allocated) {
        LogMessage(1, GetDriverState(), "ImageBuffer::Allocate: ERROR: could not allocate buffer of required size %d\n",
                   AsLogged(n));
        throw std::runtime_error("ImageBuffer::Allocate: ERROR: could not allocate buffer of required size");
    }
}

ImageBuffer::RowStatus ImageBuffer::LocateRow(int32_t row, uint8_t*& line) {
    if (!data_) {
        return RowStatus::Unallocated;
    }
    if (row < 0 || row >= geometry_.height) {
        return RowStatus::OutOfRange;
    }
    // Within the block, since row < height and size = width x height x bpp.
    line = data_.get() + int64_t{geometry_.bytesPerPixel} * geometry_.width * row;
    return RowStatus::Found;
}

void ImageBuffer::LogRowProblem(RowStatus status, int32_t row) {
    if (status == RowStatus::Unallocated) {
        LogMessage(1, GetDriverState(),
                   "ImageBuffer::GetLine: ERROR: cannot proceed since it finds unallocated buffer\n");
    } else if (status == RowStatus::OutOfRange) {
        LogMessage(1, GetDriverState(), "ImageBuffer::GetLine: ERROR: line index out of range: %d", row);
    }
}

uint8_t* ImageBuffer::GetLine(int32_t row) {
    uint8_t* line = nullptr;
    RowStatus status = RowStatus::Found;
    {
        platform::CriticalSectionLock hold(lock_);
        status = LocateRow(row, line);
    }
    LogRowProblem(status, row);
    return line;
}

ImageBuffer::RowStatus ImageBuffer::CopyLocated(int32_t row, void* dest, int64_t byteCount, int64_t& remaining) {
    uint8_t* line = nullptr;
    const RowStatus status = LocateRow(row, line);
    if (status != RowStatus::Found) {
        return status;
    }
    remaining = size_ - (line - data_.get());
    if (dest == nullptr || byteCount < 0 || byteCount > remaining) {
        return RowStatus::Refused;
    }
    if (byteCount > 0) {
        std::memcpy(dest, line, static_cast<size_t>(byteCount));
    }
    return RowStatus::Found;
}

bool ImageBuffer::CopyRow(int32_t row, void* dest, int64_t byteCount) {
    if (WrittenOnThisThread()) {
        return CopyRowAsWriter(row, dest, byteCount);
    }
    int64_t remaining = 0;
    RowStatus status = RowStatus::Found;
    {
        if (storing_) {
            platform::CriticalSectionLock queue(turnstile_);
        }
        platform::CriticalSectionLock hold(lock_);
        status = CopyLocated(row, dest, byteCount, remaining);
    }
    // Logged once the lock is released: the host's log procedure may wait
    // for a thread that reads rows.
    return status == RowStatus::Found || RefuseRow(status, row, dest, byteCount, remaining);
}

bool ImageBuffer::CopyRowAsWriter(int32_t row, void* dest, int64_t byteCount) {
    int64_t remaining = 0;
    const RowStatus status = CopyLocated(row, dest, byteCount, remaining);
    return status == RowStatus::Found || RefuseRow(status, row, dest, byteCount, remaining);
}

bool ImageBuffer::RefuseRow(RowStatus status, int32_t row, void* dest, int64_t byteCount, int64_t remaining) {
    if (status != RowStatus::Refused) {
        LogRowProblem(status, row);
        return false;
    }
    LogMessage(1, GetDriverState(),
               "ImageBuffer::CopyRow: ERROR: refused to copy %lld bytes from row %d (%lld bytes left, dest=%p)\n",
               static_cast<long long>(byteCount), row, static_cast<long long>(remaining), dest);
    return false;
}

bool ImageBuffer::StoreFrame(const void* source, const FrameGeometry& geometry) {
    platform::CriticalSectionLock queue(turnstile_);
    storing_ = true;
    bool stored = false;
    {
        platform::CriticalSectionLock hold(lock_);
        if (data_ && geometry == geometry_) {
            writer_ = ThisThread();
            std::memcpy(data_.get(), source, static_cast<size_t>(size_));
            stored = true;
        }
    }
    storing_ = false;
    return stored;
}

bool ImageBuffer::WrittenOnThisThread() const {
    return writer_.load(std::memory_order_relaxed) == ThisThread();
}

int32_t ImageBuffer::Size() {
    platform::CriticalSectionLock hold(lock_);
    return size_;
}

FrameGeometry ImageBuffer::Geometry() {
    platform::CriticalSectionLock hold(lock_);
    return geometry_;
}
