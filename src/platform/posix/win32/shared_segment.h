// Named kernel objects that other processes see: one POSIX shared-memory
// segment per name, and the process's table of the names it holds. Internal
// to the POSIX subset.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "kernel_object.h"
#include "unique_fd.h"

namespace platform::posix {

// One segment: a header page (the kind, the size, and the kind's own state,
// such as a process-shared mutex) followed by a mapping's data.
//
// Every process that holds a handle to the object keeps a shared
// open-file-description lock on the segment. Whoever finds no other holder,
// by getting the lock exclusively, knows the object is gone in Win32 terms: at
// creation it takes the name afresh (clearing what a crashed process left), at
// the last close it removes the name. As on Windows, the name goes with the
// last handle while the memory stays for views and waits still using it.
class SharedSegment {
public:
    enum class Kind : uint32_t { Event = 1, Mutex = 2, Mapping = 3 };

    // Where the kind's own state starts within the header page.
    static constexpr size_t kStateOffset = 64;

    struct Params {
        Kind kind;
        uint64_t dataSize;
        uint32_t flags;
        // Prepares the state of a new object; runs before anyone else sees it.
        std::function<void(void* state)> initialize;
    };

    // Creates the object `systemName` or opens the one that exists
    // (`existed`). Null with the last error set on failure:
    // ERROR_INVALID_HANDLE when the name holds another kind,
    // ERROR_ACCESS_DENIED when it is held by another user: a file that is
    // not this user's own, that others may open, or a link.
    static std::unique_ptr<SharedSegment> Create(const std::string& systemName, const Params& params, bool& existed);
    // Opens the object `systemName`; ERROR_FILE_NOT_FOUND when there is none,
    // ERROR_ACCESS_DENIED as for Create.
    static std::unique_ptr<SharedSegment> Open(const std::string& systemName, Kind kind);
    // A segment without a name, for unnamed mappings.
    static std::unique_ptr<SharedSegment> CreateAnonymous(const Params& params);

    SharedSegment(std::string systemName, UniqueFd fd, MappedRegion header) noexcept;
    SharedSegment(const SharedSegment&) = delete;
    SharedSegment& operator=(const SharedSegment&) = delete;
    ~SharedSegment();

    // Gives up this process's hold on the name, removing the name when no
    // other process holds it. The memory stays mapped.
    void ReleaseName() noexcept;

    // Removes every name of this user's objects that no process holds any
    // more: what processes that were killed left behind, which no last close
    // took away. Safe against every other process's creations, openings and
    // closes, which all look again after they took the lock.
    static void RemoveAbandonedNames() noexcept;

    void* State() const noexcept;
    uint64_t DataSize() const noexcept;
    uint32_t Flags() const noexcept;
    // The data starts at DataOffset() in Descriptor().
    int Descriptor() const noexcept { return fd_.get(); }
    static size_t DataOffset() noexcept;

    static size_t PageSize() noexcept;
    static uint64_t RoundUpToPage(uint64_t size) noexcept;

private:
    static std::unique_ptr<SharedSegment> Acquire(const std::string& systemName, const Params& params, bool create,
                                                  bool& existed);

    std::string systemName_;  // empty for an anonymous segment
    UniqueFd fd_;
    MappedRegion header_;
};

// A named object's hold on its name: the segment, and the entry in the
// process's table of names. Empty for an unnamed object.
class ObjectName {
public:
    ObjectName() noexcept = default;
    ObjectName(std::string name, std::unique_ptr<SharedSegment> segment) noexcept;
    ObjectName(const ObjectName&) = delete;
    ObjectName& operator=(const ObjectName&) = delete;
    ~ObjectName();

    // For the owner's OnLastHandleClosed: drops the table entry and the
    // name, unless a handle to `owner` was opened by name meanwhile. Runs
    // under the table's lock, which openings by name hold until their handle
    // exists.
    void Release(const KernelObject& owner) noexcept;

    SharedSegment* Segment() const noexcept { return segment_.get(); }

private:
    void ReleaseLocked(const KernelObject* owner) noexcept;

    std::string name_;  // empty once released
    std::unique_ptr<SharedSegment> segment_;
};

// Builds the kind's object around a segment new to this process.
using SegmentWrapper = std::function<ObjectPtr(std::string name, std::unique_ptr<SharedSegment> segment)>;

// Stands behind CreateEventA, CreateMutexA and CreateFileMappingA with a
// name: one object per name in the process, shared with other processes
// through the segment. Returns a new handle and sets ERROR_ALREADY_EXISTS or
// ERROR_SUCCESS; null with ERROR_INVALID_HANDLE when the name holds another
// kind.
HANDLE CreateNamedObject(std::string_view name, const SharedSegment::Params& params,
                         const SegmentWrapper& wrap) noexcept;

// Stands behind the Open functions: ERROR_FILE_NOT_FOUND when no object has
// the name, ERROR_INVALID_HANDLE when another kind has it.
HANDLE OpenNamedObject(std::string_view name, SharedSegment::Kind kind, const SegmentWrapper& wrap) noexcept;

}  // namespace platform::posix
