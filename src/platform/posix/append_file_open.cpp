#include <sys/file.h>

#include "platform/append_file.h"

namespace platform {

// Windows refuses a second writer while the file is open; an exclusive flock
// taken without waiting gives the same answer between cooperating writers.
AppendFile::AppendFile(const std::string& path) : file_(std::fopen(path.c_str(), "a")) {
    if (file_ && flock(fileno(file_.get()), LOCK_EX | LOCK_NB) != 0) {
        file_.reset();
    }
}

}  // namespace platform
