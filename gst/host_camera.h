// quorvexsrc's host: one camera of the Quorvex driver, opened and read as a
// host application does, its frames handed over as GStreamer buffers.
#pragma once

#include <gst/gst.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

#include "quorvex.h"

namespace quorvexgst {

struct SourceSettings {
    std::string camera = "Camera 1";
    std::string share;  // empty: the camera keeps the share of its settings
    std::string systemDir;
    int port = 1;
};

struct FrameSize {
    int width = 0;
    int height = 0;
    int bytesPerPixel = 0;

    bool operator==(const FrameSize& other) const {
        return width == other.width && height == other.height && bytesPerPixel == other.bytesPerPixel;
    }
    bool operator!=(const FrameSize& other) const { return !(*this == other); }
};

struct BufferUnref {
    void operator()(GstBuffer* buffer) const noexcept { gst_buffer_unref(buffer); }
};
using UniqueBuffer = std::unique_ptr<GstBuffer, BufferUnref>;

struct HostFrame {
    UniqueBuffer buffer;
    FrameSize size;
};

// Owns the driver session of one camera, from initialize and openCVLPort to
// closeCVLPort and finalize, and the frames received and not yet taken.
// The driver's callbacks carry only the port, so open cameras are found by
// port in a process-wide table; two HostCameras cannot share a port.
//
// Threads: Open, Close and TakeFrame run on the element's threads;
// SetFlushing on any thread; the frame and command handlers on the camera's
// thread inside the driver. `lock_` guards the queue and the flushing flag.
class HostCamera {
public:
    // `element` is borrowed: its clock stamps each frame's arrival.
    explicit HostCamera(GstElement* element) : element_(element) {}
    ~HostCamera() { Close(); }
    HostCamera(const HostCamera&) = delete;
    HostCamera& operator=(const HostCamera&) = delete;

    // Writes the share into the camera's settings when one is given, then
    // opens the camera; false, with `error` saying why, when that fails.
    bool Open(const SourceSettings& settings, std::string& error);
    // Closes the camera (no handler runs after it) and drops what is queued.
    void Close();

    // Waits for the next frame; false when flushing.
    bool TakeFrame(HostFrame& frame);
    void SetFlushing(bool flushing);

private:
    static void QUORVEX_CALL OnComplete(int grabberNo, int portNo);
    static void QUORVEX_CALL OnCommand(int grabberNo, int portNo, const char* command, const char* argument);
    static void QUORVEX_CALL OnLog(const char* text);
    static HostCamera* AtPort(int port);

    bool Claim(int port, std::string& error);
    void Release();
    void HandleFrame();
    GstClockTime ArrivalTime() const;

    GstElement* element_;
    int port_ = 0;
    bool driverInitialized_ = false;
    bool portClaimed_ = false;
    bool cameraOpen_ = false;

    // The camera's thread.
    FrameSize size_;
    std::atomic<bool> resetPending_{true};
    uint64_t frameCount_ = 0;

    std::mutex lock_;
    std::condition_variable arrived_;
    std::deque<HostFrame> queue_;
    bool flushing_ = false;
};

}  // namespace quorvexgst
