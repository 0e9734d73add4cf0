// One of the driver's cameras: the host-facing state of a client of one
// camera server, and the link thread that feeds it.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "camera/cmd_exchange_thread.h"
#include "camera/image_buffer.h"
#include "camera/port.h"
#include "platform/critical_section.h"
#include "quorvex.h"
#include "support/settings.h"

struct DriverState;

// Owned by the camera registry. The host's threads open, close, configure
// and query it and set its callbacks; its link thread (cmdThread) writes the
// frame geometry, the connection flag and the image buffer and calls the
// host's callbacks. Flags, geometry, port and callbacks are single atomic
// values; the settings are replaced and read under settingsLock; the image
// buffer has its own lock. The link thread is joined before any member is
// destroyed.
class Camera {
public:
    // Throws the registry's text exception for a null name.
    explicit Camera(const char* name);
    ~Camera();
    Camera(const Camera&) = delete;
    Camera& operator=(const Camera&) = delete;

    // Host thread. Loads the settings, starts the link and waits up to the
    // connection time-out for the frame size, which goes to dimensions[0..1]
    // (0, 0 when it did not come). True, or an exception.
    bool Open(int32_t port, int* dimensions);
    void Close();
    void CleanupOnClose();

    void SetCompleteCB(CompleteCallback cb);
    void SetCmdCallback(CmdCallback cb);
    bool GetProperty(const char* name, int* value);
    // Logs a change of the connection state; called from both threads.
    void SetConnected(bool connected);
    // Shows the settings dialog over `parent`; true when it was confirmed.
    bool Configure(QuorvexWindow parent);

    // A copy of the settings, and their replacement, safe against the link
    // thread reading the share name.
    CameraSettings Settings();
    void ReplaceSettings(const CameraSettings& newSettings);

    // Held by a close while it marks the camera closed and tells the link
    // thread to stop, and by the link thread while it reports a connection,
    // so that a closed camera is never reported connected.
    platform::CriticalSection& LinkLock() { return linkLock; }

    std::atomic<bool> isOpen{false};
    std::atomic<bool> isConnected{false};
    std::atomic<int32_t> bytesPerPixel{0};
    std::atomic<int32_t> width{0};
    std::atomic<int32_t> height{0};
    const std::string name;
    std::atomic<CompleteCallback> completeCallback{nullptr};
    std::atomic<CmdCallback> cmdCallback{nullptr};
    DriverState* const driverState;
    CmdExchangeThread cmdThread;
    std::atomic<int32_t> port{kNoPort};
    ImageBuffer imageBuffer;

private:
    platform::CriticalSection linkLock;
    platform::CriticalSection settingsLock;
    CameraSettings settings;
    // Set once an open has loaded the stored section: from then on the
    // settings in memory are the camera's own, and the dialog shows them.
    std::atomic<bool> settingsLoaded{false};
};
