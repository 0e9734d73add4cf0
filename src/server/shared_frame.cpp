#include "shared_frame.h"

#include <cstring>

#include "wire/messages.h"

namespace {

// A client holds the mutex for one copy only; one that keeps it longer is
// stuck, and must not stop the server.
constexpr DWORD kMutexWaitMs = 2000;

}  // namespace

bool SharedFrame::Create(const std::string& shareName, DWORD capacity) {
    platform::UniqueMapping mapping(
        CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, capacity, shareName.c_str()));
    if (!mapping) {
        return false;
    }
    // A segment of this name may outlive a server that crashed, for as long as
    // a client still has it open; a restarted server takes it over when it
    // is large enough.
    const bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
    platform::UniqueView view(MapViewOfFile(mapping.get(), FILE_MAP_ALL_ACCESS, 0, 0, 0));
    if (!view) {
        return false;
    }
    MEMORY_BASIC_INFORMATION region{};
    if (existed && (VirtualQuery(view.get(), &region, sizeof region) == 0 || region.RegionSize < capacity)) {
        view.reset();
        SetLastError(ERROR_ALREADY_EXISTS);
        return false;
    }
    platform::UniqueMutex mutex(CreateMutexA(nullptr, FALSE, MutexName(shareName).c_str()));
    if (!mutex) {
        return false;
    }
    mapping_ = std::move(mapping);
    view_ = std::move(view);
    mutex_ = std::move(mutex);
    capacity_ = capacity;
    return true;
}

platform::MutexHold SharedFrame::Lock() {
    return mutex_.Acquire(kMutexWaitMs);
}

bool SharedFrame::Write(const void* pixels, DWORD count) {
    return WriteWith(count, [pixels, count](uint8_t* segment) { std::memcpy(segment, pixels, count); });
}
