#include "platform/posix/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>

#include "platform/posix/win32/unique_fd.h"

namespace platform {
namespace posix {
namespace {

UniqueFd OpenRetrying(const std::string& path, int flags, mode_t mode) {
    int descriptor = -1;
    do {
        descriptor = open(path.c_str(), flags | O_CLOEXEC, mode);
    } while (descriptor < 0 && errno == EINTR);
    return UniqueFd(descriptor);
}

int WriteAll(int descriptor, std::string_view data) {
    while (!data.empty()) {
        const ssize_t count = write(descriptor, data.data(), data.size());
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            return errno;
        }
        data.remove_prefix(static_cast<size_t>(count));
    }
    return 0;
}

// The file a write replaces: the target of a symbolic link, so that the link
// survives.
std::string ReplacedPath(const std::string& path) {
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : path;
}

}  // namespace

int ReadWholeFile(const std::string& path, std::string& content) {
    const UniqueFd file = OpenRetrying(path, O_RDONLY, 0);
    if (!file) {
        return errno;
    }
    char chunk[4096];
    for (;;) {
        const ssize_t count = read(file.get(), chunk, sizeof chunk);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            return errno;
        }
        if (count == 0) {
            return 0;
        }
        content.append(chunk, static_cast<size_t>(count));
    }
}

int ReplaceWholeFile(const std::string& path, std::string_view content) {
    static std::atomic<unsigned> serial{0};
    const std::string target = ReplacedPath(path);
    struct stat existing {};
    const bool exists = stat(target.c_str(), &existing) == 0;
    if (exists && access(target.c_str(), W_OK) != 0) {
        return errno;
    }
    std::string temporary;
    UniqueFd file;
    do {
        temporary = target + ".~" + std::to_string(getpid()) + "." + std::to_string(serial++);
        file = OpenRetrying(temporary, O_WRONLY | O_CREAT | O_EXCL, 0666);
    } while (!file && errno == EEXIST);
    if (!file) {
        return errno;
    }
    int error = WriteAll(file.get(), content);
    if (error == 0 && exists && fchmod(file.get(), existing.st_mode & 07777) != 0) {
        error = errno;
    }
    file.reset();
    if (error == 0 && rename(temporary.c_str(), target.c_str()) != 0) {
        error = errno;
    }
    if (error != 0) {
        unlink(temporary.c_str());
    }
    return error;
}

}  // namespace posix
}  // namespace platform
