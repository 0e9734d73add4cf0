// quorvexsink's camera server: the element's frames published on a share
// through the camera-server library.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "quorvex_server.h"

namespace quorvexgst {

struct ServerDeleter {
    void operator()(QuorvexServer* server) const noexcept { QuorvexServerDestroy(server); }
};
using UniqueServer = std::unique_ptr<QuorvexServer, ServerDeleter>;

// What the element's properties ask of the server.
struct ShareSettings {
    std::string share;
    int maxClients = 4;
    int order = QUORVEX_ORDER_RGB;
};

// Owns the server of one share from the element's start to its stop. The
// element's state changes and its streaming thread may call at once: every
// call that uses the server holds `lock_`, so Stop waits for a frame in
// flight and a frame after Stop is refused. A wait for hosts holds it one
// short slice at a time; Cancel takes no lock.
class SharePublisher {
public:
    // Serves the share; false, with `error` saying why, when another server
    // serves it or the system refuses its objects. Nothing is kept then.
    bool Start(const ShareSettings& settings, std::string& error);
    // Releases the pipe, the segment and the mutex: the share is free again.
    void Stop();

    // Makes room for frames of this size and tells the attached hosts. A
    // frame larger than the segment replaces the server with a larger one;
    // its hosts attach again on their own.
    bool SetFrameSize(int width, int height, int bytesPerPixel, std::string& error);

    // Converts one frame into the segment and announces it, stamped with
    // `captureMicroseconds` (the library's clock; 0: now); false, with the
    // library's reason, when it was refused.
    bool Publish(const void* pixels, int width, int height, int strideBytes, int layout, int64_t captureMicroseconds,
                 std::string& error);

    // Leaves `count` frame numbers unused, for frames lost upstream.
    void SkipFrames(int count);

    enum class WaitResult { Attached, TimedOut, Cancelled };
    // Waits until `count` hosts are attached and know the frame size, at
    // most `timeoutMs`, or until Cancel.
    WaitResult WaitForHosts(int count, int timeoutMs);
    // Ends a wait in progress, and every later one until Resume.
    void Cancel() { cancelled_ = true; }
    void Resume() { cancelled_ = false; }

private:
    // With `lock_` held.
    bool Create(int64_t segmentBytes, std::string& error);

    std::mutex lock_;
    ShareSettings settings_;
    UniqueServer server_;
    int width_ = 0;
    int height_ = 0;
    int bytesPerPixel_ = 0;
    int64_t segmentBytes_ = 0;
    std::atomic<bool> cancelled_{false};
};

}  // namespace quorvexgst
