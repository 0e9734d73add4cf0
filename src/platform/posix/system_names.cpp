// The POSIX side of platform/system_names.h: names live in /dev/shm.
#include "platform/system_names.h"

#include <sys/stat.h>

#include "platform/posix/win32/object_names.h"
#include "platform/posix/win32/shared_segment.h"

namespace platform {

void RemoveAbandonedNames() {
    posix::SharedSegment::RemoveAbandonedNames();
}

bool NameIsListed(const std::string& objectName) {
    struct stat info {};
    return lstat(NamePath(objectName).c_str(), &info) == 0;
}

std::string NamePath(const std::string& objectName) {
    return "/dev/shm" + posix::SharedMemoryName(objectName);
}

}  // namespace platform
