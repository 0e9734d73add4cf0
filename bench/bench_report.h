// The benchmark's figures over all runs: the medians, a table for the
// terminal and the same as JSON.
#pragma once

#include <string>
#include <vector>

#include "delivery_bench.h"
#include "many_cameras_bench.h"

namespace bench {

struct Report {
    std::string label;    // where it ran: "native", "wine"
    std::string machine;  // processor, cores, system
    int repeat = 0;
    std::vector<FrameCase> cases;
    std::vector<std::vector<DeliveryFigures>> delivery;  // per case, one entry per run
    ManyCamerasCase manyCase{};
    std::vector<ManyCamerasFigures> many;  // one entry per run
    int largestNoneLost = -1;              // cameras at the case's rate; -1 when not searched
    int searchSeconds = 0;                 // the length of each trial of that search

    void PrintTable() const;
    bool WriteJson(const std::string& path) const;
};

}  // namespace bench
