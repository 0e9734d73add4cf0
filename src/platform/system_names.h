// Names of kernel objects as the system lists them for every process.
#pragma once

#include <string>

namespace platform {

// Takes away the names of named objects (mutexes, events, mappings) that no
// live process holds any more: on POSIX a process that was killed leaves its
// names behind, where Windows drops a name with its last handle. Nothing to
// do on Windows. Any process's named objects may vanish through this only
// once nobody holds them.
void RemoveAbandonedNames();

// True while the system still lists a named object called `objectName`, of
// any kind, held or abandoned.
bool NameIsListed(const std::string& objectName);

// The file that holds this user's named object `objectName` on POSIX, where
// anyone may make a file of that name first; empty on Windows, whose names
// are the kernel's own.
std::string NamePath(const std::string& objectName);

}  // namespace platform
