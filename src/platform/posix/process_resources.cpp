// The POSIX side of platform/process_resources.h, from /proc.
#include "platform/process_resources.h"

#include <memory>

#include <dirent.h>

namespace platform {
namespace {

// Entries of a /proc folder other than "." and ".."; -1 when it cannot be read.
int CountEntries(const char* path) {
    const std::unique_ptr<DIR, int (*)(DIR*)> folder(opendir(path), closedir);
    if (!folder) {
        return -1;
    }
    int count = 0;
    while (const dirent* entry = readdir(folder.get())) {
        if (entry->d_name[0] != '.') {
            ++count;
        }
    }
    return count;
}

}  // namespace

int OpenHandleCount() {
    // Less the listing's own descriptor.
    const int entries = CountEntries("/proc/self/fd");
    return entries < 0 ? -1 : entries - 1;
}

int ThreadCount() {
    return CountEntries("/proc/self/task");
}

}  // namespace platform
