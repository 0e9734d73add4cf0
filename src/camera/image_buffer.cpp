#include "camera/image_buffer.h"

#include <cstring>
#include <new>
#include <stdexcept>

#include "support/driver_state.h"
#include "support/log.h"

namespace {

// The byte count as the 32-bit value the log shows; the product itself is
// computed in 64 bits so that no size can overflow unnoticed.
int32_t AsLogged(int64_t value) {
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(value)));
}

}  // namespace

bool FrameByteCount(int32_t width, int32_t height, int32_t bytesPerPixel, int64_t& byteCount) {
    return !__builtin_mul_overflow(int64_t{bytesPerPixel} * width, int64_t{height}, &byteCount);
}

void ImageBuffer::Allocate(int32_t width, int32_t height, int32_t bytesPerPixel) {
    platform::CriticalSectionLock hold(lock_);
    int64_t n = 0;
    const bool overflowed = !FrameByteCount(width, height, bytesPerPixel, n);
    if (overflowed || n <= 0 || n > INT32_MAX) {
        LogMessage(1, GetDriverState(), "ImageBuffer::Allocate: ERROR: incorrect size %d\n", AsLogged(n));
        throw std::runtime_error("ImageBuffer::Allocate: ERROR: incorrect size");
    }
    if (n != size_) {
        data_.reset();
        data_.reset(new (std::nothrow) uint8_t[static_cast<size_t>(n)]);
        size_ = static_cast<int32_t>(n);
    }
    if (!data_) {
        size_ = 0;
        LogMessage(1, GetDriverState(), "ImageBuffer::Allocate: ERROR: could not allocate buffer of required size %d\n",
                   AsLogged(n));
        throw std::runtime_error("ImageBuffer::Allocate: ERROR: could not allocate buffer of required size");
    }
    width_ = width;
    height_ = height;
    bytesPerPixel_ = bytesPerPixel;
}

uint8_t* ImageBuffer::GetLine(int32_t row) {
    platform::CriticalSectionLock hold(lock_);
    if (!data_) {
        LogMessage(1, GetDriverState(), "ImageBuffer::GetLine: ERROR: cannot proceed since it finds unallocated buffer\n");
        return nullptr;
    }
    if (row < 0 || row >= height_) {
        LogMessage(1, GetDriverState(), "ImageBuffer::GetLine: ERROR: line index out of range: %d", row);
        return nullptr;
    }
    // Within the block, since row < height and size = width x height x bpp.
    return data_.get() + int64_t{bytesPerPixel_} * width_ * row;
}

bool ImageBuffer::CopyRow(int32_t row, void* dest, int64_t byteCount) {
    platform::CriticalSectionLock hold(lock_);
    const uint8_t* line = GetLine(row);
    if (line == nullptr) {
        return false;
    }
    const int64_t remaining = size_ - (line - data_.get());
    if (dest == nullptr || byteCount <= 0 || byteCount > remaining) {
        LogMessage(1, GetDriverState(),
                   "ImageBuffer::CopyRow: ERROR: refused to copy %lld bytes from row %d (%lld bytes left, dest=%p)\n",
                   static_cast<long long>(byteCount), row, static_cast<long long>(remaining), dest);
        return false;
    }
    std::memcpy(dest, line, static_cast<size_t>(byteCount));
    return true;
}

int32_t ImageBuffer::Locked(const int32_t& field) {
    platform::CriticalSectionLock hold(lock_);
    return field;
}

int32_t ImageBuffer::Size() {
    return Locked(size_);
}

int32_t ImageBuffer::Width() {
    return Locked(width_);
}

int32_t ImageBuffer::Height() {
    return Locked(height_);
}

int32_t ImageBuffer::BytesPerPixel() {
    return Locked(bytesPerPixel_);
}
