// Who may open the named objects (pipes, mappings, mutexes) that a process
// creates for other processes to meet.
#pragma once

#include <memory>

#include "platform/win32.h"

namespace platform {

enum class ObjectAccess {
    OwnUser,        // the creating user and the system only
    AllLocalUsers,  // every user logged on to this machine as well
};

// A security descriptor for new objects and for objects that exist. On
// Windows its access list admits the creating user and SYSTEM, and with
// AllLocalUsers every authenticated user too. Elsewhere every user has names
// of their own, which other users never meet: OwnUser needs nothing (null
// attributes) and AllLocalUsers cannot be had.
class ObjectSecurity {
public:
    ObjectSecurity() noexcept;
    ~ObjectSecurity();
    ObjectSecurity(const ObjectSecurity&) = delete;
    ObjectSecurity& operator=(const ObjectSecurity&) = delete;
    ObjectSecurity(ObjectSecurity&& other) noexcept;
    ObjectSecurity& operator=(ObjectSecurity&& other) noexcept;

    // Builds the descriptor for `access`; false with the last error set
    // (ERROR_NOT_SUPPORTED for AllLocalUsers where it cannot be had).
    bool Build(ObjectAccess access);

    // For the Create functions; valid while this object lives. Null before
    // Build, and always on POSIX.
    LPSECURITY_ATTRIBUTES Attributes() noexcept;

    // Gives the object behind `object` (a handle with WRITE_DAC) this
    // descriptor's access list; false with the last error set.
    bool ApplyTo(HANDLE object) const;

private:
    struct Descriptor;
    std::unique_ptr<Descriptor> descriptor_;
};

}  // namespace platform
