// quorvexsrc's camera: one camera of the Quorvex driver, opened and read
// through the host library (quorvex_host), which loads the driver, writes the
// share into Quorvex.ini and queues the frames with GStreamer's row stride.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <string>

#include "quorvex_host.h"

namespace quorvexgst {

struct SourceSettings {
    std::string camera = "Camera 1";
    std::string share;  // empty: the camera keeps the share of its settings
    std::string systemDir;
    int port = 1;
};

struct HostCloser {
    void operator()(QuorvexHost* host) const noexcept { QuorvexHostClose(host); }
};
struct CameraCloser {
    void operator()(QuorvexHostCamera* camera) const noexcept { QuorvexHostCameraClose(camera); }
};

// A frame lent by the camera's queue, given back when the owner goes.
class LentFrame {
public:
    LentFrame() = default;
    ~LentFrame() { Release(); }
    LentFrame(const LentFrame&) = delete;
    LentFrame& operator=(const LentFrame&) = delete;

    const QuorvexHostFrame& Get() const { return frame_; }
    // Gives back what is held, then holds the frame `camera` lends next.
    QuorvexHostFrame& Receive(QuorvexHostCamera* camera);
    void Release();

private:
    QuorvexHostCamera* camera_ = nullptr;  // borrowed
    QuorvexHostFrame frame_{};
};

// What a wait for the next frame found.
enum class Waited {
    kFrame,     // in the LentFrame
    kFlushing,  // SetFlushing(true) ended the wait
    kNoServer,  // no server has answered for a while; waiting goes on at the next call
    kEnded,     // the stream ended (the server's Stop, or the driver ended the link)
    kFailed,
};

// Owns the host object and the open camera, from Open to Close.
//
// Threads: Open, Close and Wait on the element's threads, one at a time;
// SetFlushing on any thread.
class SourceCamera {
public:
    // Writes the share (when one is given) and opens the camera; false, with
    // `error` in the host library's words, when either is refused.
    bool Open(const SourceSettings& settings, std::string& error);
    void Close();

    // Waits for the next frame, looking at the flushing flag between short
    // reads. While no server answers it says so every kNoServerEvery; `why`
    // holds the host library's sentence for every answer but a frame.
    Waited Wait(LentFrame& frame, std::string& why);
    void SetFlushing(bool flushing) { flushing_ = flushing; }

    // How often a source without a server says so.
    static constexpr std::chrono::seconds kNoServerEvery{3};

private:
    std::unique_ptr<QuorvexHost, HostCloser> host_;
    std::unique_ptr<QuorvexHostCamera, CameraCloser> camera_;
    std::atomic<bool> flushing_{false};
    // When the source last said that no server answers, or started waiting
    // for one.
    std::chrono::steady_clock::time_point noServerSaid_;
    bool waitingForServer_ = false;
};

}  // namespace quorvexgst
