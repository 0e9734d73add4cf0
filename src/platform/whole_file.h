// Files read whole and replaced whole, and a lock that orders the
// read-change-write cycles of every thread and process that takes it: what a
// writer of a shared settings file needs so that concurrent writers lose
// nothing and readers never see half a file.
#pragma once

#include <memory>
#include <string>

namespace platform {

enum class FileRead { kRead, kMissing, kFailed };

// Reads the file's bytes into `content`. kMissing when there is no such file;
// kFailed with the system's own words in `error`.
FileRead ReadWholeFile(const std::string& path, std::string& content, std::string& error);

// Writes `content` to a new file beside `path` and moves it over `path` in
// one step. False with the system's own words in `error`.
bool ReplaceWholeFile(const std::string& path, const std::string& content, std::string& error);

// An exclusive lock on a lock file, created when missing, held while the
// object lives. Taking it waits for any holder, in this process or another;
// a process that dies lets go of it.
class FileLock {
public:
    FileLock();
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // False with the system's own words in `error` when the lock file cannot
    // be opened or locked.
    bool Take(const std::string& lockPath, std::string& error);

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace platform
