// A host for the tests of raw input: it loads the driver beside itself, opens
// Camera 1 on a share, says "ready WxH" once the camera has the server's
// frame size, and writes the bytes of every frame it receives, rows back to
// back, to a file, until it has the frames asked for.
//
//   raw_frame_host SHARE FRAMES OUTPUT_FILE TIMEOUT_MS [stop]
//
// With "stop", it then waits for the server to end the stream (its Stop
// ends the camera's link while the camera is open) and says "stopped".
// Exit code 0 when all the frames came within the time-out, and the Stop
// after them when asked for; 1 otherwise.
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "driver_library.h"
#include "platform/process.h"
#include "platform/win32.h"
#include "settings_file.h"
#include "support/host_frame.h"
#include "wire/messages.h"

namespace {

constexpr int kPort = 1;
constexpr const char* kCamera = "Camera 1";

struct Host {
    tools::DriverLibrary driver;
    std::FILE* output = nullptr;
    std::FILE* numbers = nullptr;
    std::vector<uint8_t> frame;
    std::atomic<int> frames{0};
    std::atomic<bool> failed{false};
};

Host host;

// The link's thread leaves while the camera is open only when the server
// sent Stop: a server that is lost is looked for again.
std::atomic<bool> linkLeft{false};

void QUORVEX_CALL OnLog(const char* text) {
    if (text != nullptr && std::strstr(text, "CmdExchangeThread::ThreadMain: leaving on port=") != nullptr) {
        linkLeft = true;
    }
}

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
    int number = 0;
    int gap = 0;
    int high = 0;
    int low = 0;
    host.driver.getProperty(0, port, "FrameNumber", &number);
    host.driver.getProperty(0, port, "FrameGap", &gap);
    host.driver.getProperty(0, port, "FrameCaptureHigh", &high);
    host.driver.getProperty(0, port, "FrameCaptureLow", &low);
    const auto captured =
        static_cast<int64_t>((uint64_t{static_cast<uint32_t>(high)} << 32) | static_cast<uint32_t>(low));
    std::fprintf(host.numbers, "%d %d %lld\n", number, gap,
                 static_cast<long long>((StampClockMicroseconds() - captured) / 1000));
    ++host.frames;
}

}  // namespace

int main(int argc, char** argv) {
    const bool untilStop = argc == 6 && std::string(argv[5]) == "stop";
    if (argc != 5 && !untilStop) {
        std::fprintf(stderr, "usage: raw_frame_host SHARE FRAMES OUTPUT_FILE TIMEOUT_MS [stop]\n");
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
    host.numbers = std::fopen((std::string(argv[3]) + ".numbers").c_str(), "w");
    if (host.output == nullptr || host.numbers == nullptr) {
        std::fprintf(stderr, "raw_frame_host: cannot write %s\n", argv[3]);
        return 1;
    }
    const std::string systemDir = platform::FolderOf(argv[3]);
    if (!tools::WriteCameraSetting(systemDir, kCamera, "PipeName", share) ||
        !tools::WriteCameraSetting(systemDir, kCamera, "ConnectionTimeout", "10000") ||
        !tools::WriteCameraSetting(systemDir, kCamera, "LogLevel", "2") ||
        host.driver.initialize(systemDir.c_str(), &OnLog) != 1) {
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
    // Only a link that leaves from now on was ended by the server.
    linkLeft = false;
    std::printf("ready %dx%d\n", dimensions[0], dimensions[1]);
    std::fflush(stdout);
    while (host.frames < wanted && !host.failed && GetTickCount() - start < timeoutMs) {
        Sleep(10);
    }
    while (untilStop && !linkLeft && GetTickCount() - start < timeoutMs) {
        Sleep(10);
    }
    const bool stopped = linkLeft;
    host.driver.closeCVLPort(0, kPort);
    host.driver.finalize();
    std::fclose(host.output);
    std::fclose(host.numbers);
    std::printf("received %d frames%s\n", host.frames.load(), host.failed ? ", some not read whole" : "");
    if (untilStop) {
        std::printf("%s\n", stopped ? "stopped" : "no Stop from the server");
    }
    return host.frames == wanted && !host.failed && (stopped || !untilStop) ? 0 : 1;
}
