#include "host_camera.h"

#include <map>

#include "settings_file.h"

GST_DEBUG_CATEGORY_STATIC(quorvex_driver_debug);
#define GST_CAT_DEFAULT quorvex_driver_debug

namespace quorvexgst {
namespace {

constexpr int kGrabberNo = 0;
constexpr int kBitsPerByte = 8;
// Frames that downstream has not taken yet; beyond that the oldest goes, as
// a camera drops frames that nobody reads.
constexpr size_t kMostQueued = 4;

std::mutex& TableLock() {
    static std::mutex lock;
    return lock;
}

std::map<int, HostCamera*>& Table() {
    static std::map<int, HostCamera*> cameras;
    return cameras;
}

}  // namespace

bool HostCamera::Open(const SourceSettings& settings, std::string& error) {
    static const bool categoryReady = [] {
        GST_DEBUG_CATEGORY_INIT(quorvex_driver_debug, "quorvexdriver", 0,
                                "The Quorvex driver's log, as quorvexsrc sees it");
        return true;
    }();
    static_cast<void>(categoryReady);

    if (!settings.share.empty() &&
        !tools::WriteCameraSetting(settings.systemDir, settings.camera, "PipeName", settings.share)) {
        error = "Cannot write the share into " + tools::SettingsFilePath(settings.systemDir);
        return false;
    }
    if (!Claim(settings.port, error)) {
        return false;
    }
    if (!initialize(settings.systemDir.c_str(), &HostCamera::OnLog)) {
        error = "The Quorvex driver did not initialize";
        Close();
        return false;
    }
    driverInitialized_ = true;
    size_ = FrameSize{};
    resetPending_ = true;
    frameCount_ = 0;
    SetFlushing(false);
    int dimensions[2] = {0, 0};
    if (!openCVLPort(kGrabberNo, port_, settings.camera.c_str(), dimensions)) {
        error = "The Quorvex driver cannot open \"" + settings.camera + "\" on port " + std::to_string(port_) +
                " (the driver names its cameras \"Camera 1\" to \"Camera 32\")";
        Close();
        return false;
    }
    cameraOpen_ = true;
    GST_INFO("%s open on port %d, %dx%d", settings.camera.c_str(), port_, dimensions[0], dimensions[1]);
    setCmdCallback(kGrabberNo, port_, &HostCamera::OnCommand);
    setCompleteCallback(kGrabberNo, port_, &HostCamera::OnComplete);
    return true;
}

void HostCamera::Close() {
    if (cameraOpen_) {
        // Joins the camera's thread: no handler runs after this.
        closeCVLPort(kGrabberNo, port_);
        cameraOpen_ = false;
    }
    if (driverInitialized_) {
        finalize();
        driverInitialized_ = false;
    }
    Release();
    std::lock_guard<std::mutex> hold(lock_);
    queue_.clear();
}

bool HostCamera::Claim(int port, std::string& error) {
    std::lock_guard<std::mutex> hold(TableLock());
    if (!Table().emplace(port, this).second) {
        error = "Port " + std::to_string(port) + " is taken by another quorvexsrc in this process";
        return false;
    }
    port_ = port;
    portClaimed_ = true;
    return true;
}

void HostCamera::Release() {
    if (!portClaimed_) {
        return;
    }
    std::lock_guard<std::mutex> hold(TableLock());
    Table().erase(port_);
    portClaimed_ = false;
}

HostCamera* HostCamera::AtPort(int port) {
    std::lock_guard<std::mutex> hold(TableLock());
    const auto found = Table().find(port);
    return found == Table().end() ? nullptr : found->second;
}

void QUORVEX_CALL HostCamera::OnComplete(int, int portNo) {
    if (HostCamera* camera = AtPort(portNo)) {
        camera->HandleFrame();
    }
}

void QUORVEX_CALL HostCamera::OnCommand(int, int portNo, const char* command, const char*) {
    HostCamera* camera = AtPort(portNo);
    if (camera != nullptr && command != nullptr && std::string(command) == "Reset") {
        // The new size is in place at the next frame.
        camera->resetPending_ = true;
    }
}

void QUORVEX_CALL HostCamera::OnLog(const char* text) {
    GST_DEBUG("%s", text);
}

void HostCamera::SetFlushing(bool flushing) {
    std::lock_guard<std::mutex> hold(lock_);
    flushing_ = flushing;
    arrived_.notify_all();
}

bool HostCamera::TakeFrame(HostFrame& frame) {
    std::unique_lock<std::mutex> hold(lock_);
    arrived_.wait(hold, [this] { return flushing_ || !queue_.empty(); });
    if (flushing_) {
        return false;
    }
    frame = std::move(queue_.front());
    queue_.pop_front();
    return true;
}

GstClockTime HostCamera::ArrivalTime() const {
    GstClock* clock = gst_element_get_clock(element_);
    if (clock == nullptr) {
        return GST_CLOCK_TIME_NONE;
    }
    const GstClockTime now = gst_clock_get_time(clock);
    gst_object_unref(clock);
    const GstClockTime base = gst_element_get_base_time(element_);
    return now > base ? now - base : 0;
}

void HostCamera::HandleFrame() {
    const GstClockTime arrived = ArrivalTime();
    // Without a clock the pipeline is not playing: a live source's frame of
    // that time is nobody's.
    if (!GST_CLOCK_TIME_IS_VALID(arrived)) {
        return;
    }
    if (resetPending_.exchange(false)) {
        int bitsPerPixel = 0;
        getProperty(kGrabberNo, port_, "Width", &size_.width);
        getProperty(kGrabberNo, port_, "Height", &size_.height);
        getProperty(kGrabberNo, port_, "PixelSize", &bitsPerPixel);
        size_.bytesPerPixel = bitsPerPixel / kBitsPerByte;
        GST_INFO("frames of %dx%d, %d bytes per pixel", size_.width, size_.height, size_.bytesPerPixel);
    }
    if (size_.width <= 0 || size_.height <= 0 || size_.bytesPerPixel <= 0) {
        return;
    }
    const gsize rowBytes = static_cast<gsize>(size_.width) * static_cast<gsize>(size_.bytesPerPixel);
    UniqueBuffer buffer(gst_buffer_new_allocate(nullptr, rowBytes * static_cast<gsize>(size_.height), nullptr));
    GstMapInfo map;
    if (!buffer || !gst_buffer_map(buffer.get(), &map, GST_MAP_WRITE)) {
        return;
    }
    bool whole = true;
    for (int row = 0; row < size_.height && whole; ++row) {
        whole = getCVLGrabRow(kGrabberNo, port_, map.data + rowBytes * static_cast<gsize>(row), row, 0,
                              size_.width - 1) != 0;
    }
    gst_buffer_unmap(buffer.get(), &map);
    if (!whole) {
        GST_WARNING("a frame could not be read whole; dropped");
        return;
    }
    GST_BUFFER_PTS(buffer.get()) = arrived;
    GST_BUFFER_OFFSET(buffer.get()) = frameCount_++;

    std::lock_guard<std::mutex> hold(lock_);
    if (queue_.size() >= kMostQueued) {
        queue_.pop_front();
        GST_DEBUG("downstream is slow: the oldest frame waiting was dropped");
    }
    queue_.push_back(HostFrame{std::move(buffer), size_});
    arrived_.notify_one();
}

}  // namespace quorvexgst
