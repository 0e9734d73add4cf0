// What converting costs in QuorvexServerPublishFrameEx: for each source
// format, the fastest of many rounds (the least disturbed by other load on
// the machine) of publishing a 1920x1080 frame (one pass from the
// source rows into the segment under its mutex, no host attached) against a
// plain memcpy of the same frame into the same segment, mapped here by its
// name, and their ratio; a memcpy between two heap buffers is shown too. The
// server's channel order is RGB, so rgb24 and rgba32 are copies and bgr24 and
// bgra32 exchange red and blue.
//
//   publish_bench [ROUNDS]
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/unique_handle.h"
#include "platform/win32.h"
#include "quorvex_server.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Case {
    const char* name;
    int width;
    int height;
    int format;
    int bytesPerPixel;
    int padding;   // bytes after each source row
    double limit;  // the ratio to memcpy the library promises
};

// Every publish also pays a fixed cost (the segment's mutex, the service
// thread), which the larger gray frame shows in proportion.
const Case kCases[] = {
    {"gray8", 1920, 1080, QUORVEX_FORMAT_GRAY8, 1, 0, 1.3},
    {"rgb24 -> rgb24", 1920, 1080, QUORVEX_FORMAT_RGB24, 3, 0, 1.3},
    {"bgr24 -> rgb24", 1920, 1080, QUORVEX_FORMAT_BGR24, 3, 0, 2.0},
    {"rgb24, padded rows", 1920, 1080, QUORVEX_FORMAT_RGB24, 3, 64, 1.3},
    {"rgba32 -> rgba32", 1920, 1080, QUORVEX_FORMAT_RGBA32, 4, 0, 1.3},
    {"bgra32 -> rgba32", 1920, 1080, QUORVEX_FORMAT_BGRA32, 4, 0, 2.0},
    {"gray8 4096x3072", 4096, 3072, QUORVEX_FORMAT_GRAY8, 1, 0, 1.3},
};
constexpr int kSegmentBytes = 4096 * 3072;

template <typename Action>
double FastestMicroseconds(int rounds, Action action) {
    std::vector<double> times;
    for (int i = 0; i < rounds; ++i) {
        const auto start = Clock::now();
        action();
        times.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    return *std::min_element(times.begin(), times.end());
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::stoi(argv[1]) : 200;
    const std::string share = "QuorvexPublishBench-" + std::to_string(Clock::now().time_since_epoch().count());
    QuorvexServer* server = QuorvexServerCreate(share.c_str(), kSegmentBytes, 1);
    if (server == nullptr) {
        std::fprintf(stderr, "publish_bench: %s\n", QuorvexServerLastError(nullptr));
        return 1;
    }
    platform::UniqueMapping mapping(OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, share.c_str()));
    platform::UniqueView view(mapping ? MapViewOfFile(mapping.get(), FILE_MAP_ALL_ACCESS, 0, 0, 0) : nullptr);
    if (!view) {
        std::fprintf(stderr, "publish_bench: cannot map the segment, error %lu\n",
                     static_cast<unsigned long>(GetLastError()));
        return 1;
    }
    auto* segment = static_cast<uint8_t*>(view.get());
    std::printf("1920x1080 unless named, fastest of %d rounds, times in microseconds\n", rounds);
    std::printf("%-20s %12s %14s %12s %8s %8s\n", "format", "heap memcpy", "segment memcpy", "publish", "ratio",
                "limit");
    int failures = 0;
    for (const Case& c : kCases) {
        const int stride = c.width * c.bytesPerPixel + c.padding;
        const size_t frameBytes = static_cast<size_t>(c.width) * c.bytesPerPixel * c.height;
        std::vector<uint8_t> source(static_cast<size_t>(stride) * c.height);
        for (size_t i = 0; i < source.size(); ++i) {
            source[i] = static_cast<uint8_t>(i * 7 + (i >> 11));
        }
        std::vector<uint8_t> copy(frameBytes, 1);
        const double heapUs = FastestMicroseconds(rounds, [&] {
            std::memcpy(copy.data(), source.data(), frameBytes);
            // Keeps the copy from being optimised away.
            source[copy[frameBytes / 2] % 2] ^= 0;
        });
        const double memcpyUs = FastestMicroseconds(rounds, [&] { std::memcpy(segment, source.data(), frameBytes); });
        int refused = 0;
        const double publishUs = FastestMicroseconds(rounds, [&] {
            refused += QuorvexServerPublishFrameEx(server, source.data(), c.width, c.height, stride, c.format) < 0;
        });
        const double ratio = publishUs / memcpyUs;
        std::printf("%-20s %12.1f %14.1f %12.1f %8.2f %8.1f%s\n", c.name, heapUs, memcpyUs, publishUs, ratio, c.limit,
                    refused != 0 ? "  (refused)" : (ratio > c.limit ? "  (over)" : ""));
        failures += refused != 0 || ratio > c.limit;
    }
    QuorvexServerDestroy(server);
    return failures == 0 ? 0 : 1;
}
