// The time of one QuorvexServerPublishFrameEx call from C, for comparison
// with the same call made through the Python package
// (bench/python_publish_bench.py runs both).
//
// Usage: publish_call_bench [WIDTH HEIGHT [CALLS]]   (default 1920 1080 300)
// Prints the median and the fastest call in microseconds, for an rgb24
// frame published as rgb24 to a server without clients.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "quorvex_server.h"

int main(int argc, char** argv) {
    const int width = argc > 2 ? std::atoi(argv[1]) : 1920;
    const int height = argc > 2 ? std::atoi(argv[2]) : 1080;
    const int calls = argc > 3 ? std::atoi(argv[3]) : 300;
    const int stride = width * 3;
    if (width <= 0 || height <= 0 || calls <= 0) {
        std::fprintf(stderr, "usage: publish_call_bench [WIDTH HEIGHT [CALLS]]\n");
        return 2;
    }
    const std::string share = "publish-call-bench-" + std::to_string(std::random_device{}());
    QuorvexServer* server = QuorvexServerCreate(share.c_str(), stride * height, 1);
    if (server == nullptr) {
        std::fprintf(stderr, "cannot create a server on %s\n", share.c_str());
        return 1;
    }
    std::vector<unsigned char> frame(static_cast<size_t>(stride) * height, 7);
    std::vector<double> micros;
    for (int call = 0; call < calls; ++call) {
        const auto start = std::chrono::steady_clock::now();
        const int sent = QuorvexServerPublishFrameEx(server, frame.data(), width, height, stride, QUORVEX_FORMAT_RGB24);
        const auto end = std::chrono::steady_clock::now();
        if (sent < 0) {
            std::fprintf(stderr, "publish refused: %s\n", QuorvexServerLastError(server));
            return 1;
        }
        micros.push_back(std::chrono::duration<double, std::micro>(end - start).count());
    }
    QuorvexServerDestroy(server);
    std::sort(micros.begin(), micros.end());
    std::printf("C publish %dx%dx3: median %.1f us, fastest %.1f us over %d calls\n", width, height,
                micros[micros.size() / 2], micros.front(), calls);
    return 0;
}
