// The Windows side of platform/system_names.h: a name goes with its object.
#include "platform/system_names.h"

#include "platform/unique_handle.h"
#include "platform/win32.h"

namespace platform {

void RemoveAbandonedNames() {}

bool NameIsListed(const std::string& objectName) {
    // Opening as a mutex finds any kind: another kind answers with
    // ERROR_INVALID_HANDLE.
    const UniqueMutex mutex(OpenMutexA(SYNCHRONIZE, FALSE, objectName.c_str()));
    return mutex || GetLastError() != ERROR_FILE_NOT_FOUND;
}

std::string NamePath(const std::string& /*objectName*/) {
    return {};
}

}  // namespace platform
