#include "profile_file.h"

#include <sys/stat.h>

#include <cerrno>

#include "errno_map.h"
#include "win32_errors.h"

namespace platform::posix {
namespace {

// Windows reports a missing folder as "path not found", a missing file in an
// existing folder as "file not found".
DWORD MissingFileError(const std::string& path) {
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    struct stat info {};
    return stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
}

}  // namespace

void SetLastErrorForFile(int error, const std::string& path) {
    SetLastError(error == ENOENT ? MissingFileError(path) : Win32ErrorFromErrno(error));
}

}  // namespace platform::posix
