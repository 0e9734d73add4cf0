#include "shared_frame.h"

#include <cstring>

#include "wire/messages.h"

namespace {

// A client holds the mutex for one copy only; one that keeps it longer is
// stuck, and must not stop the server.
constexpr DWORD kMutexWaitMs = 2000;

}  // namespace

bool SharedFrame::Create(const std::string& shareName, DWORD capacity, LPSECURITY_ATTRIBUTES attributes,
                         std::string& refusedName) {
    refusedName = shareName;
    const DWORD withStamp =
        capacity > UINT32_MAX - sizeof(FrameStamp) ? capacity : static_cast<DWORD>(capacity + sizeof(FrameStamp));
    platform::UniqueMapping mapping(
        CreateFileMappingA(INVALID_HANDLE_VALUE, attributes, PAGE_READWRITE, 0, withStamp, shareName.c_str()));
    if (!mapping) {
        return false;
    }
    // A segment of this name may outlive a server that crashed, for as long as
    // a client still has it open; a restarted server takes it over when it
    // is large enough, the stamp's room included.
    const bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
    segmentExisted_ = existed;
    platform::UniqueView view(MapViewOfFile(mapping.get(), FILE_MAP_ALL_ACCESS, 0, 0, 0));
    if (!view) {
        return false;
    }
    MEMORY_BASIC_INFORMATION region{};
    if (existed && (VirtualQuery(view.get(), &region, sizeof region) == 0 || region.RegionSize < withStamp)) {
        view.reset();
        SetLastError(ERROR_ALREADY_EXISTS);
        return false;
    }
    refusedName = MutexName(shareName);
    platform::UniqueMutex mutex(CreateMutexA(attributes, FALSE, refusedName.c_str()));
    if (!mutex) {
        return false;
    }
    refusedName.clear();
    mapping_ = std::move(mapping);
    view_ = std::move(view);
    mutex_ = std::move(mutex);
    capacity_ = capacity;
    size_ = withStamp;
    return true;
}

bool SharedFrame::ApplySecurity(const platform::ObjectSecurity& security) const {
    return security.ApplyTo(mapping_.get()) && security.ApplyTo(mutex_.get());
}

platform::MutexHold SharedFrame::Lock() {
    return mutex_.Acquire(kMutexWaitMs);
}

bool SharedFrame::Write(const void* pixels, DWORD count, const FrameStamp& stamp, DWORD stampOffset) {
    return WriteWith(count, stamp, stampOffset,
                     [pixels, count](uint8_t* segment) { std::memcpy(segment, pixels, count); });
}

void SharedFrame::PutStamp(uint8_t* segment, const FrameStamp& stamp, DWORD offset) const {
    if (offset <= size_ && size_ - offset >= sizeof stamp) {
        std::memcpy(segment + offset, &stamp, sizeof stamp);
    }
}
