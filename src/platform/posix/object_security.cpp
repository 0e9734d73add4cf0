// The POSIX side of platform/object_security.h: every object name carries its
// user's id and lives where only that user may open it, so there is nothing
// to describe.
#include "platform/object_security.h"

namespace platform {

struct ObjectSecurity::Descriptor {};

ObjectSecurity::ObjectSecurity() noexcept = default;
ObjectSecurity::~ObjectSecurity() = default;
ObjectSecurity::ObjectSecurity(ObjectSecurity&& other) noexcept = default;
ObjectSecurity& ObjectSecurity::operator=(ObjectSecurity&& other) noexcept = default;

bool ObjectSecurity::Build(ObjectAccess access) {
    if (access == ObjectAccess::AllLocalUsers) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return false;
    }
    return true;
}

LPSECURITY_ATTRIBUTES ObjectSecurity::Attributes() noexcept {
    return nullptr;
}

bool ObjectSecurity::ApplyTo(HANDLE /*object*/) const {
    return true;
}

}  // namespace platform
