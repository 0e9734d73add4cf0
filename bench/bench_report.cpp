#include "bench_report.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>

namespace bench {
namespace {

// The goals, reported beside the figures and never asserted.
constexpr double kLatencyGoalNative = 1.15;  // driver p50 / floor p50
constexpr double kLatencyGoalWine = 1.3;
constexpr double kTailGoal = 3.0;        // driver p99 / driver p50
constexpr double kThroughputGoal = 0.9;  // driver / floor frames per second
constexpr double kRowGoalNs = 15;        // getCVLGrabRow above memcpy, natively
constexpr double kManyCoresGoal = 0.25;
constexpr double kPublishGoal = 1.2;  // a publish / a memcpy of the frame

template <typename Run>
double MedianOf(const std::vector<Run>& runs, const std::function<double(const Run&)>& figure) {
    std::vector<double> values;
    for (const Run& run : runs) {
        values.push_back(figure(run));
    }
    return Percentile(values, 0.5);
}

struct DeliverySummary {
    double driverP50, driverP99, floorP50, floorP99, p50Ratio, p99Ratio, tailRatio;
    double floorNoise, driverFps, floorFps, fpsRatio, rowInCallbackNs, rowOtherThreadNs, rowCopyNs, inCallbackAboveNs,
        otherThreadAboveNs;

    explicit DeliverySummary(const std::vector<DeliveryFigures>& runs) {
        using F = const DeliveryFigures&;
        driverP50 = MedianOf<DeliveryFigures>(runs, [](F f) { return f.driver.p50Us; });
        driverP99 = MedianOf<DeliveryFigures>(runs, [](F f) { return f.driver.p99Us; });
        floorP50 = MedianOf<DeliveryFigures>(runs, [](F f) { return f.floor.p50Us; });
        floorP99 = MedianOf<DeliveryFigures>(runs, [](F f) { return f.floor.p99Us; });
        p50Ratio = MedianOf<DeliveryFigures>(runs, [](F f) { return f.driver.p50Us / f.floor.p50Us; });
        p99Ratio = MedianOf<DeliveryFigures>(runs, [](F f) { return f.driver.p99Us / f.floor.p99Us; });
        tailRatio = MedianOf<DeliveryFigures>(runs, [](F f) { return f.driver.p99Us / f.driver.p50Us; });
        floorNoise = MedianOf<DeliveryFigures>(runs, [](F f) { return f.floorNoise; });
        driverFps = MedianOf<DeliveryFigures>(runs, [](F f) { return f.driver.framesPerSecond; });
        floorFps = MedianOf<DeliveryFigures>(runs, [](F f) { return f.floor.framesPerSecond; });
        fpsRatio =
            MedianOf<DeliveryFigures>(runs, [](F f) { return f.driver.framesPerSecond / f.floor.framesPerSecond; });
        rowInCallbackNs = MedianOf<DeliveryFigures>(runs, [](F f) { return f.rowInCallbackNs; });
        rowOtherThreadNs = MedianOf<DeliveryFigures>(runs, [](F f) { return f.rowOtherThreadNs; });
        rowCopyNs = MedianOf<DeliveryFigures>(runs, [](F f) { return f.rowCopyNs; });
        inCallbackAboveNs =
            MedianOf<DeliveryFigures>(runs, [](F f) { return f.rowInCallbackNs - f.rowCopyInCallbackNs; });
        otherThreadAboveNs = MedianOf<DeliveryFigures>(runs, [](F f) { return f.rowOtherThreadNs - f.rowCopyNs; });
    }
};

struct ManySummary {
    double framesPerCamera, lost, hostCores, hostCpuUsPerFrame, publishUs, frameCopyUs, publishRatio, lateTicks;

    explicit ManySummary(const std::vector<ManyCamerasFigures>& runs) {
        using F = const ManyCamerasFigures&;
        framesPerCamera = MedianOf<ManyCamerasFigures>(runs, [](F f) { return f.framesPerCamera; });
        lost = MedianOf<ManyCamerasFigures>(runs, [](F f) { return static_cast<double>(f.lost); });
        hostCores = MedianOf<ManyCamerasFigures>(runs, [](F f) { return f.hostCores; });
        hostCpuUsPerFrame = MedianOf<ManyCamerasFigures>(runs, [](F f) { return f.hostCpuUsPerFrame; });
        publishUs = MedianOf<ManyCamerasFigures>(runs, [](F f) { return f.publishUs; });
        frameCopyUs = MedianOf<ManyCamerasFigures>(runs, [](F f) { return f.frameCopyUs; });
        publishRatio = MedianOf<ManyCamerasFigures>(runs, [](F f) { return f.publishUs / f.frameCopyUs; });
        lateTicks = MedianOf<ManyCamerasFigures>(runs, [](F f) { return static_cast<double>(f.lateTicks); });
    }
};

const char* Mark(bool met) {
    return met ? "met" : "MISSED";
}

// The least noise a floor is granted, relative.
constexpr double kLeastNoise = 0.05;

// A ratio to the floor against its goal; a path that comes below the floor
// by more than the floor's noise shows that the floor is not one, and that
// is said instead.
const char* FloorMark(double ratio, double goal, double noise, bool lowerIsBetter) {
    const double margin = std::max(noise, kLeastNoise);
    if (lowerIsBetter ? ratio < 1 - margin : ratio > 1 + margin) {
        return "BEATS THE FLOOR (no floor)";
    }
    return Mark(lowerIsBetter ? ratio <= goal : ratio >= goal);
}

double LatencyGoal(const std::string& label) {
    return label == "wine" ? kLatencyGoalWine : kLatencyGoalNative;
}

std::string ManyName(const ManyCamerasCase& test) {
    return std::to_string(test.cameras) + " x " + std::to_string(test.width) + "x" + std::to_string(test.height) +
           "x1 @ " + std::to_string(test.fps) + " fps, " + std::to_string(test.seconds) + " s";
}

}  // namespace

void Report::PrintTable() const {
    std::printf("Quorvex benchmark, %s, %s; medians of %d run(s)\n\n", label.c_str(), machine.c_str(), repeat);
    std::printf(
        "| frame | driver p50 | floor p50 | p50 ratio | floor noise | driver p99 | floor p99 | p99 ratio | p99/p50 | "
        "driver fps | floor fps | fps ratio | goals |\n");
    std::printf("|---|---|---|---|---|---|---|---|---|---|---|---|---|\n");
    for (size_t i = 0; i < cases.size() && i < delivery.size(); ++i) {
        if (delivery[i].empty()) {
            std::printf("| %s | failed in every run |\n", cases[i].Name().c_str());
            continue;
        }
        const DeliverySummary s(delivery[i]);
        std::printf(
            "| %s | %.1f us | %.1f us | %.2f | %.0f%% | %.1f us | %.1f us | %.2f | %.2f | %.0f | %.0f | %.2f | "
            "p50 %s, tail %s, fps %s |\n",
            cases[i].Name().c_str(), s.driverP50, s.floorP50, s.p50Ratio, 100 * s.floorNoise, s.driverP99, s.floorP99,
            s.p99Ratio, s.tailRatio, s.driverFps, s.floorFps, s.fpsRatio,
            FloorMark(s.p50Ratio, LatencyGoal(label), s.floorNoise, true), Mark(s.tailRatio <= kTailGoal),
            FloorMark(s.fpsRatio, kThroughputGoal, s.floorNoise, false));
    }
    std::printf(
        "\n| row bytes | memcpy | row read in callback | above memcpy | from another thread | above memcpy | "
        "goals (native, %.0f ns) |\n|---|---|---|---|---|---|---|\n",
        kRowGoalNs);
    for (size_t i = 0; i < cases.size() && i < delivery.size(); ++i) {
        if (delivery[i].empty()) {
            continue;
        }
        const DeliverySummary s(delivery[i]);
        std::printf("| %d | %.1f ns | %.1f ns | %.1f ns | %.1f ns | %.1f ns | callback %s, other %s |\n",
                    cases[i].RowBytes(), s.rowCopyNs, s.rowInCallbackNs, s.inCallbackAboveNs, s.rowOtherThreadNs,
                    s.otherThreadAboveNs, Mark(s.inCallbackAboveNs <= kRowGoalNs),
                    Mark(s.otherThreadAboveNs <= kRowGoalNs));
    }
    if (!many.empty()) {
        const ManySummary s(many);
        std::printf(
            "\n| many cameras | frames per camera | lost | host cores | host CPU per frame | publish | memcpy of "
            "the frame | publish / memcpy | server ticks late | goals |\n|---|---|---|---|---|---|---|---|---|---|\n");
        std::printf(
            "| %s | %.0f | %.0f | %.3f | %.1f us | %.1f us | %.1f us | %.2f | %.0f | lost %s, cores %s, publish %s "
            "|\n",
            ManyName(manyCase).c_str(), s.framesPerCamera, s.lost, s.hostCores, s.hostCpuUsPerFrame, s.publishUs,
            s.frameCopyUs, s.publishRatio, s.lateTicks, Mark(s.lost == 0), Mark(s.hostCores <= kManyCoresGoal),
            Mark(s.publishRatio <= kPublishGoal));
        if (largestNoneLost >= 0) {
            std::printf(
                "\nLargest count of cameras at %d fps with no frame lost: %d%s\n", manyCase.fps, largestNoneLost,
                largestNoneLost == manyCase.cameras ? " (every camera of the case)"
                                                    : (" (trials of " + std::to_string(searchSeconds) + " s)").c_str());
        }
    }
    std::fflush(stdout);
}

bool Report::WriteJson(const std::string& path) const {
    std::ostringstream json;
    json << "{\n  \"label\": \"" << label << "\",\n  \"machine\": \"" << machine << "\",\n  \"repeat\": " << repeat
         << ",\n  \"delivery\": [";
    const char* separator = "\n";
    for (size_t i = 0; i < cases.size() && i < delivery.size(); ++i) {
        if (delivery[i].empty()) {
            continue;
        }
        const DeliverySummary s(delivery[i]);
        json << separator << "    {\"frame\": \"" << cases[i].Name() << "\", \"driver_p50_us\": " << s.driverP50
             << ", \"driver_p99_us\": " << s.driverP99 << ", \"floor_p50_us\": " << s.floorP50
             << ", \"floor_p99_us\": " << s.floorP99 << ", \"floor_noise\": " << s.floorNoise
             << ", \"p50_ratio\": " << s.p50Ratio << ", \"p99_ratio\": " << s.p99Ratio
             << ", \"driver_p99_over_p50\": " << s.tailRatio << ", \"driver_fps\": " << s.driverFps
             << ", \"floor_fps\": " << s.floorFps << ", \"fps_ratio\": " << s.fpsRatio
             << ", \"row_bytes\": " << cases[i].RowBytes() << ", \"row_memcpy_ns\": " << s.rowCopyNs
             << ", \"row_in_callback_ns\": " << s.rowInCallbackNs << ", \"row_other_thread_ns\": " << s.rowOtherThreadNs
             << "}";
        separator = ",\n";
    }
    json << "\n  ]";
    if (!many.empty()) {
        const ManySummary s(many);
        json << ",\n  \"many_cameras\": {\"case\": \"" << ManyName(manyCase)
             << "\", \"frames_per_camera\": " << s.framesPerCamera << ", \"lost\": " << s.lost
             << ", \"host_cores\": " << s.hostCores << ", \"host_cpu_us_per_frame\": " << s.hostCpuUsPerFrame
             << ", \"publish_us\": " << s.publishUs << ", \"frame_memcpy_us\": " << s.frameCopyUs
             << ", \"server_ticks_late\": " << s.lateTicks << ", \"largest_none_lost\": " << largestNoneLost << "}";
    }
    json << "\n}\n";
    std::ofstream file(path, std::ios::trunc);
    file << json.str();
    return static_cast<bool>(file);
}

}  // namespace bench
