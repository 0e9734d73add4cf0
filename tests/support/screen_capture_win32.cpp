#include <chrono>
#include <thread>

#include "platform/unique_handle.h"
#include "platform/win32.h"
#include "screen_capture.h"

namespace testsupport {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kScreenshotTimeoutMs = 20000;
constexpr auto kPoll = std::chrono::milliseconds(20);

// Wine's own exports that translate between its file names and the host
// system's; missing on Windows itself.
using UnixToDos = WCHAR*(CDECL*)(const char*);

UnixToDos WineDosFileName() {
    const FARPROC function = GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_dos_file_name");
    return reinterpret_cast<UnixToDos>(reinterpret_cast<void (*)()>(function));
}

// A file of the host system, named as wine names it.
class DosFile {
public:
    DosFile(UnixToDos toDos, const std::string& unixPath) : path(toDos(unixPath.c_str())) {}
    ~DosFile() { HeapFree(GetProcessHeap(), 0, path); }
    DosFile(const DosFile&) = delete;
    DosFile& operator=(const DosFile&) = delete;

    bool Exists() const { return path != nullptr && GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES; }
    void Delete() const {
        if (path != nullptr) {
            DeleteFileW(path);
        }
    }

private:
    WCHAR* path;
};

}  // namespace

// Wine starts programs of the host system like its own; the script's end
// cannot be waited for through the process handle, so the finished file is.
std::string CaptureScreen(const std::string& picture, const std::string& geometry) {
    const UnixToDos toDos = WineDosFileName();
    if (toDos == nullptr) {
        return "pictures are taken only under wine, from its X display";
    }
    // An earlier run's files must not pass for this one's.
    const DosFile done(toDos, picture);
    const DosFile failed(toDos, picture + ".failed");
    done.Delete();
    failed.Delete();
    std::string command = std::string("/bin/sh \"") + QUORVEX_SCREENSHOT_SCRIPT + "\" \"" + picture + "\"" +
                          (geometry.empty() ? "" : " " + geometry);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA("/bin/sh", &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        return "cannot start /bin/sh, error " + std::to_string(GetLastError());
    }
    platform::UniqueThread thread(process.hThread);
    platform::UniqueProcess processHandle(process.hProcess);
    const auto deadline = Clock::now() + std::chrono::milliseconds(kScreenshotTimeoutMs);
    while (Clock::now() < deadline) {
        if (done.Exists()) {
            return std::string();
        }
        if (failed.Exists()) {
            return "the screenshot script failed; see " + picture + ".failed";
        }
        std::this_thread::sleep_for(kPoll);
    }
    return "no " + picture + " within " + std::to_string(kScreenshotTimeoutMs) + " ms";
}

}  // namespace testsupport
