#include "grab_session.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <sstream>

#include "exit_codes.h"
#include "image_files.h"
#include "platform/console.h"
#include "settings_file.h"
#include "shared_clock.h"

namespace tools {
namespace {

constexpr int kGrabberNo = 0;
constexpr auto kWakeEvery = std::chrono::milliseconds(100);
// Frames waiting to be written as PNG files; more are not kept, so that a
// slow disk costs saved files rather than memory.
constexpr size_t kMostQueuedSaves = 16;
constexpr int kProgressBarWidth = 24;
constexpr int kBitsPerByte = 8;

std::string FrameFileName(const std::string& folder, int64_t index) {
    char name[32];
    std::snprintf(name, sizeof name, "frame-%06lld.png", static_cast<long long>(index));
    return (std::filesystem::path(folder) / name).string();
}

}  // namespace

std::atomic<GrabSession*> GrabSession::current_{nullptr};

GrabSession::GrabSession(DriverLibrary& driver, const GrabOptions& options, StatusConsole& console)
    : driver_(driver), options_(options), console_(console) {
    current_ = this;
    summary_.saveDir = options.saveDir;
}

GrabSession::~GrabSession() { current_ = nullptr; }

void GrabSession::Say(const std::string& text) { console_.Line("quorvex-grab: " + text); }

int GrabSession::Run() {
    if (!PrepareSettings()) {
        return kExitFailure;
    }
    if (!driver_.initialize(options_.systemDir.c_str(), options_.log ? &GrabSession::OnLog : nullptr)) {
        Say("initialize failed");
        return kExitFailure;
    }
    int result = kExitOk;
    if (!FindCamera()) {
        result = kExitUsage;
    } else if (options_.configure) {
        const int answer = driver_.configureCamera(nullptr, options_.camera.c_str());
        Say("configureCamera(\"" + options_.camera + "\") returned " + std::to_string(answer));
    } else if (!options_.list) {
        result = Grab();
    }
    driver_.finalize();
    return result;
}

bool GrabSession::PrepareSettings() {
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

bool GrabSession::FindCamera() {
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

int GrabSession::Grab() {
    if (!options_.saveDir.empty()) {
        std::error_code failure;
        std::filesystem::create_directories(options_.saveDir, failure);
        if (failure) {
            Say("cannot create the folder " + options_.saveDir + ": " + failure.message());
            return kExitFailure;
        }
    }
    int dimensions[2] = {-1, -1};
    if (!driver_.openCVLPort(kGrabberNo, options_.port, options_.camera.c_str(), dimensions)) {
        Say("openCVLPort failed for " + options_.camera + " on port " + std::to_string(options_.port));
        return kExitFailure;
    }
    if (dimensions[0] > 0 && dimensions[1] > 0) {
        Say(options_.camera + " open on port " + std::to_string(options_.port) + ", " +
            std::to_string(dimensions[0]) + "x" + std::to_string(dimensions[1]));
    } else {
        Say(options_.camera + " open on port " + std::to_string(options_.port) +
            ", no dimensions yet: waiting for its server");
    }
    driver_.setCompleteCallback(kGrabberNo, options_.port, &GrabSession::OnComplete);
    driver_.setCmdCallback(kGrabberNo, options_.port, &GrabSession::OnCommand);

    const Ending ending = WaitForFrames();
    // Closing joins the camera's thread: no callback runs after it.
    driver_.closeCVLPort(kGrabberNo, options_.port);
    SaveQueued();
    console_.Status(ProgressText(), true);
    console_.Finish();

    if (ending == Ending::TimedOut) {
        Say("no frame for " + std::to_string(options_.timeoutSeconds) + " s; giving up");
    }
    summary_.seconds = static_cast<double>(lastFrameUs_ - firstFrameUs_) / 1e6;
    if (saveSkipped_ > 0) {
        Say(std::to_string(saveSkipped_) + " frames not saved (the writing fell behind or failed)");
    }
    console_.Line(FormatSummary(summary_));
    return ending == Ending::TimedOut ? kExitFailure : kExitOk;
}

GrabSession::Ending GrabSession::WaitForFrames() {
    int64_t lastSeen = -1;
    auto lastProgress = std::chrono::steady_clock::now();
    for (;;) {
        {
            std::unique_lock<std::mutex> hold(lock_);
            frameArrived_.wait_for(hold, kWakeEvery);
            if (summary_.frames != lastSeen) {
                lastSeen = summary_.frames;
                lastProgress = std::chrono::steady_clock::now();
            }
            if (enough_) {
                return Ending::FramesDone;
            }
        }
        if (platform::InterruptRequested()) {
            return Ending::Interrupted;
        }
        if (options_.timeoutSeconds > 0 &&
            std::chrono::steady_clock::now() - lastProgress > std::chrono::seconds(options_.timeoutSeconds)) {
            return Ending::TimedOut;
        }
        SaveQueued();
        console_.Status(ProgressText());
    }
}

std::string GrabSession::ProgressText() {
    std::lock_guard<std::mutex> hold(lock_);
    std::ostringstream text;
    text.setf(std::ios::fixed);
    text.precision(1);
    if (options_.frames > 0 && console_.IsTerminal()) {
        const int filled = static_cast<int>(summary_.frames * kProgressBarWidth / options_.frames);
        text << "[" << std::string(static_cast<size_t>(filled), '#')
             << std::string(static_cast<size_t>(kProgressBarWidth - filled), '-') << "] ";
    }
    text << summary_.frames;
    if (options_.frames > 0) {
        text << "/" << options_.frames;
    }
    text << " frames, " << FrameRate(summary_.frames, static_cast<double>(lastFrameUs_ - firstFrameUs_) / 1e6)
         << " fps, " << summary_.sequence.Lost() << " lost";
    return text.str();
}

void QUORVEX_CALL GrabSession::OnComplete(int, int) {
    if (GrabSession* session = current_.load()) {
        session->HandleFrame();
    }
}

void QUORVEX_CALL GrabSession::OnCommand(int, int, const char* command, const char*) {
    if (GrabSession* session = current_.load()) {
        session->HandleCommand(command);
    }
}

void QUORVEX_CALL GrabSession::OnLog(const char* text) {
    if (GrabSession* session = current_.load()) {
        session->HandleLog(text);
    }
}

void GrabSession::HandleCommand(const char* command) {
    if (command == nullptr || std::string(command) != "Reset") {
        return;
    }
    // The driver asks before it takes over the new size, so the dimensions
    // are read at the next frame, when they are in place.
    resetPending_ = true;
    std::lock_guard<std::mutex> hold(lock_);
    ++summary_.resets;
}

void GrabSession::HandleLog(const char* text) {
    if (!logHasTimestamp_) {
        logTimestamp_ = text;
        logHasTimestamp_ = true;
        return;
    }
    logHasTimestamp_ = false;
    console_.Line(logTimestamp_ + text);
}

void GrabSession::HandleFrame() {
    const int64_t arrivedUs = SharedClockMicroseconds();
    {
        std::lock_guard<std::mutex> hold(lock_);
        if (enough_) {
            return;
        }
    }
    if (resetPending_.exchange(false)) {
        ReadDimensions();
    }
    if (!ReadRows()) {
        return;
    }
    RecordFrame(arrivedUs);
    frameArrived_.notify_one();
}

void GrabSession::ReadDimensions() {
    int width = 0;
    int height = 0;
    int bitsPerPixel = 0;
    driver_.getProperty(kGrabberNo, options_.port, "Width", &width);
    driver_.getProperty(kGrabberNo, options_.port, "Height", &height);
    driver_.getProperty(kGrabberNo, options_.port, "PixelSize", &bitsPerPixel);
    geometry_ = FrameGeometry{width, height, bitsPerPixel / kBitsPerByte};
}

bool GrabSession::ReadRows() {
    if (geometry_.width <= 0 || geometry_.height <= 0 || geometry_.bytesPerPixel <= 0) {
        std::lock_guard<std::mutex> hold(lock_);
        ++summary_.failedRows;
        return false;
    }
    frame_.resize(static_cast<size_t>(geometry_.Bytes()));
    const int64_t rowBytes = geometry_.RowBytes();
    for (int row = 0; row < geometry_.height; ++row) {
        if (!driver_.getCVLGrabRow(kGrabberNo, options_.port, frame_.data() + row * rowBytes, row, 0,
                                   geometry_.width - 1)) {
            std::lock_guard<std::mutex> hold(lock_);
            summary_.failedRows += geometry_.height - row;
            return false;
        }
    }
    return true;
}

void GrabSession::RecordFrame(int64_t arrivedUs) {
    const PatternReading reading = ReadPattern(geometry_, frame_.data());
    std::lock_guard<std::mutex> hold(lock_);
    const int64_t index = ++summary_.frames;
    summary_.bytes += geometry_.Bytes();
    summary_.geometry = geometry_;
    if (index == 1) {
        firstFrameUs_ = arrivedUs;
    }
    lastFrameUs_ = arrivedUs;
    if (reading.check != PatternCheck::NotPattern) {
        ++summary_.patternFrames;
        const int64_t repeatedBefore = summary_.sequence.Repeated();
        summary_.sequence.Add(reading.stamp.frameNumber);
        if (reading.check == PatternCheck::Torn) {
            ++summary_.torn;
        } else if (summary_.sequence.Repeated() == repeatedBefore) {
            // A repeated frame keeps its first timestamp: not a latency.
            summary_.latency.Add(arrivedUs - reading.stamp.timestampUs);
        }
    }
    if (!options_.saveDir.empty() && index % options_.every == 0) {
        if (saveQueue_.size() < kMostQueuedSaves) {
            saveQueue_.push_back(SavedFrame{index, geometry_, frame_});
        } else {
            ++saveSkipped_;
        }
    }
    enough_ = options_.frames > 0 && index >= options_.frames;
}

void GrabSession::SaveQueued() {
    for (;;) {
        SavedFrame frame;
        {
            std::lock_guard<std::mutex> hold(lock_);
            if (saveQueue_.empty()) {
                return;
            }
            frame = std::move(saveQueue_.front());
            saveQueue_.pop_front();
        }
        const std::string path = FrameFileName(options_.saveDir, frame.index);
        const bool saved = SavePng(path, frame.geometry, frame.pixels.data());
        std::lock_guard<std::mutex> hold(lock_);
        if (saved) {
            ++summary_.saved;
        } else {
            ++saveSkipped_;
        }
    }
}

}  // namespace tools
