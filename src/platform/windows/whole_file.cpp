#include "platform/whole_file.h"

#include <algorithm>
#include <atomic>

#include "platform/system_error.h"
#include "platform/unique_handle.h"

namespace platform {
namespace {

std::string Explain(const std::string& path, DWORD code) {
    return path + ": " + SystemErrorNote(code);
}

bool WriteAll(HANDLE file, const std::string& content) {
    size_t done = 0;
    while (done < content.size()) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(content.size() - done, 1u << 20));
        if (!WriteFile(file, content.data() + done, chunk, &written, nullptr)) {
            return false;
        }
        done += written;
    }
    return true;
}

}  // namespace

FileRead ReadWholeFile(const std::string& path, std::string& content, std::string& error) {
    content.clear();
    UniqueFile file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        const DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND) {
            return FileRead::kMissing;
        }
        error = Explain(path, code);
        return FileRead::kFailed;
    }
    char chunk[4096];
    for (;;) {
        DWORD count = 0;
        if (!ReadFile(file.get(), chunk, sizeof chunk, &count, nullptr)) {
            error = Explain(path, GetLastError());
            return FileRead::kFailed;
        }
        if (count == 0) {
            return FileRead::kRead;
        }
        content.append(chunk, count);
    }
}

bool ReplaceWholeFile(const std::string& path, const std::string& content, std::string& error) {
    static std::atomic<unsigned> serial{0};
    const std::string temporary = path + ".~" + std::to_string(GetCurrentProcessId()) + "." + std::to_string(serial++);
    {
        UniqueFile file(
            CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) {
            error = Explain(temporary, GetLastError());
            return false;
        }
        if (!WriteAll(file.get(), content)) {
            error = Explain(temporary, GetLastError());
            file.reset();
            DeleteFileA(temporary.c_str());
            return false;
        }
    }
    if (!MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = Explain(path, GetLastError());
        DeleteFileA(temporary.c_str());
        return false;
    }
    return true;
}

struct FileLock::State {
    UniqueFile file;
};

FileLock::FileLock() : state_(std::make_unique<State>()) {}

FileLock::~FileLock() {
    if (state_->file) {
        OVERLAPPED whole{};
        UnlockFileEx(state_->file.get(), 0, MAXDWORD, MAXDWORD, &whole);
    }
}

bool FileLock::Take(const std::string& lockPath, std::string& error) {
    // Every taker opens the file anew: a lock belongs to the handle, so two
    // threads of one process exclude each other as two processes do.
    UniqueFile file(CreateFileA(lockPath.c_str(), GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        error = Explain(lockPath, GetLastError());
        return false;
    }
    OVERLAPPED whole{};
    if (!LockFileEx(file.get(), LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole)) {
        error = Explain(lockPath, GetLastError());
        return false;
    }
    state_->file = std::move(file);
    return true;
}

}  // namespace platform
