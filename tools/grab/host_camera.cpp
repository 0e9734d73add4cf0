#include "host_camera.h"

#include "exit_codes.h"
#include "settings_file.h"
#include "shared_clock.h"

namespace tools {
namespace {

constexpr int kGrabberNo = 0;
constexpr int kBitsPerByte = 8;

}  // namespace

std::atomic<HostCamera*> HostCamera::current_{nullptr};

HostCamera::HostCamera(DriverLibrary& driver, const HostOptions& options, StatusConsole& console, std::string tool)
    : driver_(driver), options_(options), console_(console), tool_(std::move(tool)) {
    current_ = this;
}

HostCamera::~HostCamera() {
    Close();
    if (initialized_) {
        driver_.finalize();
    }
    current_ = nullptr;
}

void HostCamera::Say(const std::string& text) {
    console_.Line(tool_ + ": " + text);
}

bool HostCamera::Prepare(int& exitCode) {
    exitCode = kExitFailure;
    if (!PrepareSettings()) {
        return false;
    }
    if (!driver_.initialize(options_.systemDir.c_str(), options_.log ? &HostCamera::OnLog : nullptr)) {
        Say("initialize failed");
        return false;
    }
    initialized_ = true;
    if (!FindCamera()) {
        exitCode = kExitUsage;
        return false;
    }
    exitCode = kExitOk;
    return true;
}

bool HostCamera::PrepareSettings() {
    struct Setting {
        const char* key;
        std::string value;
        bool given;
    };
    const Setting settings[] = {
        {"PipeName", options_.share.value_or(""), options_.share.has_value()},
        {"LogLevel", std::to_string(options_.logLevel.value_or(0)), options_.logLevel.has_value()},
        {"ConnectionTimeout", std::to_string(options_.connectionTimeout.value_or(0)),
         options_.connectionTimeout.has_value()},
    };
    for (const Setting& setting : settings) {
        if (!setting.given) {
            continue;
        }
        if (!WriteCameraSetting(options_.systemDir, options_.camera, setting.key, setting.value)) {
            Say("cannot write " + std::string(setting.key) + " into " + SettingsFilePath(options_.systemDir));
            return false;
        }
        Say("set " + std::string(setting.key) + "=" + setting.value + " for " + options_.camera + " in " +
            SettingsFilePath(options_.systemDir));
    }
    return true;
}

bool HostCamera::FindCamera() {
    const int count = driver_.getCVLNoOfSupportedCameras();
    const char** names = driver_.getCVLCameraConfigNames();
    bool found = false;
    for (int i = 0; names != nullptr && i < count; ++i) {
        found = found || options_.camera == names[i];
        if (options_.list) {
            console_.Line(names[i]);
        }
    }
    if (options_.list) {
        return true;
    }
    Say("driver " + options_.driver + " offers " + std::to_string(count) + " cameras");
    if (!found) {
        Say("the driver has no camera \"" + options_.camera + "\" (--list shows its cameras)");
    }
    return found;
}

void HostCamera::Configure() {
    const int answer = driver_.configureCamera(nullptr, options_.camera.c_str());
    Say("configureCamera(\"" + options_.camera + "\") returned " + std::to_string(answer));
}

bool HostCamera::Open(FrameListener& listener, int dimensions[2]) {
    listener_ = &listener;
    dimensions[0] = dimensions[1] = -1;
    if (!driver_.openCVLPort(kGrabberNo, options_.port, options_.camera.c_str(), dimensions)) {
        Say("openCVLPort failed for " + options_.camera + " on port " + std::to_string(options_.port));
        return false;
    }
    open_ = true;
    if (dimensions[0] > 0 && dimensions[1] > 0) {
        Say(options_.camera + " open on port " + std::to_string(options_.port) + ", " + std::to_string(dimensions[0]) +
            "x" + std::to_string(dimensions[1]));
    } else {
        Say(options_.camera + " open on port " + std::to_string(options_.port) +
            ", no dimensions yet: waiting for its server");
    }
    driver_.setCompleteCallback(kGrabberNo, options_.port, &HostCamera::OnComplete);
    driver_.setCmdCallback(kGrabberNo, options_.port, &HostCamera::OnCommand);
    return true;
}

void HostCamera::Close() {
    if (open_) {
        driver_.closeCVLPort(kGrabberNo, options_.port);
        open_ = false;
    }
}

void QUORVEX_CALL HostCamera::OnComplete(int, int) {
    if (HostCamera* camera = current_.load()) {
        camera->HandleFrame();
    }
}

void QUORVEX_CALL HostCamera::OnCommand(int, int, const char* command, const char*) {
    if (HostCamera* camera = current_.load()) {
        camera->HandleCommand(command);
    }
}

void QUORVEX_CALL HostCamera::OnLog(const char* text) {
    if (HostCamera* camera = current_.load()) {
        camera->HandleLog(text);
    }
}

void HostCamera::HandleCommand(const char* command) {
    if (command == nullptr || std::string(command) != "Reset") {
        return;
    }
    // The driver asks before it takes over the new size, so the dimensions
    // are read at the next frame, when they are in place.
    resetPending_ = true;
    listener_->OnReset();
}

void HostCamera::HandleLog(const char* text) {
    if (!logHasTimestamp_) {
        logTimestamp_ = text;
        logHasTimestamp_ = true;
        return;
    }
    logHasTimestamp_ = false;
    console_.Line(logTimestamp_ + text);
}

void HostCamera::HandleFrame() {
    const int64_t arrivedUs = SharedClockMicroseconds();
    if (resetPending_.exchange(false)) {
        ReadDimensions();
    }
    if (ReadRows()) {
        listener_->OnFrame(geometry_, frame_.data(), arrivedUs);
    }
}

void HostCamera::ReadDimensions() {
    int width = 0;
    int height = 0;
    int bitsPerPixel = 0;
    driver_.getProperty(kGrabberNo, options_.port, "Width", &width);
    driver_.getProperty(kGrabberNo, options_.port, "Height", &height);
    driver_.getProperty(kGrabberNo, options_.port, "PixelSize", &bitsPerPixel);
    geometry_ = FrameGeometry{width, height, bitsPerPixel / kBitsPerByte};
}

bool HostCamera::ReadRows() {
    if (geometry_.width <= 0 || geometry_.height <= 0 || geometry_.bytesPerPixel <= 0) {
        listener_->OnRowsMissing(1);
        return false;
    }
    frame_.resize(static_cast<size_t>(geometry_.Bytes()));
    const int64_t rowBytes = geometry_.RowBytes();
    for (int row = 0; row < geometry_.height; ++row) {
        if (!driver_.getCVLGrabRow(kGrabberNo, options_.port, frame_.data() + row * rowBytes, row, 0,
                                   geometry_.width - 1)) {
            listener_->OnRowsMissing(geometry_.height - row);
            return false;
        }
    }
    return true;
}

}  // namespace tools
