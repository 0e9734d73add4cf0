// Quorvex beside GStreamer's own shared-memory transport, through the same
// pipelines between two processes: a child (this program with --produce)
// pushes prepared GRAY8 frames, each stamped with the time it is pushed and
// numbered, from an appsrc into shmsink or quorvexsink at a fixed rate; this
// process takes them from shmsrc or quorvexsrc (through the driver) into an
// appsink. For each transport and size it prints the latency from the stamp
// to the appsink, the frames per second taken, the frames lost, and the
// processor time per frame on either side, with Quorvex's ratios to the peer.
//
//   gst_peer_bench [--seconds S] [--fps F] [--smoke]
#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>
#include <gst/gst.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/process.h"

namespace {

constexpr unsigned kWaitMs = 30000;
// (GLib's headers and the platform's Win32 names do not mix: this program
// uses neither the handles nor Sleep.)
void SleepMs(int64_t milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

const std::string& RunToken() {
    static const std::string token = std::to_string(std::random_device{}() % 1000000);
    return token;
}
// The first bytes of every frame.
struct Stamp {
    int64_t pushedNs;
    uint32_t number;
    uint32_t unused;
};

enum class Transport { Shm, Quorvex };

const char* NameOf(Transport transport) {
    return transport == Transport::Shm ? "shmsink -> shmsrc" : "quorvexsink -> driver -> quorvexsrc";
}

std::string Caps(int width, int height, int fps) {
    return "video/x-raw,format=GRAY8,width=" + std::to_string(width) + ",height=" + std::to_string(height) +
           ",framerate=" + std::to_string(fps) + "/1";
}

double Percentile(std::vector<double> values, double fraction) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    const auto rank = static_cast<size_t>(fraction * static_cast<double>(values.size()));
    return values[std::min(rank, values.size() - 1)];
}

GstElement* Launch(const std::string& description) {
    GError* error = nullptr;
    GstElement* pipeline = gst_parse_launch(description.c_str(), &error);
    if (error != nullptr) {
        std::fprintf(stderr, "gst_peer_bench: %s: %s\n", description.c_str(), error->message);
        g_error_free(error);
        if (pipeline != nullptr) {
            gst_object_unref(pipeline);
        }
        return nullptr;
    }
    return pipeline;
}

// ---- The producing child ----

int Produce(const std::vector<std::string>& args) {
    if (args.size() != 7) {
        return 2;
    }
    const Transport transport = args[0] == "shm" ? Transport::Shm : Transport::Quorvex;
    const std::string& endpoint = args[1];
    const int width = std::stoi(args[2]);
    const int height = std::stoi(args[3]);
    const int fps = std::stoi(args[4]);
    const int frames = std::stoi(args[5]);
    const std::string& figuresPath = args[6];
    const size_t bytes = static_cast<size_t>(width) * static_cast<size_t>(height);
    const std::string sink = transport == Transport::Shm
                                 ? "shmsink socket-path=" + endpoint + " shm-size=" + std::to_string(bytes * 8) +
                                       " wait-for-connection=true sync=false"
                                 : "quorvexsink share=" + endpoint + " wait-for-hosts=1 sync=false";
    // A blocking source of two frames at most: no frame waits in a queue
    // while the sink waits for its consumer.
    GstElement* pipeline = Launch("appsrc name=src is-live=true format=time do-timestamp=true block=true max-bytes=" +
                                  std::to_string(2 * bytes) + " caps=" + Caps(width, height, fps) + " ! " + sink);
    if (pipeline == nullptr) {
        return 3;
    }
    GstElement* source = gst_bin_get_by_name(GST_BIN(pipeline), "src");
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    std::vector<uint8_t> prepared(bytes);
    for (size_t i = 0; i < bytes; ++i) {
        prepared[i] = static_cast<uint8_t>(i * 7);
    }
    const int64_t period = 1000000000LL / fps;
    int64_t next = platform::MonotonicNanoseconds();
    const auto push = [&](uint32_t number) {
        GstBuffer* buffer = gst_buffer_new_allocate(nullptr, bytes, nullptr);
        GstMapInfo map;
        gst_buffer_map(buffer, &map, GST_MAP_WRITE);
        std::memcpy(map.data, prepared.data(), bytes);
        const Stamp stamp{platform::MonotonicNanoseconds(), number, 0};
        std::memcpy(map.data, &stamp, sizeof stamp);
        gst_buffer_unmap(buffer, &map);
        const bool pushed = gst_app_src_push_buffer(GST_APP_SRC(source), buffer) == GST_FLOW_OK;
        next += period;
        const int64_t left = next - platform::MonotonicNanoseconds();
        if (left >= 1000000) {
            SleepMs(left / 1000000);
        }
        return pushed;
    };
    // Frames numbered 0 until the consumer has taken one, then a pause for
    // what was on its way, then the measured frames.
    const int64_t start = platform::MonotonicNanoseconds();
    while (!std::filesystem::exists(figuresPath + ".started") &&
           platform::MonotonicNanoseconds() - start < kWaitMs * 1000000LL && push(0)) {
    }
    SleepMs(200);
    next = platform::MonotonicNanoseconds();
    const int64_t cpuStart = platform::ProcessCpuNanoseconds();
    for (int number = 1; number <= frames && push(static_cast<uint32_t>(number)); ++number) {
    }
    const int64_t cpuNs = platform::ProcessCpuNanoseconds() - cpuStart;
    gst_app_src_end_of_stream(GST_APP_SRC(source));
    GstBus* bus = gst_element_get_bus(pipeline);
    gst_message_unref(gst_bus_timed_pop_filtered(bus, 5 * GST_SECOND,
                                                 static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR)));
    gst_object_unref(bus);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(source);
    gst_object_unref(pipeline);
    std::ofstream(figuresPath) << static_cast<double>(cpuNs) / 1000.0 / frames << "\n";
    return 0;
}

// ---- The consuming host ----

struct Figures {
    double p50Us = 0;
    double p99Us = 0;
    double framesPerSecond = 0;
    int64_t lost = 0;
    double consumerCpuUs = 0;  // per frame taken
    double producerCpuUs = 0;  // per frame pushed
    bool ok = false;
};

Figures Consume(Transport transport, int width, int height, int fps, int frames, const std::string& folder) {
    Figures figures;
    static int run = 0;
    const std::string token = RunToken() + "-" + std::to_string(++run);
    const std::string endpoint = transport == Transport::Shm ? folder + "/shm-" + token : "quorvex-peer-bench-" + token;
    const std::string figuresPath = folder + "/producer-" + token;
    platform::ChildProcess producer;
    if (!producer.Start(platform::ProgramPath(),
                        {"--produce", transport == Transport::Shm ? "shm" : "quorvex", endpoint, std::to_string(width),
                         std::to_string(height), std::to_string(fps), std::to_string(frames), figuresPath},
                        folder + "/producer-" + token + ".out")) {
        return figures;
    }
    if (transport == Transport::Shm) {
        const int64_t start = platform::MonotonicNanoseconds();
        while (!std::filesystem::exists(endpoint) && platform::MonotonicNanoseconds() - start < kWaitMs * 1000000LL) {
            SleepMs(10);
        }
    }
    const std::string source =
        transport == Transport::Shm
            ? "shmsrc socket-path=" + endpoint + " is-live=true ! " + Caps(width, height, fps)
            : "quorvexsrc camera=\"Camera 1\" port=0 share=" + endpoint + " system-dir=" + folder;
    GstElement* pipeline = Launch(source + " ! appsink name=sink sync=false max-buffers=64");
    if (pipeline == nullptr) {
        producer.Kill();
        return figures;
    }
    GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "sink");
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    std::vector<double> latencies;
    uint32_t last = 0;
    int64_t firstNs = 0;
    int64_t lastNs = 0;
    int64_t cpuStart = 0;
    int taken = 0;
    while (static_cast<int>(last) < frames) {
        GstSample* sample = gst_app_sink_try_pull_sample(GST_APP_SINK(sink), 5 * GST_SECOND);
        if (sample == nullptr) {
            break;
        }
        const int64_t now = platform::MonotonicNanoseconds();
        GstMapInfo map;
        GstBuffer* buffer = gst_sample_get_buffer(sample);
        Stamp stamp{};
        if (gst_buffer_map(buffer, &map, GST_MAP_READ)) {
            std::memcpy(&stamp, map.data, std::min(sizeof stamp, map.size));
            gst_buffer_unmap(buffer, &map);
        }
        gst_sample_unref(sample);
        if (stamp.number == 0) {
            std::ofstream(figuresPath + ".started") << "1\n";
            continue;
        }
        if (taken == 0) {
            firstNs = now;
            cpuStart = platform::ProcessCpuNanoseconds();
        } else {
            latencies.push_back(static_cast<double>(now - stamp.pushedNs) / 1000.0);
            figures.lost += stamp.number > last + 1 ? stamp.number - last - 1 : 0;
        }
        last = std::max(last, stamp.number);
        lastNs = now;
        ++taken;
    }
    const int64_t cpuNs = platform::ProcessCpuNanoseconds() - cpuStart;
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(sink);
    gst_object_unref(pipeline);
    int exitCode = -1;
    if (!producer.Wait(kWaitMs, exitCode)) {
        producer.Kill();
    }
    std::ifstream producerFigures(figuresPath);
    figures.ok = taken > 1 && exitCode == 0 && static_cast<bool>(producerFigures >> figures.producerCpuUs);
    figures.p50Us = Percentile(latencies, 0.5);
    figures.p99Us = Percentile(latencies, 0.99);
    figures.framesPerSecond = (taken - 1) * 1e9 / static_cast<double>(std::max<int64_t>(lastNs - firstNs, 1));
    figures.consumerCpuUs = taken > 1 ? static_cast<double>(cpuNs) / 1000.0 / (taken - 1) : 0;
    return figures;
}

void PrintRow(const char* name, const Figures& f) {
    std::printf("| %s | %.1f us | %.1f us | %.1f | %lld | %.1f us | %.1f us |\n", name, f.p50Us, f.p99Us,
                f.framesPerSecond, static_cast<long long>(f.lost), f.producerCpuUs, f.consumerCpuUs);
}

}  // namespace

int main(int argc, char** argv) {
    gst_init(&argc, &argv);
    // The build's own plugin, whatever the installed registry holds.
    gst_registry_scan_path(gst_registry_get(), QUORVEX_GST_PLUGIN_DIR);
    if (argc >= 2 && std::strcmp(argv[1], "--produce") == 0) {
        return Produce(std::vector<std::string>(argv + 2, argv + argc));
    }
    int seconds = 10;
    int fps = 100;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--seconds" && i + 1 < argc) {
            seconds = std::max(1, std::atoi(argv[++i]));
        } else if (arg == "--fps" && i + 1 < argc) {
            fps = std::max(1, std::atoi(argv[++i]));
        } else if (arg == "--smoke") {
            seconds = 1;
        } else {
            std::fprintf(stderr, "gst_peer_bench: unknown argument %s\n", arg.c_str());
            return 2;
        }
    }
    const std::filesystem::path folder = std::filesystem::temp_directory_path() / ("quorvex-peer-bench-" + RunToken());
    std::filesystem::create_directories(folder);
    struct Size {
        int width;
        int height;
    };
    int failures = 0;
    std::printf("GStreamer's shared memory beside Quorvex, GRAY8 at %d fps for %d s, two processes\n\n", fps, seconds);
    std::printf(
        "| frame | path | p50 latency | p99 latency | fps | lost | CPU per frame, producer | CPU per frame, consumer "
        "|\n|---|---|---|---|---|---|---|---|\n");
    for (const Size size : {Size{640, 480}, Size{1920, 1080}}) {
        const int frames = fps * seconds;
        const Figures peer = Consume(Transport::Shm, size.width, size.height, fps, frames, folder.string());
        const Figures quorvex = Consume(Transport::Quorvex, size.width, size.height, fps, frames, folder.string());
        const std::string name = std::to_string(size.width) + "x" + std::to_string(size.height);
        for (const auto& [transport, figures] :
             {std::pair{Transport::Shm, peer}, std::pair{Transport::Quorvex, quorvex}}) {
            if (!figures.ok) {
                std::printf("| %s | %s | failed |\n", name.c_str(), NameOf(transport));
                ++failures;
                continue;
            }
            PrintRow((name + " | " + NameOf(transport)).c_str(), figures);
        }
        if (peer.ok && quorvex.ok) {
            std::printf("| %s | Quorvex / peer | %.2f | %.2f | %.2f | | %.2f | %.2f |\n", name.c_str(),
                        quorvex.p50Us / peer.p50Us, quorvex.p99Us / peer.p99Us,
                        quorvex.framesPerSecond / peer.framesPerSecond, quorvex.producerCpuUs / peer.producerCpuUs,
                        quorvex.consumerCpuUs / peer.consumerCpuUs);
        }
    }
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    return failures == 0 ? 0 : 1;
}
