// The one process-wide record that the exports, the cameras and the log share.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "platform/critical_section.h"
#include "quorvex.h"

// Host threads and camera threads read the thresholds and the host procedure
// while another host thread may change them, so those fields are atomics; the
// system path is a text and is changed and copied only under `lock`.
struct DriverState {
    std::atomic<DebugMsgProc> debugMsgProc{nullptr};
    std::atomic<int32_t> refCount{0};
    std::atomic<int32_t> logLevel{1};
    std::atomic<bool> logIntoFile{false};
    std::atomic<int32_t> debugOutputLevel{0};
    platform::CriticalSection lock;
    // Set when the library is unloaded (or the process exits): from then on
    // nothing is logged, so that no host procedure is called while the host
    // is being torn down, by camera threads that outlive it included.
    std::atomic<bool> unloading{false};

    // Whether a line of `level` passes the thresholds: the log's filter, here
    // so that a per-row line filtered out costs no call.
    bool Passes(int level) const {
        return level <= logLevel.load(std::memory_order_relaxed) ||
               level <= debugOutputLevel.load(std::memory_order_relaxed);
    }

    void SetSystemPath(const char* path);
    std::string SystemPath();

private:
    std::string systemPath;
};

// Built on first use and never destroyed: camera threads of a host that
// exits without its last finalize may still log while the exit list runs.
DriverState* GetDriverState();
