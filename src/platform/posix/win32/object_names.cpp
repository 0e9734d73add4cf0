// System names for Win32 object names.
#include "object_names.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>

#include <sys/stat.h>
#include <unistd.h>

#include "errno_map.h"
#include "win32_errors.h"

namespace platform::posix {
namespace {

// Long enough to recognise an object in a listing, short enough to keep a
// socket path inside sockaddr_un.
constexpr size_t kPrefixLength = 32;

uint64_t Fnv1a64(std::string_view text) {
    uint64_t hash = 0xcbf29ce484222325u;
    for (const char c : text) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001b3u;
    }
    return hash;
}

bool IsPlain(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
}

// The readable prefix and the hash of the whole name.
std::string Mangle(std::string_view name) {
    std::string result;
    for (size_t i = 0; i < name.size() && i < kPrefixLength; ++i) {
        result += IsPlain(name[i]) ? name[i] : '_';
    }
    char hash[24];
    std::snprintf(hash, sizeof hash, "-%016llx", static_cast<unsigned long long>(Fnv1a64(name)));
    return result + hash;
}

std::string LowerAscii(std::string_view text) {
    std::string result(text);
    for (char& c : result) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return result;
}

}  // namespace

std::string SharedMemoryName(std::string_view objectName) {
    return SharedMemoryPrefix() + Mangle(objectName);
}

std::string SharedMemoryPrefix() {
    return "/qvx-" + std::to_string(getuid()) + "-";
}

bool PipeDirectory(std::string& directory) {
    directory = "/tmp/qvx-pipes-" + std::to_string(getuid());
    if (mkdir(directory.c_str(), 0700) != 0 && errno != EEXIST) {
        SetLastErrorFromErrno(errno);
        return false;
    }
    struct stat info {};
    if (lstat(directory.c_str(), &info) != 0) {
        SetLastErrorFromErrno(errno);
        return false;
    }
    if (!S_ISDIR(info.st_mode) || info.st_uid != getuid() || (info.st_mode & 077) != 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    return true;
}

std::string PipeSocketPath(const std::string& directory, std::string_view pipeName) {
    return directory + "/" + Mangle(LowerAscii(pipeName));
}

}  // namespace platform::posix
