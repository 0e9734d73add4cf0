#include "platform/whole_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include "platform/system_error.h"

#include "platform/posix/file_io.h"
#include "platform/posix/win32/unique_fd.h"

namespace platform {
namespace {

std::string Explain(const std::string& path, int error) {
    return path + ": " + RuntimeErrorNote(error);
}

}  // namespace

FileRead ReadWholeFile(const std::string& path, std::string& content, std::string& error) {
    content.clear();
    const int failure = posix::ReadWholeFile(path, content);
    if (failure == ENOENT) {
        return FileRead::kMissing;
    }
    if (failure != 0) {
        error = Explain(path, failure);
        return FileRead::kFailed;
    }
    return FileRead::kRead;
}

bool ReplaceWholeFile(const std::string& path, const std::string& content, std::string& error) {
    const int failure = posix::ReplaceWholeFile(path, content);
    if (failure != 0) {
        error = Explain(path, failure);
        return false;
    }
    return true;
}

struct FileLock::State {
    posix::UniqueFd file;
};

FileLock::FileLock() : state_(std::make_unique<State>()) {}
FileLock::~FileLock() = default;

bool FileLock::Take(const std::string& lockPath, std::string& error) {
    // flock belongs to the open file, so two threads of one process, each
    // with its own open, exclude each other as two processes do.
    int descriptor = -1;
    do {
        descriptor = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    } while (descriptor < 0 && errno == EINTR);
    posix::UniqueFd file(descriptor);
    if (!file) {
        error = Explain(lockPath, errno);
        return false;
    }
    int result = 0;
    do {
        result = flock(file.get(), LOCK_EX);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        error = Explain(lockPath, errno);
        return false;
    }
    state_->file = std::move(file);
    return true;
}

}  // namespace platform
