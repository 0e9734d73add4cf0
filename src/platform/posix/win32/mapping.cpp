// File mappings: CreateFileMappingA, OpenFileMappingA, MapViewOfFile,
// UnmapViewOfFile, VirtualQuery.
#include <cerrno>
#include <map>
#include <new>

#include "errno_map.h"
#include "kernel_object.h"
#include "platform/immortal.h"
#include "shared_segment.h"
#include "win32_errors.h"
#include "win32_handles.h"
#include "win32_mapping.h"

namespace platform::posix {
namespace {

// Windows places views on 64 KiB boundaries; offsets must keep to them.
constexpr uint64_t kAllocationGranularity = 0x10000;

// A mapping: its segment holds the data after the header page; the
// protection it was created with is the segment's flags.
class MappingObject : public KernelObject {
public:
    MappingObject(std::string name, std::unique_ptr<SharedSegment> segment) noexcept
        : KernelObject(ObjectKind::Mapping), name_(std::move(name), std::move(segment)) {}

    void OnLastHandleClosed() noexcept override { name_.Release(*this); }

    // Windows gives a mapping's handle no right to be waited on.
    DWORD WaitError() const noexcept override { return ERROR_ACCESS_DENIED; }

    const SharedSegment& Segment() const noexcept { return *name_.Segment(); }

private:
    ObjectName name_;
};

// One mapped view; it holds its mapping, as a view does on Windows.
struct View {
    MappedRegion region;
    DWORD protect;
    ObjectPtr mapping;
};

class ViewTable {
public:
    static ViewTable& Instance() {
        static Immortal<ViewTable> table;
        return table.get();
    }

    bool Add(View view) noexcept {
        const auto base = reinterpret_cast<uintptr_t>(view.region.Address());
        try {
            std::lock_guard<std::mutex> guard(lock_);
            views_.emplace(base, std::move(view));
            return true;
        } catch (const std::bad_alloc&) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return false;
        }
    }

    // Takes the view holding `address` out of the table; empty when none does.
    View Remove(LPCVOID address) noexcept {
        std::lock_guard<std::mutex> guard(lock_);
        auto found = Find(address);
        if (found == views_.end()) {
            return View{};
        }
        View view = std::move(found->second);
        views_.erase(found);
        return view;
    }

    bool Describe(LPCVOID address, MEMORY_BASIC_INFORMATION& info) noexcept {
        std::lock_guard<std::mutex> guard(lock_);
        auto found = Find(address);
        if (found == views_.end()) {
            return false;
        }
        const uintptr_t page = SharedSegment::PageSize();
        const uintptr_t base = reinterpret_cast<uintptr_t>(address) / page * page;
        const uintptr_t end = found->first + found->second.region.Length();
        info.BaseAddress = reinterpret_cast<LPVOID>(base);
        info.AllocationBase = found->second.region.Address();
        info.AllocationProtect = found->second.protect;
        info.RegionSize = end - base;
        info.State = MEM_COMMIT;
        info.Protect = found->second.protect;
        info.Type = MEM_MAPPED;
        return true;
    }

private:
    using Views = std::map<uintptr_t, View>;

    Views::iterator Find(LPCVOID address) {
        const auto where = reinterpret_cast<uintptr_t>(address);
        auto after = views_.upper_bound(where);
        if (after == views_.begin()) {
            return views_.end();
        }
        auto found = std::prev(after);
        return where < found->first + found->second.region.Length() ? found : views_.end();
    }

    std::mutex lock_;
    Views views_;
};

SegmentWrapper MappingWrapper() {
    return [](std::string name, std::unique_ptr<SharedSegment> segment) -> ObjectPtr {
        return std::make_shared<MappingObject>(std::move(name), std::move(segment));
    };
}

bool WantsWrite(DWORD access) {
    return (access & FILE_MAP_WRITE) != 0;
}

}  // namespace
}  // namespace platform::posix

using platform::posix::MappingObject;
using platform::posix::SharedSegment;

HANDLE CreateFileMappingA(HANDLE file, LPSECURITY_ATTRIBUTES /*attributes*/, DWORD protect, DWORD maximumSizeHigh,
                          DWORD maximumSizeLow, LPCSTR name) {
    if (file != INVALID_HANDLE_VALUE) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    const DWORD pageProtection = protect & ~SEC_COMMIT;
    const uint64_t size = (static_cast<uint64_t>(maximumSizeHigh) << 32) | maximumSizeLow;
    if ((pageProtection != PAGE_READWRITE && pageProtection != PAGE_READONLY) || size == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const SharedSegment::Params params{SharedSegment::Kind::Mapping, size, pageProtection, {}};
    if (name == nullptr || *name == '\0') {
        std::unique_ptr<SharedSegment> segment = SharedSegment::CreateAnonymous(params);
        if (!segment) {
            return nullptr;
        }
        try {
            HANDLE handle =
                platform::posix::HandleFor(platform::posix::MappingWrapper()(std::string(), std::move(segment)));
            if (handle != nullptr) {
                SetLastError(ERROR_SUCCESS);
            }
            return handle;
        } catch (const std::bad_alloc&) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return nullptr;
        }
    }
    return platform::posix::CreateNamedObject(name, params, platform::posix::MappingWrapper());
}

HANDLE OpenFileMappingA(DWORD /*access*/, BOOL /*inherit*/, LPCSTR name) {
    if (name == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return platform::posix::OpenNamedObject(name, SharedSegment::Kind::Mapping, platform::posix::MappingWrapper());
}

LPVOID MapViewOfFile(HANDLE mapping, DWORD access, DWORD offsetHigh, DWORD offsetLow, SIZE_T bytes) {
    auto object = platform::posix::LookupAs<MappingObject>(mapping, platform::posix::ObjectKind::Mapping);
    if (!object) {
        return nullptr;
    }
    const SharedSegment& segment = object->Segment();
    const uint64_t offset = (static_cast<uint64_t>(offsetHigh) << 32) | offsetLow;
    if (offset % platform::posix::kAllocationGranularity != 0) {
        SetLastError(ERROR_MAPPED_ALIGNMENT);
        return nullptr;
    }
    const uint64_t size = segment.DataSize();
    const bool writable = segment.Flags() == PAGE_READWRITE;
    if (offset >= size || (bytes != 0 && bytes > size - offset) || (platform::posix::WantsWrite(access) && !writable)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    const uint64_t length = bytes != 0 ? bytes : size - offset;
    const bool write = platform::posix::WantsWrite(access);
    platform::posix::MappedRegion region = platform::posix::MappedRegion::Map(
        segment.Descriptor(), SharedSegment::RoundUpToPage(length), write ? PROT_READ | PROT_WRITE : PROT_READ,
        static_cast<off_t>(SharedSegment::DataOffset() + offset));
    if (!region) {
        SetLastErrorFromErrno(errno);
        return nullptr;
    }
    LPVOID address = region.Address();
    if (!platform::posix::ViewTable::Instance().Add(
            platform::posix::View{std::move(region), write ? PAGE_READWRITE : PAGE_READONLY, std::move(object)})) {
        return nullptr;
    }
    return address;
}

BOOL UnmapViewOfFile(LPCVOID address) {
    // The view goes out of scope here, outside the table's lock: dropping it
    // may close the last reference to its mapping.
    const platform::posix::View view = platform::posix::ViewTable::Instance().Remove(address);
    if (!view.region) {
        SetLastError(ERROR_INVALID_ADDRESS);
        return FALSE;
    }
    return TRUE;
}

SIZE_T VirtualQuery(LPCVOID address, PMEMORY_BASIC_INFORMATION buffer, SIZE_T length) {
    if (buffer == nullptr || length < sizeof(MEMORY_BASIC_INFORMATION)) {
        SetLastError(ERROR_BAD_LENGTH);
        return 0;
    }
    if (!platform::posix::ViewTable::Instance().Describe(address, *buffer)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    return sizeof(MEMORY_BASIC_INFORMATION);
}
