#include "link/shared_memory.h"

#include <cstring>

#include "support/driver_state.h"
#include "support/log.h"
#include "support/win32_exception.h"
#include "wire/messages.h"

namespace {

// The number of bytes that can be read from the start of a mapped view: the
// region that begins there, rounded up to whole pages by the system.
bool QueryViewSize(const void* view, SIZE_T& size) {
    MEMORY_BASIC_INFORMATION info{};
    if (VirtualQuery(view, &info, sizeof info) == 0) {
        return false;
    }
    size = info.RegionSize;
    return true;
}

}  // namespace

CSharedMemory::~CSharedMemory() {
    Close();
}

bool CSharedMemory::Open(const std::string& segmentName) {
    Close();
    if (segmentName.empty()) {
        LogMessage(1, GetDriverState(), "CSharedMemory::CSharedMemory: ERROR: name is empty\n");
        return false;
    }
    const std::string mutexName = MutexName(segmentName);
    platform::UniqueMutex newMutex(CreateMutexA(nullptr, FALSE, mutexName.c_str()));
    if (!newMutex) {
        LogMessage(1, GetDriverState(), "CSharedMemory::CSharedMemory: ERROR: Could not allocate mutex object %s\n",
                   mutexName.c_str());
        return false;
    }
    platform::UniqueMapping newMapping(OpenFileMappingA(FILE_MAP_ALL_ACCESS, TRUE, segmentName.c_str()));
    if (!newMapping) {
        const DWORD error = GetLastError();
        if (error == ERROR_INVALID_HANDLE) {
            LogMessage(1, GetDriverState(),
                       "CSharedMemory::CSharedMemory: ERROR: Shared memory segment already in use\n");
        } else {
            LogMessage(1, GetDriverState(),
                       "CSharedMemory::CSharedMemory: ERROR: Unable to access shared memory segment, err=%d\n",
                       static_cast<int>(error));
        }
        return false;
    }
    platform::UniqueView newView(MapViewOfFile(newMapping.get(), FILE_MAP_ALL_ACCESS, 0, 0, 0));
    SIZE_T newViewSize = 0;
    if (!newView || !QueryViewSize(newView.get(), newViewSize)) {
        const DWORD error = GetLastError();
        LogMessage(1, GetDriverState(),
                   "CSharedMemory::CSharedMemory: ERROR: Unable to map shared memory segment, err=%d\n",
                   static_cast<int>(error));
        return false;
    }
    mapping = std::move(newMapping);
    view = std::move(newView);
    mutex = std::move(newMutex);
    viewSize = newViewSize;
    name = segmentName;
    attached = true;
    return true;
}

CSharedMemory::ReadStatus CSharedMemory::Read(void* destination, int32_t count, HANDLE stopEvent) {
    if (count == 0) {
        return ReadStatus::Copied;
    }
    platform::MutexHold hold;
    const ReadStatus status = Acquire(count, stopEvent, hold);
    if (status != ReadStatus::Held) {
        return status;
    }
    std::memcpy(destination, view.get(), static_cast<size_t>(count));
    return ReadStatus::Copied;
}

CSharedMemory::ReadStatus CSharedMemory::Acquire(int32_t count, HANDLE stopEvent, platform::MutexHold& hold) {
    if (count < 0 || static_cast<SIZE_T>(count) > viewSize) {
        LogMessage(1, GetDriverState(),
                   "CSharedMemory::CSharedMemory: ERROR: segment of %lu bytes is shorter than the frame of %d bytes\n",
                   static_cast<unsigned long>(viewSize), static_cast<int>(count));
        return ReadStatus::SegmentTooShort;
    }
    hold = mutex.Acquire(INFINITE, stopEvent);
    switch (hold.GetOutcome()) {
    case platform::MutexHold::Outcome::Acquired:
    case platform::MutexHold::Outcome::Abandoned:
        // An abandoned mutex is taken like a released one: the server that
        // held it is gone, and the frame is whatever it left behind.
        return ReadStatus::Held;
    case platform::MutexHold::Outcome::Stopped:
        return ReadStatus::Stopped;
    default:
        throw Win32Exception();
    }
}

bool CSharedMemory::ReadStamp(int64_t frameBytes, FrameStamp& stamp) const {
    if (!attached || frameBytes < 0 || static_cast<uint64_t>(frameBytes) + sizeof stamp > viewSize) {
        return false;
    }
    std::memcpy(&stamp, static_cast<const uint8_t*>(view.get()) + frameBytes, sizeof stamp);
    return true;
}

void CSharedMemory::Close() {
    if (!attached) {
        return;
    }
    // Every ownership of the mutex ends with its hold, which Read and
    // Acquire's caller keep within one frame, so there is no ownership to
    // release here, only the handle.
    mutex.reset();
    view.reset();
    mapping.reset();
    viewSize = 0;
    name.clear();
    attached = false;
}
