#include "camera/camera.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <stdexcept>

#include "camera/registry_error.h"
#include "camera/row_reader.h"
#include "support/driver_state.h"
#include "support/log.h"
#include "support/text.h"
#include "ui/settings_dialog.h"

namespace {

std::string CheckedName(const char* name) {
    if (name == nullptr) {
        LogMessage(1, GetDriverState(), "Camera::Camera: ERROR: name undefined\n");
        ThrowRegistryError();
    }
    return name;
}

// Bits per pixel of a server's bytes per pixel, which may be absurd: held at
// the int's limits rather than overflowing.
int BitsPerPixel(int32_t bytesPerPixel) {
    const int64_t bits = int64_t{bytesPerPixel} * 8;
    return static_cast<int>(std::clamp<int64_t>(bits, INT32_MIN, INT32_MAX));
}

// The frame's byte count, or -1 for one that does not even fit 64 bits (no
// buffer can match it).
int64_t FrameBytes(const FrameGeometry& frame) {
    int64_t byteCount = 0;
    return FrameByteCount(frame.width, frame.height, frame.bytesPerPixel, byteCount) ? byteCount : -1;
}

}  // namespace

Camera::Camera(const char* cameraName) : name(CheckedName(cameraName)), driverState(GetDriverState()) {}

Camera::~Camera() {
    if (isOpen) {
        Close();
    }
    // Closed from inside its own callback, the thread may still be running
    // the host's code; it uses this camera until it has ended.
    cmdThread.JoinExitingThread();
}

bool Camera::Open(int32_t newPort, int* dimensions) {
    dimensions[0] = 0;
    dimensions[1] = 0;
    LogMessage(2, driverState, "Camera::Open: entering port=%d\n", newPort);
    LogMessage(1, driverState, "Opening camera %s on port %d\n", name.c_str(), newPort);
    if (isOpen) {
        LogMessage(1, driverState, "Camera::Open: ERROR:  %s is already open on port %d\n", name.c_str(), port.load());
        return true;
    }
    try {
        CameraSettings loaded = Settings();
        SerializeSettings(name.c_str(), loaded, false);
        settingsLoaded = true;
        driverState->logLevel = loaded.LogLevel.value;
        driverState->logIntoFile = loaded.LogIntoFile.value != 0;
        Param<int32_t>& timeout = loaded.ConnectionTimeout;
        if (timeout.value < timeout.minValue) {
            timeout.value = timeout.minValue;
        }
        if (timeout.value > timeout.maxValue) {
            timeout.value = timeout.maxValue;
        }
        ReplaceSettings(loaded);

        // Stored before the thread starts: its connection line names the
        // port, and may come before Init has returned.
        port = newPort;
        PortRoutesChanged();
        if (!cmdThread.Init(newPort, this, loaded.PipeName.value.c_str())) {
            LogMessage(1, driverState, "Camera::Open: Could not start cmd thread, port=%d\n", newPort);
            throw std::runtime_error("Could not start cmd thread");
        }
        dimensions[0] = 0;
        dimensions[1] = 0;
        LogMessage(2, driverState, "Camera::Open: Waiting for image dimensions retrieved, port=%d\n", newPort);
        int32_t frameWidth = 0;
        int32_t frameHeight = 0;
        int32_t frameBytesPerPixel = 0;
        if (cmdThread.WaitForDimensions(timeout.value, frameWidth, frameHeight, frameBytesPerPixel)) {
            dimensions[0] = frameWidth;
            dimensions[1] = frameHeight;
        } else {
            LogMessage(1, driverState,
                       "Camera::Open: Could not retrieve image dimensions within given timeout=%d, port=%d\n",
                       timeout.value, newPort);
            SetConnected(false);
        }
        isOpen = true;
        PortRoutesChanged();
        LogMessage(2, driverState, "Camera::Open: leaving, port=%d\n", newPort);
        return true;
    } catch (...) {
        LogMessage(1, driverState, "Camera::Open: EXCEPTION catch...throw again, port %d\n", port.load());
        CleanupOnClose();
        throw;
    }
}

void Camera::Close() {
    LogMessage(2, driverState, "Camera::Close: entering\n");
    if (!isOpen) {
        LogMessage(1, driverState, "Camera::Close: WARNING: called on already closed camera\n");
    }
    const int32_t closedPort = port;
    isOpen = false;
    PortRoutesChanged();
    CleanupOnClose();
    LogMessage(2, driverState, "Camera::Close: leaving on port %d\n", closedPort);
}

void Camera::CleanupOnClose() {
    LogMessage(2, driverState, "Camera::CleanupOnClose: entering\n");
    {
        platform::CriticalSectionLock hold(linkLock);
        isOpen = false;
        cmdThread.RequestStop();
        SetConnected(false);
        port = kNoPort;
    }
    PortRoutesChanged();
    try {
        cmdThread.Destroy();
    } catch (...) {
        LogMessage(1, driverState, "Camera::CleanupOnClose: WARNING: exception point1 caught\n");
    }
    LogMessage(2, driverState, "Camera::CleanupOnClose: leaving\n");
}

void Camera::SetConnected(bool connected) {
    if (isConnected.exchange(connected) != connected) {
        LogMessage(1, driverState, "Camera '%s' on port %d %s share '%s'\n", name.c_str(), port.load(),
                   connected ? "connected to" : "disconnected from", Settings().PipeName.value.c_str());
    }
}

// ---- The link thread's side; its lines keep the names hosts know them by ----

bool Camera::ReportConnected() {
    // A close on another thread tells the link to stop under the same lock.
    platform::CriticalSectionLock hold(linkLock);
    if (cmdThread.StopRequested()) {
        return false;
    }
    SetConnected(true);
    return true;
}

void Camera::AdoptFrameShape(const FrameGeometry& shape, int32_t linkPort) {
    // Any change of shape, not only of size: rows are addressed with the
    // buffer's own stride.
    if (isOpen && imageBuffer.Geometry() != shape) {
        LogMessage(2, driverState,
                   "CmdExchangeThread::ProcessRunningStates: WARNING: dimesnions changed, requesting reset, port=%d",
                   linkPort);
        RequestReset(linkPort);
    }
    // Taken even when the host has closed or reopened the camera in its
    // answer: a reopened link that is sent the same dimensions then finds
    // them in place and asks for no second reset.
    bytesPerPixel = shape.bytesPerPixel;
    width = shape.width;
    height = shape.height;
    // The buffer follows the frame's shape both ways, keeping its block when
    // the byte count stays, so frames keep flowing after the host's reset. A
    // size that is not positive allocates nothing; the next frame then finds
    // no buffer of its shape.
    if (imageBuffer.Geometry() == shape) {
        return;
    }
    int64_t frameBytes = 0;
    const bool fits = FrameByteCount(shape.width, shape.height, shape.bytesPerPixel, frameBytes);
    if (!fits || frameBytes > 0) {
        LogMessage(3, driverState, "CmdExchangeThread::SetImageSize: reallocating image buffer, port=%d", port.load());
        imageBuffer.Allocate(shape.width, shape.height, shape.bytesPerPixel);
    }
}

void Camera::RequestReset(int32_t linkPort) {
    const CmdCallback callback = cmdCallback;
    if (callback != nullptr) {
        callback(0, linkPort, "Reset", "");
    } else {
        LogMessage(1, driverState, "CmdExchangeThread::RequestReset: ERROR: command callback not assigned, port=%d",
                   linkPort);
    }
}

CompleteCallback Camera::FrameReceiver() const {
    const CompleteCallback callback = completeCallback;
    return isOpen ? callback : nullptr;
}

int64_t Camera::StorableFrameBytes() {
    // The buffer follows every shape the server announces, so a frame fits
    // only a buffer of exactly its geometry.
    const FrameGeometry frame = FrameShape();
    const int64_t frameBytes = FrameBytes(frame);
    if (frameBytes <= 0 || imageBuffer.Size() != frameBytes || imageBuffer.Geometry() != frame) {
        return 0;
    }
    return frameBytes;
}

bool Camera::StoreFrame(const void* source) {
    return imageBuffer.StoreFrame(source, FrameShape());
}

// ---- The host's side ----

void Camera::SetCompleteCB(CompleteCallback cb) {
    const CompleteCallback previous = completeCallback;
    LogMessage(2, driverState, "Camera::SetCompleteCB: %s%s%s\n",
               previous != nullptr ? "CB was already assigned. " : "",
               previous != nullptr && previous == cb ? "The new CB is the same function. " : "",
               cb == nullptr ? "Resetting CB to null. " : "");
    completeCallback = cb;
}

void Camera::SetCmdCallback(CmdCallback cb) {
    LogMessage(2, driverState, "Camera::SetCmdCallback: cmd callback %s, port=%d", cb != nullptr ? "set" : "unset",
               port.load());
    cmdCallback = cb;
}

// The read-only names of what the camera's link knows; names a host that
// never asks does not meet.
const std::atomic<int32_t>* Camera::LinkProperty(const char* propertyName) const {
    const CmdExchangeThread::LinkRecord& record = cmdThread.Record();
    const struct {
        const char* name;
        const std::atomic<int32_t>* value;
    } names[] = {
        {"LinkState", &record.state},
        {"FramesDelivered", &record.framesDelivered},
        {"FramesRefused", &record.framesRefused},
        {"ResetsAsked", &record.resetsAsked},
        {"Reconnections", &record.reconnections},
        {"FrameNumber", &record.frameNumber},
        {"FrameCaptureHigh", &record.captureHigh},
        {"FrameCaptureLow", &record.captureLow},
        {"FrameGap", &record.frameGap},
        {"FramesSkipped", &record.framesSkipped},
    };
    for (const auto& known : names) {
        if (EqualsIgnoringCase(propertyName, known.name)) {
            return known.value;
        }
    }
    return nullptr;
}

bool Camera::GetProperty(const char* propertyName, int* value) {
    LogMessage(3, driverState, "Camera::GetProperty: prop=%s\n", NullSafe(propertyName));
    if (propertyName == nullptr || value == nullptr) {
        return false;
    }
    int found = 0;
    if (EqualsIgnoringCase(propertyName, "PixelSize")) {
        found = BitsPerPixel(bytesPerPixel);
    } else if (EqualsIgnoringCase(propertyName, "Height")) {
        found = height;
    } else if (EqualsIgnoringCase(propertyName, "Width")) {
        found = width;
    } else if (const std::atomic<int32_t>* known = LinkProperty(propertyName)) {
        found = known->load();
    } else {
        return false;
    }
    *value = found;
    LogMessage(3, driverState, "Camera::GetProperty: prop=%s, value=%d\n", propertyName, found);
    return true;
}

bool Camera::Configure(QuorvexWindow parent) {
    LogMessage(2, driverState, "Camera::Configure: entering\n");
    char caption[512];
    std::snprintf(caption, sizeof caption, "Configure camera on port #%d: %s", port.load() + 1, name.c_str());
    CameraSettings copy = Settings();
    // A camera not opened in this process still holds the built-in defaults;
    // the user must see, and OK must keep, what is stored. Once opened, the
    // camera's own settings are shown, as loaded and clamped by the open.
    if (!settingsLoaded) {
        SerializeSettings(name.c_str(), copy, false);
    }
    bool confirmed = false;
    if (RunSettingsDialog(parent, caption, copy) == kDialogOk) {
        SerializeSettings(name.c_str(), copy, true);
        ReplaceSettings(copy);
        confirmed = true;
    }
    LogMessage(2, driverState, "Camera::Configure: leaving\n");
    return confirmed;
}

CameraSettings Camera::Settings() {
    platform::CriticalSectionLock hold(settingsLock);
    return settings;
}

void Camera::ReplaceSettings(const CameraSettings& newSettings) {
    platform::CriticalSectionLock hold(settingsLock);
    settings = newSettings;
}
