// How close the driver comes to the floor this machine allows, measured in
// one run: for each frame size a camera server in a child process (this
// program with --delivery-server) announces stamped frames to the driver
// and, with no driver, over a bare pipe; row reads beside memcpy; and many
// cameras in one host, served by one child (--frame-servers) with prepared
// frames, then the largest count of cameras that loses none.
//
// The delivery cases host the driver through its raw exports, since they
// time the exports themselves (getCVLGrabRow above all); the many cameras
// are hosted as a host would, through the host library.
//
//   link_bench [--repeat N] [--smoke] [--no-many] [--no-delivery] [--json PATH]
//              [--label TEXT] [--machine TEXT]
//
// --repeat runs everything N times and reports medians (of the ratios, for
// the ratios); --smoke runs every case briefly, for the build's smoke test.
// Goals are reported, never enforced: the exit code says only whether every
// case ran.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench_report.h"
#include "bench_support.h"
#include "delivery_bench.h"
#include "many_cameras_bench.h"

namespace {

struct Options {
    int repeat = 3;
    bool smoke = false;
    bool many = true;
    bool delivery = true;
    std::string json;
    std::string label = "native";
    std::string machine = "unknown machine";
};

bool Parse(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--repeat" && hasValue) {
            options.repeat = std::max(1, std::atoi(argv[++i]));
        } else if (arg == "--smoke") {
            options.smoke = true;
        } else if (arg == "--no-many") {
            options.many = false;
        } else if (arg == "--no-delivery") {
            options.delivery = false;
        } else if (arg == "--json" && hasValue) {
            options.json = argv[++i];
        } else if (arg == "--label" && hasValue) {
            options.label = argv[++i];
        } else if (arg == "--machine" && hasValue) {
            options.machine = argv[++i];
        } else {
            std::fprintf(stderr, "link_bench: unknown argument %s\n", arg.c_str());
            return false;
        }
    }
    return true;
}

std::vector<bench::FrameCase> Cases(bool smoke) {
    if (smoke) {
        return {{640, 480, 1, 20, 20}, {1920, 1080, 3, 5, 5}, {4096, 3072, 1, 3, 3}};
    }
    return {{640, 480, 1, 1000, 2000}, {1920, 1080, 3, 200, 200}, {4096, 3072, 1, 100, 100}};
}

bench::ManyCamerasCase ManyCase(bool smoke) {
    return smoke ? bench::ManyCamerasCase{2, 640, 480, 100, 1} : bench::ManyCamerasCase{32, 640, 480, 100, 30};
}

// The seconds of each trial in the search for the largest count of cameras
// that loses no frame.
constexpr int kSearchSeconds = 5;

// The largest count of cameras of `test`'s kind that lost no frame, knowing
// that `test.cameras` lost some; each count tried once, for a short time.
int LargestWithNoneLost(bench::HostDriver& host, bench::ManyCamerasCase test) {
    int good = 0;
    int bad = test.cameras;
    while (bad - good > 1) {
        test.cameras = (good + bad) / 2;
        test.seconds = kSearchSeconds;
        bench::ManyCamerasFigures figures;
        const bool none = bench::RunManyCameras(host, test, figures) && figures.lost == 0;
        std::fprintf(stderr, "link_bench: %d cameras lost %lld frames in %d s\n", test.cameras,
                     static_cast<long long>(figures.lost), test.seconds);
        (none ? good : bad) = test.cameras;
    }
    return good;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "--delivery-server") == 0) {
        return bench::DeliveryServerMain(std::vector<std::string>(argv + 2, argv + argc));
    }
    if (argc >= 2 && std::strcmp(argv[1], "--frame-servers") == 0) {
        return bench::FrameServersMain(std::vector<std::string>(argv + 2, argv + argc));
    }
    Options options;
    if (!Parse(argc, argv, options)) {
        return 2;
    }
    if (options.smoke) {
        options.repeat = 1;
    }
    bench::HostDriver host;
    std::string error;
    if (!host.Start(error)) {
        std::fprintf(stderr, "link_bench: %s\n", error.c_str());
        return 1;
    }
    bench::Report report;
    report.label = options.label;
    report.machine = options.machine;
    report.repeat = options.repeat;
    if (options.delivery) {
        report.cases = Cases(options.smoke);
    }
    report.delivery.resize(report.cases.size());
    report.manyCase = ManyCase(options.smoke);
    int failures = 0;
    for (int run = 0; run < options.repeat; ++run) {
        for (size_t i = 0; i < report.cases.size(); ++i) {
            bench::DeliveryFigures figures;
            if (bench::RunDelivery(host, report.cases[i], figures)) {
                report.delivery[i].push_back(figures);
            } else {
                ++failures;
            }
        }
        bench::ManyCamerasFigures many;
        if (options.many) {
            if (bench::RunManyCameras(host, report.manyCase, many)) {
                report.many.push_back(many);
            } else {
                ++failures;
            }
        }
    }
    if (options.many && !report.many.empty()) {
        report.largestNoneLost = report.many.front().lost == 0 || options.smoke
                                     ? report.manyCase.cameras
                                     : LargestWithNoneLost(host, report.manyCase);
        report.searchSeconds = kSearchSeconds;
    }
    report.PrintTable();
    if (!options.json.empty() && !report.WriteJson(options.json)) {
        std::fprintf(stderr, "link_bench: cannot write %s\n", options.json.c_str());
        ++failures;
    }
    return failures == 0 ? 0 : 1;
}
