// A host for the tests of raw input: it loads the driver beside itself, opens
// Camera 1 on a share, says "ready WxH" once the camera has the server's
// frame size, and writes the bytes of every frame it receives, rows back to
// back, to a file, until it has the frames asked for.
//
//   raw_frame_host SHARE FRAMES OUTPUT_FILE TIMEOUT_MS
//
// Exit code 0 when all the frames came within the time-out, 1 otherwise.
#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#include "driver_library.h"
#include "platform/process.h"
#include "platform/win32.h"
#include "settings_file.h"
#include "support/host_frame.h"

namespace {

constexpr int kPort = 1;
constexpr const char* kCamera = "Camera 1";

struct Host {
    tools::DriverLibrary driver;
    std::FILE* output = nullptr;
    std::vector<uint8_t> frame;
    std::atomic<int> frames{0};
    std::atomic<bool> failed{false};
};

Host host;

// Runs on the camera's thread: the rows are read while the frame is the
// camera's current one.
void QUORVEX_CALL OnComplete(int, int port) {
    testsupport::FrameShape shape;
    if (!testsupport::ReadShape(host.driver, port, shape)) {
        host.failed = true;
        return;
    }
    if (!testsupport::ReadRows(host.driver, port, shape, host.frame)) {
        host.failed = true;
    }
    if (std::fwrite(host.frame.data(), 1, host.frame.size(), host.output) != host.frame.size()) {
        host.failed = true;
    }
    ++host.frames;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: raw_frame_host SHARE FRAMES OUTPUT_FILE TIMEOUT_MS\n");
        return 2;
    }
    const std::string share = argv[1];
    const int wanted = std::stoi(argv[2]);
    const DWORD timeoutMs = static_cast<DWORD>(std::stoul(argv[4]));
    const std::string folder = platform::FolderOf(platform::ProgramPath());
    std::string error;
    if (!host.driver.Load(folder + platform::kPathSeparator + QUORVEX_DRIVER_FILE, error)) {
        std::fprintf(stderr, "raw_frame_host: %s\n", error.c_str());
        return 1;
    }
    host.output = std::fopen(argv[3], "wb");
    if (host.output == nullptr) {
        std::fprintf(stderr, "raw_frame_host: cannot write %s\n", argv[3]);
        return 1;
    }
    const std::string systemDir = platform::FolderOf(argv[3]);
    if (!tools::WriteCameraSetting(systemDir, kCamera, "PipeName", share) ||
        !tools::WriteCameraSetting(systemDir, kCamera, "ConnectionTimeout", "10000") ||
        host.driver.initialize(systemDir.c_str(), nullptr) != 1) {
        std::fprintf(stderr, "raw_frame_host: cannot set up the driver in %s\n", systemDir.c_str());
        return 1;
    }
    int dimensions[2] = {0, 0};
    const DWORD start = GetTickCount();
    // The camera keeps looking for its server; the open is repeated until
    // the server has answered with its frame size.
    while (dimensions[0] == 0 && GetTickCount() - start < timeoutMs) {
        host.driver.closeCVLPort(0, kPort);
        if (host.driver.openCVLPort(0, kPort, kCamera, dimensions) != 1 ||
            host.driver.setCompleteCallback(0, kPort, &OnComplete) != 1) {
            std::fprintf(stderr, "raw_frame_host: cannot open %s\n", kCamera);
            return 1;
        }
    }
    std::printf("ready %dx%d\n", dimensions[0], dimensions[1]);
    std::fflush(stdout);
    while (host.frames < wanted && !host.failed && GetTickCount() - start < timeoutMs) {
        Sleep(10);
    }
    host.driver.closeCVLPort(0, kPort);
    host.driver.finalize();
    std::fclose(host.output);
    std::printf("received %d frames%s\n", host.frames.load(), host.failed ? ", some not read whole" : "");
    return host.frames == wanted && !host.failed ? 0 : 1;
}
