#include "many_cameras_bench.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/process.h"
#include "platform/unique_handle.h"
#include "platform/win32.h"
#include "quorvex_host.h"
#include "quorvex_server.h"

namespace bench {
namespace {

constexpr int kMaxCameras = 32;
// A tick that comes later than this many periods is given up, not caught up
// with in a burst.
constexpr int kLateTicks = 3;
// How often the servers' child times a plain copy of the frame.
constexpr int kCopyEveryTicks = 10;

std::string ShareOf(const std::string& base, int camera) {
    return base + "-camera" + std::to_string(camera + 1);
}

std::string CameraName(int camera) {
    return "Camera " + std::to_string(camera + 1);
}

// The host sets Done to end the servers' child; the child sets Ready once
// every server is up.
struct ServerEvents {
    platform::UniqueEvent ready;
    platform::UniqueEvent done;

    bool Create(const std::string& base) {
        ready.reset(CreateEventA(nullptr, TRUE, FALSE, (base + "Ready").c_str()));
        done.reset(CreateEventA(nullptr, TRUE, FALSE, (base + "Done").c_str()));
        return ready && done;
    }
    bool Open(const std::string& base) {
        ready.reset(OpenEventA(EVENT_MODIFY_STATE, FALSE, (base + "Ready").c_str()));
        done.reset(OpenEventA(SYNCHRONIZE, FALSE, (base + "Done").c_str()));
        return ready && done;
    }
};

// One camera as the host sees it: the frames its thread took and the
// numbers that never came.
struct CameraCount {
    QuorvexHostCamera* camera = nullptr;
    std::thread taker;
    std::atomic<int64_t> frames{0};
    std::atomic<int64_t> lost{0};

    void Take(const std::atomic<bool>& quit) {
        uint32_t last = 0;
        while (!quit) {
            QuorvexHostFrame frame{};
            if (QuorvexHostCameraRead(camera, 100, &frame) != QUORVEX_HOST_FRAME) {
                continue;
            }
            uint32_t number = 0;
            std::memcpy(&number, frame.pixels, sizeof number);
            QuorvexHostCameraRelease(camera, &frame);
            // A number seen again is a frame read twice, not one lost.
            if (last != 0 && number > last + 1) {
                lost += number - last - 1;
            }
            last = std::max(last, number);
            ++frames;
        }
    }
};

struct Snapshot {
    int64_t frames = 0;
    int64_t lost = 0;
    int64_t cpuNs = 0;
    int64_t wallNs = 0;

    static Snapshot Take(const std::vector<std::unique_ptr<CameraCount>>& counts) {
        Snapshot snapshot;
        for (const auto& count : counts) {
            snapshot.frames += count->frames;
            snapshot.lost += count->lost;
        }
        snapshot.cpuNs = platform::ProcessCpuNanoseconds();
        snapshot.wallNs = platform::MonotonicNanoseconds();
        return snapshot;
    }
};

bool AllStreaming(const std::vector<std::unique_ptr<CameraCount>>& counts) {
    const DWORD start = GetTickCount();
    for (size_t i = 0; i < counts.size(); ++i) {
        while (counts[i]->frames == 0) {
            if (GetTickCount() - start > kWaitMs) {
                std::fprintf(stderr, "many cameras: camera %d delivered no frame\n", static_cast<int>(i) + 1);
                return false;
            }
            Sleep(10);
        }
    }
    return true;
}

// The servers' figures, as the child leaves them in its file.
bool ReadServerFigures(const std::string& path, ManyCamerasFigures& figures) {
    std::ifstream file(path);
    return static_cast<bool>(file >> figures.publishUs >> figures.frameCopyUs >> figures.lateTicks);
}

// Waits until `deadline` on the monotonic clock, in whole milliseconds of
// sleep; the last part of a millisecond is not waited for.
void SleepUntil(int64_t deadline) {
    const int64_t left = deadline - platform::MonotonicNanoseconds();
    if (left >= 1000000) {
        Sleep(static_cast<DWORD>(left / 1000000));
    }
}

}  // namespace

int FrameServersMain(const std::vector<std::string>& args) {
    if (args.size() != 6) {
        return 2;
    }
    const std::string& base = args[0];
    const int cameras = std::stoi(args[1]);
    const int width = std::stoi(args[2]);
    const int height = std::stoi(args[3]);
    const int fps = std::stoi(args[4]);
    const std::string& figuresPath = args[5];
    const int bytes = width * height;
    ServerEvents events;
    if (!events.Open(base) || cameras < 1 || cameras > kMaxCameras || bytes < 8 || fps < 1) {
        return 3;
    }
    std::vector<QuorvexServer*> servers;
    // Prepared once: a gradient, with the frame's number written into the
    // first four bytes before each publish.
    std::vector<std::vector<uint8_t>> frames;
    int result = 0;
    for (int i = 0; i < cameras && result == 0; ++i) {
        QuorvexServer* server = QuorvexServerCreate(ShareOf(base, i).c_str(), bytes, 1);
        if (server == nullptr) {
            std::fprintf(stderr, "%s\n", QuorvexServerLastError(nullptr));
            result = 4;
        } else {
            // Sent to the client once it comes; none is attached yet.
            QuorvexServerSetDimensions(server, width, height, 1);
            servers.push_back(server);
        }
        frames.emplace_back(static_cast<size_t>(bytes));
        for (size_t b = 0; b < frames.back().size(); ++b) {
            frames.back()[b] = static_cast<uint8_t>(b + static_cast<size_t>(i));
        }
    }
    std::vector<double> publishNs;
    std::vector<double> copyNs;
    std::vector<uint8_t> warm(static_cast<size_t>(bytes), 0);
    int64_t late = 0;
    if (result == 0) {
        SetEvent(events.ready.get());
        const int64_t period = 1000000000 / fps;
        int64_t next = platform::MonotonicNanoseconds();
        for (uint32_t number = 1; WaitForSingleObject(events.done.get(), 0) != WAIT_OBJECT_0; ++number) {
            for (size_t i = 0; i < servers.size(); ++i) {
                std::memcpy(frames[i].data(), &number, sizeof number);
                const int64_t start = platform::MonotonicNanoseconds();
                QuorvexServerPublishFrame(servers[i], frames[i].data(), bytes);
                publishNs.push_back(static_cast<double>(platform::MonotonicNanoseconds() - start));
            }
            if (number % kCopyEveryTicks == 0) {
                const int64_t start = platform::MonotonicNanoseconds();
                std::memcpy(warm.data(), frames[0].data(), warm.size());
                copyNs.push_back(static_cast<double>(platform::MonotonicNanoseconds() - start));
            }
            next += period;
            const int64_t now = platform::MonotonicNanoseconds();
            if (now - next > kLateTicks * period) {
                late += (now - next) / period;
                next = now;
            }
            SleepUntil(next);
        }
        std::ofstream figures(figuresPath, std::ios::trunc);
        figures << Percentile(publishNs, 0.5) / 1000.0 << " " << Percentile(copyNs, 0.5) / 1000.0 << " " << late
                << "\n";
    }
    for (QuorvexServer* server : servers) {
        QuorvexServerDestroy(server);
    }
    return result;
}

bool RunManyCameras(HostDriver& host, const ManyCamerasCase& test, ManyCamerasFigures& figures) {
    if (test.cameras < 1 || test.cameras > kMaxCameras) {
        return false;
    }
    static int run = 0;
    const std::string base = "quorvex-bench-" + RunToken() + "-many" + std::to_string(++run);
    ServerEvents events;
    if (!events.Create(base)) {
        std::fprintf(stderr, "many cameras: cannot create the servers' events\n");
        return false;
    }
    const std::string figuresPath = host.Folder() + "/" + base + ".figures";
    platform::ChildProcess servers;
    if (!servers.Start(platform::ProgramPath(),
                       {"--frame-servers", base, std::to_string(test.cameras), std::to_string(test.width),
                        std::to_string(test.height), std::to_string(test.fps), figuresPath},
                       host.Folder() + "/" + base + ".out") ||
        WaitForSingleObject(events.ready.get(), kWaitMs) != WAIT_OBJECT_0) {
        SetEvent(events.done.get());
        int exitCode = -1;
        if (!servers.Wait(kWaitMs, exitCode)) {
            servers.Kill();
        }
        std::fprintf(stderr, "many cameras: the servers did not start (exit code %d)\n", exitCode);
        return false;
    }
    // The driver is the one the host already loaded, on the same folder.
    QuorvexHost* library =
        QuorvexHostOpen((ProgramFolder() + "/" + QUORVEX_LIBRARY_FILE).c_str(), host.Folder().c_str());
    bool ok = library != nullptr;
    if (!ok) {
        std::fprintf(stderr, "many cameras: %s\n", QuorvexHostLastError());
    }
    std::vector<std::unique_ptr<CameraCount>> counts;
    std::atomic<bool> quit{false};
    for (int i = 0; ok && i < test.cameras; ++i) {
        const std::string share = ShareOf(base, i);
        const QuorvexHostSettings settings{share.c_str(), 1, static_cast<int>(kWaitMs)};
        const QuorvexHostCameraOptions options{i, 4, 1};
        auto count = std::make_unique<CameraCount>();
        if (QuorvexHostWriteSettings(library, CameraName(i).c_str(), &settings) != 1 ||
            (count->camera = QuorvexHostCameraOpen(library, CameraName(i).c_str(), &options)) == nullptr) {
            std::fprintf(stderr, "many cameras: camera %d did not open: %s\n", i + 1, QuorvexHostLastError());
            ok = false;
            break;
        }
        CameraCount& taking = *count;
        count->taker = std::thread([&taking, &quit] { taking.Take(quit); });
        counts.push_back(std::move(count));
    }
    if (ok && AllStreaming(counts)) {
        const Snapshot before = Snapshot::Take(counts);
        Sleep(static_cast<DWORD>(test.seconds) * 1000);
        const Snapshot after = Snapshot::Take(counts);
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
    quit = true;
    for (auto& count : counts) {
        count->taker.join();
        QuorvexHostCameraClose(count->camera);
    }
    QuorvexHostClose(library);
    SetEvent(events.done.get());
    int exitCode = -1;
    if (!servers.Wait(kWaitMs, exitCode) || exitCode != 0) {
        std::fprintf(stderr, "many cameras: the servers ended with %d\n", exitCode);
        servers.Kill();
        ok = false;
    } else if (!ReadServerFigures(figuresPath, figures)) {
        std::fprintf(stderr, "many cameras: the servers left no figures\n");
        ok = false;
    }
    return ok;
}

}  // namespace bench
