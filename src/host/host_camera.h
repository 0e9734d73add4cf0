// One open camera as the host library holds it: the frames the driver
// announces are read on the camera's thread, row by row, straight into a
// queue buffer laid out with the caller's row pitch; a reader takes them from
// the queue.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "driver_exports.h"
#include "frame_queue.h"

namespace host {

struct CameraSetup {
    std::string name;
    int port = 1;
    size_t queueDepth = 1;
    int rowAlignment = 1;
    std::string share;  // as the driver read it at the open
};

struct CameraCounts {
    int64_t received = 0;
    int64_t replaced = 0;
    int64_t resets = 0;
    int64_t incomplete = 0;
    int64_t lost = 0;
    int64_t repeated = 0;
};

enum class ReadResult { kFrame, kNothingYet, kNoServer, kEnded };

// Threads: OnFrame and OnReset run on the camera's thread (the driver's
// callbacks); Read, Release and Counts on any thread. The frame geometry
// belongs to the camera's thread.
class HostCamera {
public:
    HostCamera(const tools::DriverExports& driver, CameraSetup setup);

    const CameraSetup& Setup() const { return setup_; }

    // The size openCVLPort answered; 0, 0 when no server had answered.
    void SetOpenedSize(int width, int height);
    int OpenedWidth() const { return openedWidth_; }
    int OpenedHeight() const { return openedHeight_; }

    // The driver's getProperty for the camera's port.
    bool Property(const char* name, int& value) const;

    void OnFrame();
    void OnReset();

    // A frame, lent until Release, or why none came within `timeoutMs`
    // (negative: no limit) in `why`.
    ReadResult Read(int timeoutMs, const Frame*& frame, std::string& why);
    bool Release(const uint8_t* pixels) { return queue_.Release(pixels); }
    // The driver's LinkState for the camera; -1 when it does not answer.
    int LinkState() const;
    // Whether the link has ended (a Stop, or a frame the driver refused).
    bool Ended() const;
    CameraCounts Counts();

private:
    void ReadGeometry();
    // The server's number, capture time and gap of the frame in the driver's
    // buffer, and the time it arrived.
    void ReadStamp(Frame& frame);

    const tools::DriverExports& driver_;
    const CameraSetup setup_;
    FrameQueue queue_;
    std::atomic<bool> resetPending_{true};
    std::atomic<int64_t> resets_{0};
    std::atomic<int64_t> incomplete_{0};
    std::atomic<int64_t> lost_{0};
    std::atomic<int64_t> repeated_{0};
    // The camera's thread only: the server's number and capture time of the
    // last frame queued.
    int64_t lastServerNumber_ = 0;
    int64_t lastCaptureUs_ = 0;
    std::atomic<int> openedWidth_{0};
    std::atomic<int> openedHeight_{0};

    // The camera's thread.
    int width_ = 0;
    int height_ = 0;
    int bytesPerPixel_ = 0;
};

}  // namespace host
