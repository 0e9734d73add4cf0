// How fast frames travel the camera road: a camera server in a child process
// (this program with --server) writes frames into its segment and announces
// them; this process loads the driver as a host does, and its complete
// callback reads the frame's first bytes back. For each frame size it prints
// the frames per second the road carries, the time from the server's
// ImageReady to the host's CompleteCallback (median and 99th percentile), and
// for comparison a plain memcpy of the same number of bytes.
//
// The server stamps each frame, after writing it and just before announcing
// it, with platform::MonotonicNanoseconds, a clock both processes share.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "bench_host.h"
#include "link/messages.h"
#include "platform/clock.h"
#include "platform/process.h"
#include "platform/unique_handle.h"
#include "platform/win32.h"
#include "quorvex.h"
#include "quorvex_server.h"

namespace {

constexpr DWORD kWaitMs = 10000;
constexpr int kPort = 0;
constexpr const char* kCamera = "Camera 1";

struct Case {
    int width;
    int height;
    int bytesPerPixel;
    int latencyFrames;     // announced one at a time, each after the last was delivered
    int throughputFrames;  // announced as fast as the server writes them
    int Bytes() const { return width * height * bytesPerPixel; }
};

const Case kCases[] = {
    {640, 480, 1, 1000, 2000},
    {1920, 1080, 3, 200, 200},
    {4096, 3072, 1, 100, 100},
};

// The stamp at the start of every frame: its number and the time it was
// announced.
struct Stamp {
    int64_t announcedNs;
    int32_t number;
    int32_t unused;
};
static_assert(sizeof(Stamp) == 16, "the stamp fills the first 16 bytes of a frame");

// ---- The server process ----

// Writes frames into the segment itself, so that it can stamp each one just
// before its ImageReady; the library creates the objects and sends the
// messages.
int ServerMain(const std::vector<std::string>& args) {
    if (args.size() != 6) {
        return 2;
    }
    const std::string& share = args[0];
    const Case test{std::stoi(args[1]), std::stoi(args[2]), std::stoi(args[3]), std::stoi(args[4]),
                    std::stoi(args[5])};
    QuorvexServer* server = QuorvexServerCreate(share.c_str(), test.Bytes(), 1);
    if (server == nullptr) {
        return 3;
    }
    platform::UniqueMapping mapping(OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, share.c_str()));
    platform::UniqueView view(mapping ? MapViewOfFile(mapping.get(), FILE_MAP_ALL_ACCESS, 0, 0, 0) : nullptr);
    platform::UniqueMutex mutex(CreateMutexA(nullptr, FALSE, (share + "Mutex").c_str()));
    bench::RunEvents events;
    if (!view || !mutex || !events.Open(share)) {
        QuorvexServerDestroy(server);
        return 4;
    }
    QuorvexServerSetDimensions(server, test.width, test.height, test.bytesPerPixel);
    SetEvent(events.ready.get());

    std::vector<uint8_t> pixels(static_cast<size_t>(test.Bytes()));
    for (size_t i = 0; i < pixels.size(); ++i) {
        pixels[i] = static_cast<uint8_t>(i * 7);
    }
    const auto announce = [&](int number) {
        WaitForSingleObject(mutex.get(), INFINITE);
        std::memcpy(view.get(), pixels.data(), pixels.size());
        const Stamp stamp{platform::MonotonicNanoseconds(), number, 0};
        std::memcpy(view.get(), &stamp, sizeof stamp);
        ReleaseMutex(mutex.get());
        QuorvexServerSendHeader(server, ImageReady, number);
    };
    int result = 0;
    if (WaitForSingleObject(events.go.get(), kWaitMs) != WAIT_OBJECT_0) {
        result = 5;
    }
    for (int number = 1; result == 0 && number <= test.latencyFrames; ++number) {
        announce(number);
        if (WaitForSingleObject(events.consumed.get(), kWaitMs) != WAIT_OBJECT_0) {
            result = 6;
        }
    }
    for (int number = 1; result == 0 && number <= test.throughputFrames; ++number) {
        announce(test.latencyFrames + number);
    }
    // The client may still be reading what was announced.
    WaitForSingleObject(events.done.get(), kWaitMs);
    QuorvexServerDestroy(server);
    return result;
}

// ---- The host ----

bench::Driver driver;

// What the complete callback records, on the camera's thread.
struct Delivery {
    std::vector<int64_t> latencyNs;  // per frame, sized before the run
    std::vector<int64_t> arrivalNs;
    std::atomic<int> count{0};
    int stampLast = 0;  // the last pixel of row 0 that the stamp needs
    HANDLE consumed = nullptr;
};

Delivery delivery;

void QUORVEX_CALL OnFrame(int, int portNo) {
    const int64_t now = platform::MonotonicNanoseconds();
    uint8_t head[sizeof(Stamp) + 8];
    driver.getCVLGrabRow(0, portNo, head, 0, 0, delivery.stampLast);
    Stamp stamp;
    std::memcpy(&stamp, head, sizeof stamp);
    const int index = delivery.count;
    if (index < static_cast<int>(delivery.latencyNs.size())) {
        delivery.latencyNs[static_cast<size_t>(index)] = now - stamp.announcedNs;
        delivery.arrivalNs[static_cast<size_t>(index)] = now;
    }
    ++delivery.count;
    SetEvent(delivery.consumed);
}

bool WaitForCount(int count) {
    const DWORD start = GetTickCount();
    while (delivery.count < count) {
        if (GetTickCount() - start > kWaitMs) {
            return false;
        }
        Sleep(1);
    }
    return true;
}

double Percentile(std::vector<int64_t> values, double fraction) {
    std::sort(values.begin(), values.end());
    const size_t rank = static_cast<size_t>(fraction * static_cast<double>(values.size()) + 0.999999);
    return static_cast<double>(values[std::min(values.size(), std::max<size_t>(rank, 1)) - 1]);
}

// The median time of one memcpy of `bytes`, in nanoseconds.
double MemcpyNs(size_t bytes, int rounds) {
    std::vector<uint8_t> source(bytes, 1);
    std::vector<uint8_t> target(bytes, 0);
    std::vector<int64_t> times;
    for (int round = 0; round < rounds; ++round) {
        source[static_cast<size_t>(round) % bytes] = static_cast<uint8_t>(round);
        const int64_t start = platform::MonotonicNanoseconds();
        std::memcpy(target.data(), source.data(), bytes);
        times.push_back(platform::MonotonicNanoseconds() - start);
    }
    volatile uint8_t sink = target[bytes / 2];
    (void)sink;
    return Percentile(times, 0.5);
}

struct Result {
    double framesPerSecond = 0;
    double medianUs = 0;
    double p99Us = 0;
};

bool Run(const Case& test, const std::string& folder, Result& result) {
    const std::string share =
        "quorvex-bench-" + bench::RunToken() + "-" + std::to_string(test.width) + "x" + std::to_string(test.height);
    {
        std::ofstream ini(folder + platform::kPathSeparator + "Quorvex.ini", std::ios::trunc);
        ini << "[" << kCamera << "]\nPipeName=" << share << "\nLogLevel=0\nConnectionTimeout=" << kWaitMs << "\n";
    }
    bench::RunEvents events;
    if (!events.Create(share)) {
        std::fprintf(stderr, "cannot create the run's events\n");
        return false;
    }
    const int total = test.latencyFrames + test.throughputFrames;
    delivery.latencyNs.assign(static_cast<size_t>(total), 0);
    delivery.arrivalNs.assign(static_cast<size_t>(total), 0);
    delivery.count = 0;
    delivery.stampLast = (static_cast<int>(sizeof(Stamp)) + test.bytesPerPixel - 1) / test.bytesPerPixel - 1;
    delivery.consumed = events.consumed.get();

    platform::ChildProcess server;
    if (!server.Start(platform::ProgramPath(),
                      {"--server", share, std::to_string(test.width), std::to_string(test.height),
                       std::to_string(test.bytesPerPixel), std::to_string(test.latencyFrames),
                       std::to_string(test.throughputFrames)},
                      folder + platform::kPathSeparator + "server.out") ||
        WaitForSingleObject(events.ready.get(), kWaitMs) != WAIT_OBJECT_0) {
        std::fprintf(stderr, "the server process did not start\n");
        return false;
    }
    int dimensions[2] = {0, 0};
    if (driver.openCVLPort(0, kPort, kCamera, dimensions) != 1 || dimensions[0] != test.width) {
        std::fprintf(stderr, "the camera did not connect\n");
        return false;
    }
    driver.setCompleteCallback(0, kPort, &OnFrame);
    SetEvent(events.go.get());
    const bool delivered = WaitForCount(total);
    SetEvent(events.done.get());
    driver.closeCVLPort(0, kPort);
    int exitCode = -1;
    server.Wait(kWaitMs, exitCode);
    if (!delivered || exitCode != 0) {
        std::fprintf(stderr, "%d of %d frames delivered; the server ended with %d\n", delivery.count.load(), total,
                     exitCode);
        return false;
    }

    const std::vector<int64_t> latencies(delivery.latencyNs.begin(), delivery.latencyNs.begin() + test.latencyFrames);
    result.medianUs = Percentile(latencies, 0.5) / 1000.0;
    result.p99Us = Percentile(latencies, 0.99) / 1000.0;
    const int64_t first = delivery.arrivalNs[static_cast<size_t>(test.latencyFrames)];
    const int64_t last = delivery.arrivalNs[static_cast<size_t>(total - 1)];
    result.framesPerSecond = (test.throughputFrames - 1) * 1e9 / static_cast<double>(std::max<int64_t>(last - first, 1));
    return true;
}

int HostMain() {
    const std::string library = platform::FolderOf(platform::ProgramPath()) + platform::kPathSeparator +
                                QUORVEX_LIBRARY_FILE;
    if (!driver.Load(library)) {
        std::fprintf(stderr, "cannot load %s\n", library.c_str());
        return 1;
    }
    const std::filesystem::path folder = std::filesystem::temp_directory_path() / ("quorvex-bench-" + bench::RunToken());
    std::filesystem::create_directories(folder);
    driver.initialize(folder.string().c_str(), nullptr);

    std::printf("%-16s %10s %14s %14s %14s %14s\n", "frame", "frames/s", "latency p50", "latency p99", "memcpy",
                "memcpy/s");
    int failures = 0;
    for (const Case& test : kCases) {
        Result result;
        const std::string name =
            std::to_string(test.width) + "x" + std::to_string(test.height) + "x" + std::to_string(test.bytesPerPixel);
        if (!Run(test, folder.string(), result)) {
            std::printf("%-16s failed\n", name.c_str());
            ++failures;
            continue;
        }
        const double memcpyUs = MemcpyNs(static_cast<size_t>(test.Bytes()), 50) / 1000.0;
        std::printf("%-16s %10.0f %11.1f us %11.1f us %11.1f us %14.0f\n", name.c_str(), result.framesPerSecond,
                    result.medianUs, result.p99Us, memcpyUs, 1e6 / memcpyUs);
    }
    driver.finalize();
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    return failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "--server") == 0) {
        return ServerMain(std::vector<std::string>(argv + 2, argv + argc));
    }
    return HostMain();
}
