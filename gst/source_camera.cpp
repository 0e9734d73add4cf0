#include "source_camera.h"

#include <gst/gst.h>

GST_DEBUG_CATEGORY_STATIC(quorvex_driver_debug);
#define GST_CAT_DEFAULT quorvex_driver_debug

namespace quorvexgst {
namespace {

// Frames that downstream has not taken yet; beyond that the oldest goes, as
// a camera drops frames that nobody reads.
constexpr int kQueueDepth = 4;
// GStreamer's default stride for GRAY8, RGB and RGBA: rows padded to 4
// bytes. The queue lays the frames out so, and the buffer is one copy.
constexpr int kRowAlignment = 4;
// How long one read waits before the flushing flag is looked at again.
constexpr int kWakeMs = 50;

void QUORVEX_HOST_CALL OnDriverLog(void*, const char* line) {
    GST_DEBUG("%s", line);
}

}  // namespace

QuorvexHostFrame& LentFrame::Receive(QuorvexHostCamera* camera) {
    Release();
    camera_ = camera;
    return frame_;
}

void LentFrame::Release() {
    if (camera_ != nullptr && frame_.pixels != nullptr) {
        QuorvexHostCameraRelease(camera_, &frame_);
    }
    frame_ = QuorvexHostFrame{};
}

bool SourceCamera::Open(const SourceSettings& settings, std::string& error) {
    static const bool categoryReady = [] {
        GST_DEBUG_CATEGORY_INIT(quorvex_driver_debug, "quorvexdriver", 0,
                                "The Quorvex driver's log, as quorvexsrc sees it");
        return true;
    }();
    static_cast<void>(categoryReady);

    Close();
    host_.reset(QuorvexHostOpen(nullptr, settings.systemDir.c_str()));
    if (!host_) {
        error = QuorvexHostLastError();
        return false;
    }
    // The driver has one log for the process: its lines go to the debug log.
    QuorvexHostSetLog(host_.get(), &OnDriverLog, nullptr);
    if (!settings.share.empty()) {
        const QuorvexHostSettings change{settings.share.c_str(), QUORVEX_HOST_KEEP, QUORVEX_HOST_KEEP};
        if (!QuorvexHostWriteSettings(host_.get(), settings.camera.c_str(), &change)) {
            error = QuorvexHostLastError();
            Close();
            return false;
        }
    }
    const QuorvexHostCameraOptions options{settings.port, kQueueDepth, kRowAlignment};
    camera_.reset(QuorvexHostCameraOpen(host_.get(), settings.camera.c_str(), &options));
    if (!camera_) {
        error = QuorvexHostLastError();
        Close();
        return false;
    }
    flushing_ = false;
    waitingForServer_ = false;
    return true;
}

void SourceCamera::Close() {
    camera_.reset();
    host_.reset();
}

Waited SourceCamera::Wait(LentFrame& frame, std::string& why) {
    if (!camera_) {
        why = "the camera is not open";
        return Waited::kFailed;
    }
    while (!flushing_) {
        const int result = QuorvexHostCameraRead(camera_.get(), kWakeMs, &frame.Receive(camera_.get()));
        if (result != QUORVEX_HOST_NO_SERVER) {
            waitingForServer_ = false;
        }
        switch (result) {
        case QUORVEX_HOST_FRAME:
            return Waited::kFrame;
        case QUORVEX_HOST_NOTHING_YET:
            break;
        case QUORVEX_HOST_NO_SERVER: {
            const auto now = std::chrono::steady_clock::now();
            if (!waitingForServer_) {
                waitingForServer_ = true;
                noServerSaid_ = now;
            } else if (now - noServerSaid_ >= kNoServerEvery) {
                noServerSaid_ = now;
                why = QuorvexHostLastError();
                return Waited::kNoServer;
            }
            break;
        }
        case QUORVEX_HOST_ENDED:
            why = QuorvexHostLastError();
            return Waited::kEnded;
        default:
            why = QuorvexHostLastError();
            return Waited::kFailed;
        }
    }
    return Waited::kFlushing;
}

}  // namespace quorvexgst
