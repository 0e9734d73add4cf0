#include "many_cameras_bench.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/clock.h"
#include "platform/process.h"
#include "platform/win32.h"

namespace bench {
namespace {

// One camera's count, written by its own thread in the complete callback and
// read by the host's main thread.
struct CameraCount {
    std::vector<uint8_t> row;
    int rows = 0;
    int rowWidth = 0;
    uint32_t lastNumber = 0;
    std::atomic<int64_t> frames{0};
    std::atomic<int64_t> lost{0};
};

constexpr int kMaxCameras = 32;
// The frame number of the test pattern (tools/common/test_pattern.h), little-endian.
constexpr int kNumberOffset = 4;

tools::DriverLibrary* driver = nullptr;
CameraCount counts[kMaxCameras];

void QUORVEX_CALL OnFrame(int, int portNo) {
    CameraCount& count = counts[portNo];
    uint32_t number = 0;
    for (int row = 0; row < count.rows; ++row) {
        driver->getCVLGrabRow(0, portNo, count.row.data(), row, 0, count.rowWidth - 1);
        if (row == 0) {
            std::memcpy(&number, count.row.data() + kNumberOffset, sizeof number);
        }
    }
    if (count.frames > 0 && number > count.lastNumber + 1) {
        count.lost += number - count.lastNumber - 1;
    }
    count.lastNumber = number;
    ++count.frames;
}

struct Snapshot {
    int64_t frames = 0;
    int64_t lost = 0;
    int64_t cpuNs = 0;
    int64_t wallNs = 0;

    static Snapshot Take(int cameras) {
        Snapshot snapshot;
        for (int i = 0; i < cameras; ++i) {
            snapshot.frames += counts[i].frames;
            snapshot.lost += counts[i].lost;
        }
        snapshot.cpuNs = platform::ProcessCpuNanoseconds();
        snapshot.wallNs = platform::MonotonicNanoseconds();
        return snapshot;
    }
};

bool AllStreaming(int cameras) {
    const DWORD start = GetTickCount();
    for (int i = 0; i < cameras; ++i) {
        while (counts[i].frames == 0) {
            if (GetTickCount() - start > kWaitMs) {
                std::fprintf(stderr, "many cameras: camera %d delivered no frame\n", i + 1);
                return false;
            }
            Sleep(10);
        }
    }
    return true;
}

std::string ServerProgram() {
    return ProgramFolder() + "/" + QUORVEX_SERVER_TOOL_FILE;
}

}  // namespace

bool RunManyCameras(HostDriver& host, const ManyCamerasCase& test, ManyCamerasFigures& figures) {
    if (test.cameras > kMaxCameras) {
        return false;
    }
    driver = &host.Exports();
    std::vector<CameraSection> sections;
    std::vector<std::unique_ptr<platform::ChildProcess>> servers;
    const std::string size = std::to_string(test.width) + "x" + std::to_string(test.height);
    for (int i = 0; i < test.cameras; ++i) {
        const std::string share = "quorvex-bench-" + RunToken() + "-camera" + std::to_string(i + 1);
        sections.push_back({"Camera " + std::to_string(i + 1), share});
        servers.push_back(std::make_unique<platform::ChildProcess>());
        if (!servers.back()->Start(
                ServerProgram(),
                {"--share", share, "--size", size, "--bpp", "1", "--fps", std::to_string(test.fps), "--clients", "1"},
                host.Folder() + "/server" + std::to_string(i + 1) + ".out")) {
            std::fprintf(stderr, "many cameras: %s did not start\n", ServerProgram().c_str());
            return false;
        }
    }
    WriteSettings(host.Folder(), sections);
    bool ok = true;
    int opened = 0;
    for (; ok && opened < test.cameras; ++opened) {
        CameraCount& count = counts[opened];
        count.row.assign(static_cast<size_t>(test.width), 0);
        count.rows = test.height;
        count.rowWidth = test.width;
        count.frames = 0;
        count.lost = 0;
        int dimensions[2] = {0, 0};
        ok = driver->openCVLPort(0, opened, sections[static_cast<size_t>(opened)].camera.c_str(), dimensions) == 1 &&
             dimensions[0] == test.width && driver->setCompleteCallback(0, opened, &OnFrame) == 1;
        if (!ok) {
            std::fprintf(stderr, "many cameras: camera %d did not connect\n", opened + 1);
        }
    }
    if (ok && AllStreaming(test.cameras)) {
        const Snapshot before = Snapshot::Take(test.cameras);
        Sleep(static_cast<DWORD>(test.seconds) * 1000);
        const Snapshot after = Snapshot::Take(test.cameras);
        const int64_t frames = after.frames - before.frames;
        figures.framesPerCamera = static_cast<double>(frames) / test.cameras;
        figures.lost = after.lost - before.lost;
        figures.hostCores =
            static_cast<double>(after.cpuNs - before.cpuNs) / static_cast<double>(after.wallNs - before.wallNs);
        figures.hostCpuUsPerFrame =
            frames > 0 ? static_cast<double>(after.cpuNs - before.cpuNs) / 1000.0 / static_cast<double>(frames) : 0;
    } else {
        ok = false;
    }
    for (int i = 0; i < opened; ++i) {
        driver->closeCVLPort(0, i);
    }
    for (auto& server : servers) {
        int exitCode = 0;
        if (!server->Interrupt() || !server->Wait(kWaitMs, exitCode)) {
            server->Kill();
        }
    }
    return ok;
}

}  // namespace bench
