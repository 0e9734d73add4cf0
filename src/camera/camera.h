// One of the driver's cameras: the host-facing state of a client of one
// camera server, and the link thread that feeds it.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "camera/cmd_exchange_thread.h"
#include "camera/image_buffer.h"
#include "platform/critical_section.h"
#include "quorvex.h"
#include "support/settings.h"

struct DriverState;

// The port of a camera that holds none.
constexpr int32_t kNoPort = -2;

// Owned by the camera registry. The host's threads open, close, configure
// and query it and set its callbacks; its link thread (cmdThread) writes the
// frame geometry, the connection flag and the image buffer and calls the
// host's callbacks. Flags, geometry, port and callbacks are single atomic
// values; the settings are replaced and read under settingsLock; the image
// buffer has its own lock.
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
    platform::CriticalSection settingsLock;
    CameraSettings settings;
};
