// quorvexsink against the camera-server library it is built on: GRAY8
// 640x480 frames published by a child process (this program with
// --publisher sdk|gst), either by calling QuorvexServerPublishFrameEx
// directly or by pushing them into quorvexsink, and received
// here by the driver as a host receives them. For each it prints the rate at
// which the publisher gets frames out when nothing holds it back, and the
// time from the frame being handed over (to the SDK call; to the sink's pad)
// to the host's CompleteCallback, one frame at a time. Rounds
// alternate the two; the medians are compared.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "bench_host.h"
#include "driver_library.h"
#include "platform/clock.h"
#include "platform/process.h"
#include "platform/unique_handle.h"
#include "platform/win32.h"
#include "quorvex.h"
#include "sink_publishers.h"

namespace {

constexpr DWORD kWaitMs = 30000;
constexpr int kPort = 0;
constexpr const char* kCamera = "Camera 1";
constexpr int kWidth = 640;
constexpr int kHeight = 480;
constexpr int kLatencyFrames = 500;
constexpr int kThroughputFrames = 3000;
constexpr int kRounds = 5;
constexpr const char* kRateKey = "published-per-second=";

// ---- The publisher process ----

int PublisherMain(const std::vector<std::string>& args) {
    if (args.size() != 2) {
        return 2;
    }
    const std::string& mode = args[0];
    const std::string& share = args[1];
    bench::RunEvents events;
    if (!events.Open(share)) {
        return 3;
    }
    auto publisher = mode == "gst" ? bench::MakeGstPublisher(QUORVEX_GST_PLUGIN_DIR) : bench::MakeSdkPublisher();
    SetEvent(events.ready.get());
    if (!publisher->Start(share, kWidth, kHeight) || WaitForSingleObject(events.go.get(), kWaitMs) != WAIT_OBJECT_0) {
        return 4;
    }
    for (int number = 1; number <= kLatencyFrames; ++number) {
        if (!publisher->Publish(number) || WaitForSingleObject(events.consumed.get(), kWaitMs) != WAIT_OBJECT_0) {
            return 5;
        }
    }
    const int64_t start = platform::MonotonicNanoseconds();
    for (int number = 1; number <= kThroughputFrames; ++number) {
        if (!publisher->Publish(kLatencyFrames + number)) {
            return 6;
        }
    }
    if (!publisher->Flush()) {
        return 7;
    }
    const double seconds = static_cast<double>(platform::MonotonicNanoseconds() - start) / 1e9;
    std::printf("%s%.1f\n", kRateKey, kThroughputFrames / seconds);
    std::fflush(stdout);
    WaitForSingleObject(events.done.get(), kWaitMs);
    return 0;
}

// ---- The host ----

host::DriverLibrary driver;

// What the complete callback records, on the camera's thread.
struct Delivery {
    std::vector<int64_t> latencyNs;  // the latency phase's frames
    std::atomic<int> count{0};
    std::atomic<int> lastNumber{0};
    int throughputFrames = 0;  // distinct frames of the rate phase
    HANDLE consumed = nullptr;
};

Delivery delivery;

void QUORVEX_CALL OnFrame(int, int portNo) {
    const int64_t now = platform::MonotonicNanoseconds();
    uint8_t head[sizeof(bench::Stamp)];
    driver.getCVLGrabRow(0, portNo, head, 0, 0, static_cast<int>(sizeof head) - 1);
    bench::Stamp stamp;
    std::memcpy(&stamp, head, sizeof stamp);
    // A frame copied again (announced twice, or overwritten by the next at
    // the unlimited rate) counts once.
    if (stamp.number <= delivery.lastNumber) {
        return;
    }
    if (stamp.number <= kLatencyFrames) {
        delivery.latencyNs.push_back(now - stamp.publishedNs);
        SetEvent(delivery.consumed);
    } else {
        ++delivery.throughputFrames;
    }
    delivery.lastNumber = stamp.number;
    ++delivery.count;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double Percentile(std::vector<int64_t> values, double fraction) {
    std::sort(values.begin(), values.end());
    const size_t rank = static_cast<size_t>(fraction * static_cast<double>(values.size()));
    return static_cast<double>(values[std::min(rank, values.size() - 1)]);
}

struct Result {
    double publishedPerSecond = 0;
    int distinctReceived = 0;
    double latencyP50Us = 0;
    double latencyP99Us = 0;
};

bool Run(const std::string& mode, int round, const std::string& folder, Result& result) {
    const std::string share = "quorvex-gst-bench-" + bench::RunToken() + "-" + mode + std::to_string(round);
    {
        std::ofstream ini(folder + platform::kPathSeparator + "Quorvex.ini", std::ios::trunc);
        ini << "[" << kCamera << "]\nPipeName=" << share << "\nLogLevel=0\nConnectionTimeout=100\n";
    }
    bench::RunEvents events;
    if (!events.Create(share)) {
        std::fprintf(stderr, "cannot create the run's events\n");
        return false;
    }
    delivery.latencyNs.clear();
    delivery.latencyNs.reserve(kLatencyFrames);
    delivery.count = 0;
    delivery.lastNumber = 0;
    delivery.throughputFrames = 0;
    delivery.consumed = events.consumed.get();

    const std::string output = folder + platform::kPathSeparator + "publisher-" + mode + ".out";
    platform::ChildProcess publisher;
    if (!publisher.Start(platform::ProgramPath(), {"--publisher", mode, share}, output) ||
        WaitForSingleObject(events.ready.get(), kWaitMs) != WAIT_OBJECT_0) {
        std::fprintf(stderr, "the %s publisher did not start\n", mode.c_str());
        return false;
    }
    // The share is served soon after Ready; the camera looks for it once a
    // second until then.
    int dimensions[2] = {0, 0};
    driver.openCVLPort(0, kPort, kCamera, dimensions);
    driver.setCompleteCallback(0, kPort, &OnFrame);
    SetEvent(events.go.get());
    const DWORD start = GetTickCount();
    while (delivery.lastNumber < kLatencyFrames + kThroughputFrames && publisher.IsRunning() &&
           GetTickCount() - start < kWaitMs) {
        Sleep(5);
    }
    // Frames lost at the unlimited rate never come: the publisher's end says
    // that all went out.
    SetEvent(events.done.get());
    int exitCode = -1;
    const bool ended = publisher.Wait(kWaitMs, exitCode);
    driver.closeCVLPort(0, kPort);
    std::ifstream text(output);
    const std::string printed((std::istreambuf_iterator<char>(text)), std::istreambuf_iterator<char>());
    const size_t at = printed.find(kRateKey);
    if (!ended || exitCode != 0 || at == std::string::npos ||
        delivery.latencyNs.size() != static_cast<size_t>(kLatencyFrames)) {
        std::fprintf(stderr, "%s: publisher ended %d, %zu latency frames; it printed:\n%s\n", mode.c_str(), exitCode,
                     delivery.latencyNs.size(), printed.c_str());
        return false;
    }
    result.publishedPerSecond = std::stod(printed.substr(at + std::strlen(kRateKey)));
    result.distinctReceived = delivery.throughputFrames;
    result.latencyP50Us = Percentile(delivery.latencyNs, 0.5) / 1000.0;
    result.latencyP99Us = Percentile(delivery.latencyNs, 0.99) / 1000.0;
    return true;
}

int HostMain() {
    const std::string library =
        platform::FolderOf(platform::ProgramPath()) + platform::kPathSeparator + QUORVEX_LIBRARY_FILE;
    std::string error;
    if (!driver.Load(library, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("quorvex-gst-bench-" + bench::RunToken());
    std::filesystem::create_directories(folder);
    driver.initialize(folder.string().c_str(), nullptr);

    std::printf("GRAY8 %dx%d; %d frames one at a time for the latency, %d at once for the rate\n", kWidth, kHeight,
                kLatencyFrames, kThroughputFrames);
    std::printf("%-6s %5s %14s %16s %14s %14s\n", "mode", "round", "published/s", "distinct at host", "latency p50",
                "latency p99");
    std::vector<double> rate[2];
    std::vector<double> latency[2];
    int failures = 0;
    for (int round = 1; round <= kRounds; ++round) {
        for (int m = 0; m < 2; ++m) {
            const std::string mode = m == 0 ? "sdk" : "gst";
            Result result;
            if (!Run(mode, round, folder.string(), result)) {
                ++failures;
                continue;
            }
            rate[m].push_back(result.publishedPerSecond);
            latency[m].push_back(result.latencyP50Us);
            std::printf("%-6s %5d %14.0f %16d %11.1f us %11.1f us\n", mode.c_str(), round, result.publishedPerSecond,
                        result.distinctReceived, result.latencyP50Us, result.latencyP99Us);
        }
    }
    driver.finalize();
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    if (failures > 0 || rate[0].empty() || rate[1].empty()) {
        return 1;
    }
    const double rateRatio = Median(rate[1]) / Median(rate[0]);
    const double latencyRatio = Median(latency[1]) / Median(latency[0]);
    std::printf(
        "median: quorvexsink publishes %.2f x the SDK's rate (goal >= 0.90); its latency is %.2f x the "
        "SDK's (goal <= 1.20)\n",
        rateRatio, latencyRatio);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "--publisher") == 0) {
        return PublisherMain(std::vector<std::string>(argv + 2, argv + argc));
    }
    return HostMain();
}
