// Named kernel objects in POSIX shared memory, and the process's table of the
// names it holds.
#include "shared_segment.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <new>
#include <unordered_map>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "errno_map.h"
#include "object_names.h"
#include "platform/immortal.h"
#include "win32_errors.h"

namespace platform::posix {
namespace {

constexpr uint32_t kMagic = 0x4f585651;  // "QVXO"

// Enough for any race between creators, openers and last closers to settle.
constexpr int kAttempts = 100;

// Where the system keeps the POSIX shared-memory names.
constexpr const char* kSharedMemoryFolder = "/dev/shm";

// Abandoned names are looked for at a process's first named object and then
// at most this often, so that a busy process pays for one folder listing now
// and then, not for every object.
constexpr std::chrono::seconds kAbandonedNamesPeriod{1};

struct SegmentHeader {
    uint32_t magic;
    uint32_t kind;
    uint64_t dataSize;
    uint32_t flags;
};
static_assert(sizeof(SegmentHeader) <= SharedSegment::kStateOffset, "state overlaps the header");

SegmentHeader* HeaderOf(const MappedRegion& region) {
    return static_cast<SegmentHeader*>(region.Address());
}

// Places a whole-file lock of `type` on the open file description of `fd`.
bool SetLock(int fd, short type, bool wait) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    for (;;) {
        if (fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &lock) == 0) {
            return true;
        }
        if (errno != EINTR) {
            return false;
        }
    }
}

// True when another open file description holds a lock on the file.
bool OthersHoldLock(int fd) {
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    return fcntl(fd, F_OFD_GETLK, &lock) == 0 && lock.l_type != F_UNLCK;
}

// Opens the existing name `systemName` without following a link and without
// blocking on a FIFO that someone planted under it.
UniqueFd OpenExisting(const std::string& systemName, int access) {
    return UniqueFd(shm_open(systemName.c_str(), access | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0));
}

// Whether `fd` is a plain file of this user that no one else may open: the
// only kind of file behind a name that this user's objects may use. Names are
// predictable, and another user who made one first would otherwise read or
// truncate every frame.
bool IsOwnPrivateFile(int fd) {
    struct stat info {};
    return fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == geteuid() && (info.st_mode & 077) == 0;
}

// Opens this user's object file `systemName`: made exclusively when `create`
// and the name is free, else the one there, if it is this user's own private
// file. A name held otherwise (another user's file, one that others may open,
// a link) is refused with ERROR_ACCESS_DENIED, as Windows refuses an object
// whose security shuts the caller out.
UniqueFd OpenOwnFile(const std::string& systemName, bool create) {
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        if (create) {
            UniqueFd made(shm_open(systemName.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
            if (made || errno != EEXIST) {
                if (!made) {
                    SetLastErrorFromErrno(errno);
                }
                return made;
            }
        }
        UniqueFd existing = OpenExisting(systemName, O_RDWR);
        if (!existing) {
            if (errno == ENOENT && create) {
                continue;  // its last holder removed it meanwhile
            }
            SetLastErrorFromErrno(errno == ELOOP ? EACCES : errno);
            return existing;
        }
        if (!IsOwnPrivateFile(existing.get())) {
            SetLastError(ERROR_ACCESS_DENIED);
            return UniqueFd();
        }
        return existing;
    }
    SetLastError(ERROR_BUSY);
    return UniqueFd();
}

// True when `systemName` still names the file open in `fd`; a last closer
// may have removed the name between our open and our lock.
bool StillNamed(int fd, const std::string& systemName) {
    const UniqueFd current = OpenExisting(systemName, O_RDONLY);
    struct stat ours {};
    struct stat named {};
    return current && fstat(fd, &ours) == 0 && fstat(current.get(), &named) == 0 && ours.st_dev == named.st_dev &&
           ours.st_ino == named.st_ino;
}

// Gives `fd` the size of a segment for `params` and writes its header and the
// kind's initial state. The file may hold what a crashed process left; it is
// emptied first.
MappedRegion Initialize(int fd, const SharedSegment::Params& params) {
    const off_t size = static_cast<off_t>(SharedSegment::DataOffset() + SharedSegment::RoundUpToPage(params.dataSize));
    if (ftruncate(fd, 0) != 0 || ftruncate(fd, size) != 0) {
        SetLastErrorFromErrno(errno);
        return {};
    }
    MappedRegion header = MappedRegion::Map(fd, SharedSegment::PageSize(), PROT_READ | PROT_WRITE, 0);
    if (!header) {
        SetLastErrorFromErrno(errno);
        return {};
    }
    SegmentHeader* fields = HeaderOf(header);
    fields->kind = static_cast<uint32_t>(params.kind);
    fields->dataSize = params.dataSize;
    fields->flags = params.flags;
    if (params.initialize) {
        params.initialize(static_cast<char*>(header.Address()) + SharedSegment::kStateOffset);
    }
    fields->magic = kMagic;
    return header;
}

// Maps the header of an existing segment and checks that it holds `kind`.
MappedRegion Attach(int fd, SharedSegment::Kind kind) {
    MappedRegion header = MappedRegion::Map(fd, SharedSegment::PageSize(), PROT_READ | PROT_WRITE, 0);
    if (!header) {
        SetLastErrorFromErrno(errno);
        return {};
    }
    const SegmentHeader* fields = HeaderOf(header);
    if (fields->magic != kMagic || fields->kind != static_cast<uint32_t>(kind)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return {};
    }
    return header;
}

ObjectKind KindOf(SharedSegment::Kind kind) {
    switch (kind) {
    case SharedSegment::Kind::Event:
        return ObjectKind::Event;
    case SharedSegment::Kind::Mutex:
        return ObjectKind::Mutex;
    case SharedSegment::Kind::Mapping:
        break;
    }
    return ObjectKind::Mapping;
}

// The named objects this process holds, one per name. The plain pointer
// tells an entry's object without taking a reference under the lock.
struct NameEntry {
    std::weak_ptr<KernelObject> object;
    const KernelObject* identity;
};

struct NameTable {
    std::mutex lock;
    std::unordered_map<std::string, NameEntry> objects;
};

NameTable& Names() {
    static Immortal<NameTable> table;
    return table.get();
}

// Removes the name `systemName` when no process holds its object; true when
// it did.
bool RemoveIfAbandoned(const std::string& systemName) {
    const UniqueFd fd = OpenExisting(systemName, O_RDWR);
    if (!fd || !IsOwnPrivateFile(fd.get()) || !SetLock(fd.get(), F_WRLCK, false) || !StillNamed(fd.get(), systemName)) {
        return false;
    }
    return shm_unlink(systemName.c_str()) == 0;
}

// Runs RemoveAbandonedNames at the first call in the process, then at most
// once per kAbandonedNamesPeriod.
void RemoveAbandonedNamesNowAndThen() {
    using Clock = std::chrono::steady_clock;
    static std::atomic<Clock::rep> due{Clock::duration::min().count()};
    const Clock::rep now = Clock::now().time_since_epoch().count();
    Clock::rep expected = due.load();
    if (now < expected ||
        !due.compare_exchange_strong(expected, now + Clock::duration(kAbandonedNamesPeriod).count())) {
        return;
    }
    SharedSegment::RemoveAbandonedNames();
}

// Creates or opens `name` in the table and the system; `create` false only
// opens. The handle is made under the table's lock, so that a last close
// racing with this sees the new handle and keeps the name.
HANDLE AcquireNamed(std::string_view name, SharedSegment::Kind kind, const SharedSegment::Params& params, bool create,
                    const SegmentWrapper& wrap, bool& existed) {
    RemoveAbandonedNamesNowAndThen();
    NameTable& table = Names();
    // Declared before the lock: dropping the last reference runs the object's
    // destructor, which takes the same lock.
    ObjectPtr object;
    try {
        const std::string key(name);
        std::lock_guard<std::mutex> guard(table.lock);
        auto found = table.objects.find(key);
        if (found != table.objects.end()) {
            object = found->second.object.lock();
        }
        if (object) {
            if (object->Kind() != KindOf(kind)) {
                SetLastError(ERROR_INVALID_HANDLE);
                return nullptr;
            }
            existed = true;
            return HandleFor(object);
        }
        std::unique_ptr<SharedSegment> segment = create ? SharedSegment::Create(SharedMemoryName(name), params, existed)
                                                        : SharedSegment::Open(SharedMemoryName(name), kind);
        if (!segment) {
            return nullptr;
        }
        object = wrap(key, std::move(segment));
        table.objects[key] = NameEntry{object, object.get()};
        return HandleFor(object);
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
}

}  // namespace

SharedSegment::SharedSegment(std::string systemName, UniqueFd fd, MappedRegion header) noexcept
    : systemName_(std::move(systemName)), fd_(std::move(fd)), header_(std::move(header)) {}

SharedSegment::~SharedSegment() {
    ReleaseName();
}

void SharedSegment::ReleaseName() noexcept {
    if (systemName_.empty()) {
        return;
    }
    if (SetLock(fd_.get(), F_WRLCK, false) && StillNamed(fd_.get(), systemName_)) {
        shm_unlink(systemName_.c_str());
    }
    SetLock(fd_.get(), F_UNLCK, false);
    systemName_.clear();
}

void SharedSegment::RemoveAbandonedNames() noexcept {
    const std::unique_ptr<DIR, int (*)(DIR*)> folder(opendir(kSharedMemoryFolder), closedir);
    if (!folder) {
        return;
    }
    try {
        // Names without their leading '/', as the folder lists them.
        const std::string prefix = SharedMemoryPrefix().substr(1);
        while (const dirent* entry = readdir(folder.get())) {
            if (std::strncmp(entry->d_name, prefix.c_str(), prefix.size()) == 0) {
                RemoveIfAbandoned("/" + std::string(entry->d_name));
            }
        }
    } catch (const std::bad_alloc&) {
        // The names stay for a later look.
    }
}

std::unique_ptr<SharedSegment> SharedSegment::Acquire(const std::string& systemName, const Params& params, bool create,
                                                      bool& existed) {
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        UniqueFd fd = OpenOwnFile(systemName, create);
        if (!fd) {
            return nullptr;
        }
        if (SetLock(fd.get(), F_WRLCK, false)) {
            // No one holds the object: the name is new, or was left behind by
            // a process that ended without closing it.
            if (!create) {
                if (StillNamed(fd.get(), systemName)) {
                    shm_unlink(systemName.c_str());
                }
                SetLastError(ERROR_FILE_NOT_FOUND);
                return nullptr;
            }
            MappedRegion header = Initialize(fd.get(), params);
            if (!header) {
                return nullptr;
            }
            // Turning the exclusive lock into a shared one is atomic, so no
            // one else can take the object for a stale one in between.
            if (!SetLock(fd.get(), F_RDLCK, true)) {
                SetLastErrorFromErrno(errno);
                return nullptr;
            }
            if (!StillNamed(fd.get(), systemName)) {
                continue;
            }
            existed = false;
            return std::make_unique<SharedSegment>(systemName, std::move(fd), std::move(header));
        }
        if (errno != EAGAIN && errno != EACCES) {
            SetLastErrorFromErrno(errno);
            return nullptr;
        }
        if (!SetLock(fd.get(), F_RDLCK, true)) {
            SetLastErrorFromErrno(errno);
            return nullptr;
        }
        // Holders that left while we waited leave a stale object: look again.
        if (!StillNamed(fd.get(), systemName) || !OthersHoldLock(fd.get())) {
            continue;
        }
        MappedRegion header = Attach(fd.get(), params.kind);
        if (!header) {
            return nullptr;
        }
        existed = true;
        return std::make_unique<SharedSegment>(systemName, std::move(fd), std::move(header));
    }
    SetLastError(ERROR_BUSY);
    return nullptr;
}

std::unique_ptr<SharedSegment> SharedSegment::Create(const std::string& systemName, const Params& params,
                                                     bool& existed) {
    return Acquire(systemName, params, true, existed);
}

std::unique_ptr<SharedSegment> SharedSegment::Open(const std::string& systemName, Kind kind) {
    bool existed = false;
    return Acquire(systemName, Params{kind, 0, 0, {}}, false, existed);
}

std::unique_ptr<SharedSegment> SharedSegment::CreateAnonymous(const Params& params) {
    UniqueFd fd(memfd_create("qvx-mapping", MFD_CLOEXEC));
    if (!fd) {
        SetLastErrorFromErrno(errno);
        return nullptr;
    }
    MappedRegion header = Initialize(fd.get(), params);
    if (!header) {
        return nullptr;
    }
    return std::make_unique<SharedSegment>(std::string(), std::move(fd), std::move(header));
}

void* SharedSegment::State() const noexcept {
    return static_cast<char*>(header_.Address()) + kStateOffset;
}

uint64_t SharedSegment::DataSize() const noexcept {
    return HeaderOf(header_)->dataSize;
}

uint32_t SharedSegment::Flags() const noexcept {
    return HeaderOf(header_)->flags;
}

size_t SharedSegment::DataOffset() noexcept {
    return PageSize();
}

size_t SharedSegment::PageSize() noexcept {
    static const size_t size = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    return size;
}

uint64_t SharedSegment::RoundUpToPage(uint64_t size) noexcept {
    const uint64_t page = PageSize();
    return (size + page - 1) / page * page;
}

ObjectName::ObjectName(std::string name, std::unique_ptr<SharedSegment> segment) noexcept
    : name_(std::move(name)), segment_(std::move(segment)) {}

ObjectName::~ObjectName() {
    if (name_.empty()) {
        return;
    }
    std::lock_guard<std::mutex> guard(Names().lock);
    ReleaseLocked(nullptr);
}

void ObjectName::Release(const KernelObject& owner) noexcept {
    if (segment_ == nullptr) {
        return;
    }
    std::lock_guard<std::mutex> guard(Names().lock);
    if (!name_.empty() && HandleTable::Instance().HandleCount(owner) == 0) {
        ReleaseLocked(&owner);
    }
}

void ObjectName::ReleaseLocked(const KernelObject* owner) noexcept {
    NameTable& table = Names();
    auto found = table.objects.find(name_);
    // From the destructor the owner is known only as the expired entry.
    if (found != table.objects.end() &&
        (owner != nullptr ? found->second.identity == owner : found->second.object.expired())) {
        table.objects.erase(found);
    }
    segment_->ReleaseName();
    name_.clear();
}

HANDLE CreateNamedObject(std::string_view name, const SharedSegment::Params& params,
                         const SegmentWrapper& wrap) noexcept {
    bool existed = false;
    HANDLE handle = AcquireNamed(name, params.kind, params, true, wrap, existed);
    if (handle != nullptr) {
        SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    }
    return handle;
}

HANDLE OpenNamedObject(std::string_view name, SharedSegment::Kind kind, const SegmentWrapper& wrap) noexcept {
    bool existed = false;
    return AcquireNamed(name, kind, SharedSegment::Params{kind, 0, 0, {}}, false, wrap, existed);
}

}  // namespace platform::posix
