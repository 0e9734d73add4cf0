// One of the driver's cameras: the host-facing state of a client of one
// camera server, and the link thread that feeds it.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "camera/cmd_exchange_thread.h"
#include "camera/image_buffer.h"
#include "camera/linked_camera.h"
#include "camera/port.h"
#include "platform/critical_section.h"
#include "quorvex.h"
#include "support/settings.h"

struct DriverState;

// Owned by the camera registry. The host's threads open, close, configure
// and query it and set its callbacks; its link thread (cmdThread) sees it
// only as a LinkedCamera, through which the camera itself writes the frame's
// shape, the connection flag and the image buffer and calls the host's
// callbacks. Flags, shape, port and callbacks are single atomic values; the
// settings are replaced and read under settingsLock; the image buffer has its
// own lock. The link thread is joined before any member is destroyed.
//
// The camera's open/close life, with every edge the code takes. H: any host
// thread; L: the link thread, inside one of the host's callbacks (the host
// may open and close from there too).
//
//   Closed  --Open (H, L)-------------------------------------> Opening
//   Opening --a frame shape came within the time-out-----------> Open, connected
//   Opening --no frame shape within the time-out, or opened----> Open, waiting
//             on the link thread itself (only it can bring one)
//   Opening --the link did not start (the exception goes on)---> Closed
//   Open, waiting   --a shape adopted, link reported up (L)----> Open, connected
//   Open, connected --the server lost, the link dropped (L)----> Open, waiting
//   Open, any       --the link ended: the server's Stop, a-----> Open, unlinked
//                     shape or frame it cannot take (L)
//   Open, any       --Close (H, L)-----------------------------> Closed
//   Open, any       --Open (H, L): logged, nothing changes
//   Closed          --Close (H, L): logged, the cleanup runs again
//   any             --destruction (the registry's last finalize)-> gone, closed
//                     first, the link thread joined
//
//   "Connected" is isConnected, which the link sets as it adopts a shape,
//   also while Opening; an open that gives up waiting clears it (a link that
//   had just set it then asks the host to reset). Close on the link thread
//   only tells the link to stop: the thread ends once the callback returns,
//   and the next Open or Close from another thread, or the destructor, joins
//   it; an Open there after such a close keeps the thread, which starts
//   afresh with the new port and share name.
//   From any state, on H or L: SetCompleteCB, SetCmdCallback, GetProperty,
//   Configure, Settings, ReplaceSettings, FrameShape, IsOpen. The other
//   LinkedCamera operations: L only.
class Camera final : public LinkedCamera {
public:
    // Throws the registry's text exception for a null name.
    explicit Camera(const char* name);
    ~Camera() override;
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
    // PixelSize (bits), Height and Width; and, read-only, what the link
    // knows: LinkState (CmdExchangeThread::LinkState), FramesDelivered,
    // FramesRefused, ResetsAsked and Reconnections since the open; for the
    // frame in the buffer FrameNumber, FrameCaptureHigh and FrameCaptureLow
    // (its capture time's halves) and FrameGap; and FramesSkipped.
    bool GetProperty(const char* name, int* value);
    // Logs a change of the connection state; called from both threads.
    void SetConnected(bool connected);
    // Shows the settings dialog over `parent`; true when it was confirmed.
    bool Configure(QuorvexWindow parent);

    // A copy of the settings, and their replacement, safe against the link
    // thread reading the share name.
    CameraSettings Settings();
    void ReplaceSettings(const CameraSettings& newSettings);

    bool IsOpen() const override { return isOpen; }
    FrameGeometry FrameShape() const override { return FrameGeometry{width, height, bytesPerPixel}; }

    // Read by the registry and the exports; in the driver, written only by the
    // camera's own operations.
    std::atomic<bool> isOpen{false};
    std::atomic<bool> isConnected{false};
    const std::string name;
    std::atomic<CompleteCallback> completeCallback{nullptr};
    std::atomic<CmdCallback> cmdCallback{nullptr};
    DriverState* const driverState;
    CmdExchangeThread cmdThread;
    std::atomic<int32_t> port{kNoPort};
    ImageBuffer imageBuffer;

private:
    const std::atomic<int32_t>* LinkProperty(const char* propertyName) const;

    // What the link thread does to its camera (LinkedCamera).
    bool IsConnected() const override { return isConnected; }
    bool ReportConnected() override;
    void ReportDisconnected() override { SetConnected(false); }
    void AdoptFrameShape(const FrameGeometry& shape, int32_t linkPort) override;
    void RequestReset(int32_t linkPort) override;
    CompleteCallback FrameReceiver() const override;
    int64_t StorableFrameBytes() override;
    bool StoreFrame(const void* source) override;

    // The current frame's shape, written by AdoptFrameShape only.
    std::atomic<int32_t> bytesPerPixel{0};
    std::atomic<int32_t> width{0};
    std::atomic<int32_t> height{0};
    // Held by a close while it marks the camera closed and tells the link
    // thread to stop, and by the link thread while it reports a connection,
    // so that a closed camera is never reported connected.
    platform::CriticalSection linkLock;
    platform::CriticalSection settingsLock;
    CameraSettings settings;
    // Set once an open has loaded the stored section: from then on the
    // settings in memory are the camera's own, and the dialog shows them.
    std::atomic<bool> settingsLoaded{false};
};
