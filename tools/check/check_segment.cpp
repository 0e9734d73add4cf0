#include "check_segment.h"

#include <chrono>
#include <cstring>

#include "platform/system_error.h"

namespace check {

bool CheckSegment::Open(const std::string& share, std::string& why) {
    platform::UniqueMapping mapping(OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, share.c_str()));
    if (!mapping) {
        why = "cannot open the segment \"" + share + "\" " + platform::SystemErrorNote(GetLastError());
        return false;
    }
    platform::UniqueView view(MapViewOfFile(mapping.get(), FILE_MAP_ALL_ACCESS, 0, 0, 0));
    MEMORY_BASIC_INFORMATION region{};
    if (!view || VirtualQuery(view.get(), &region, sizeof region) == 0) {
        why = "cannot map the segment \"" + share + "\" " + platform::SystemErrorNote(GetLastError());
        return false;
    }
    mapping_ = std::move(mapping);
    view_ = std::move(view);
    size_ = region.RegionSize;
    return true;
}

bool CheckSegment::OpenMutex(const std::string& share, std::string& why) {
    const std::string name = MutexName(share);
    platform::UniqueMutex mutex(CreateMutexA(nullptr, FALSE, name.c_str()));
    if (!mutex) {
        why = "cannot open the mutex \"" + name + "\" " + platform::SystemErrorNote(GetLastError());
        return false;
    }
    if (GetLastError() != ERROR_ALREADY_EXISTS) {
        why = "the server has no mutex \"" + name + "\"";
        return false;
    }
    mutex_ = std::move(mutex);
    return true;
}

platform::MutexHold CheckSegment::Acquire(DWORD timeoutMs, int64_t& waitedUs) const {
    const auto start = std::chrono::steady_clock::now();
    platform::MutexHold hold = mutex_.Acquire(timeoutMs);
    waitedUs = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start).count();
    return hold;
}

void CheckSegment::Copy(size_t count, std::vector<uint8_t>& bytes) const {
    const auto* start = static_cast<const uint8_t*>(view_.get());
    bytes.assign(start, start + count);
}

bool CheckSegment::ReadStamp(size_t frameBytes, FrameStamp& stamp) const {
    if (frameBytes > size_ || size_ - frameBytes < sizeof stamp) {
        return false;
    }
    std::memcpy(&stamp, static_cast<const uint8_t*>(view_.get()) + frameBytes, sizeof stamp);
    return true;
}

}  // namespace check
