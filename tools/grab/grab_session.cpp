#include "grab_session.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <sstream>

#include "exit_codes.h"
#include "image_files.h"
#include "platform/console.h"

namespace tools {
namespace {

constexpr int kWakeEveryMs = 100;
// Frames the host library keeps while the grab writes PNG files or falls
// behind; more replace the oldest, which the pattern then counts as lost.
constexpr int kQueueDepth = 16;
// Frames waiting to be written as PNG files; more are not kept, so that a
// slow disk costs saved files rather than memory.
constexpr size_t kMostQueuedSaves = 16;
constexpr int kProgressBarWidth = 24;

std::string FrameFileName(const std::string& folder, int64_t index) {
    char name[32];
    std::snprintf(name, sizeof name, "frame-%06lld.png", static_cast<long long>(index));
    return (std::filesystem::path(folder) / name).string();
}

}  // namespace

GrabSession::GrabSession(QuorvexHost* host, const GrabOptions& options, StatusConsole& console)
    : host_(host), options_(options), console_(console) {
    summary_.saveDir = options.saveDir;
}

void GrabSession::Say(const std::string& text) {
    console_.Line("quorvex-grab: " + text);
}

int GrabSession::Run() {
    if (!FindCamera()) {
        return kExitUsage;
    }
    if (options_.list) {
        return kExitOk;
    }
    if (!WriteSettings()) {
        return kExitFailure;
    }
    if (options_.configure) {
        const int confirmed = QuorvexHostConfigure(host_, options_.camera.c_str(), nullptr);
        // In the driver's terms: 0 for a confirmed dialog.
        Say("configureCamera(\"" + options_.camera + "\") returned " + std::to_string(confirmed == 1 ? 0 : 1));
        return kExitOk;
    }
    return Grab();
}

bool GrabSession::FindCamera() {
    const int count = QuorvexHostCameraCount(host_);
    bool found = false;
    for (int i = 0; i < count; ++i) {
        const char* name = QuorvexHostCameraName(host_, i);
        found = found || options_.camera == name;
        if (options_.list) {
            console_.Line(name);
        }
    }
    if (options_.list) {
        return true;
    }
    Say("driver " + std::string(QuorvexHostDriverPath(host_)) + " offers " + std::to_string(count) + " cameras");
    if (!found) {
        Say("the driver has no camera \"" + options_.camera + "\" (--list shows its cameras)");
    }
    return found;
}

bool GrabSession::WriteSettings() {
    if (!options_.share && !options_.logLevel && !options_.connectionTimeout) {
        return true;
    }
    const QuorvexHostSettings settings{options_.share ? options_.share->c_str() : nullptr,
                                       options_.logLevel.value_or(QUORVEX_HOST_KEEP),
                                       options_.connectionTimeout.value_or(QUORVEX_HOST_KEEP)};
    if (!QuorvexHostWriteSettings(host_, options_.camera.c_str(), &settings)) {
        Say(QuorvexHostLastError());
        return false;
    }
    const std::string where = " for " + options_.camera + " in " + QuorvexHostSettingsPath(host_);
    if (options_.share) {
        Say("set PipeName=" + *options_.share + where);
    }
    if (options_.logLevel) {
        Say("set LogLevel=" + std::to_string(*options_.logLevel) + where);
    }
    if (options_.connectionTimeout) {
        Say("set ConnectionTimeout=" + std::to_string(*options_.connectionTimeout) + where);
    }
    return true;
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
    if (options_.log) {
        QuorvexHostSetLog(
            host_, [](void* console, const char* line) { static_cast<StatusConsole*>(console)->Line(line); },
            &console_);
    }
    const QuorvexHostCameraOptions cameraOptions{options_.port, kQueueDepth, 1};
    QuorvexHostCamera* camera = QuorvexHostCameraOpen(host_, options_.camera.c_str(), &cameraOptions);
    if (camera == nullptr) {
        Say(QuorvexHostLastError());
        return kExitFailure;
    }
    int width = 0;
    int height = 0;
    QuorvexHostCameraOpenedSize(camera, &width, &height);
    const std::string opened = options_.camera + " open on port " + std::to_string(options_.port);
    Say(width > 0 && height > 0 ? opened + ", " + std::to_string(width) + "x" + std::to_string(height)
                                : opened + ", no dimensions yet: waiting for its server");

    const Ending ending = ReadFrames(camera);
    QuorvexHostCounters counters{};
    QuorvexHostCameraCounters(camera, &counters);
    QuorvexHostCameraClose(camera);
    QuorvexHostSetLog(host_, nullptr, nullptr);
    summary_.resets = counters.resets;
    summary_.failedRows = counters.incomplete;
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

GrabSession::Ending GrabSession::ReadFrames(QuorvexHostCamera* camera) {
    auto lastProgress = std::chrono::steady_clock::now();
    for (;;) {
        QuorvexHostFrame frame{};
        const int result = QuorvexHostCameraRead(camera, kWakeEveryMs, &frame);
        if (result == QUORVEX_HOST_FRAME) {
            Take(frame);
            QuorvexHostCameraRelease(camera, &frame);
            lastProgress = std::chrono::steady_clock::now();
            if (options_.frames > 0 && summary_.frames >= options_.frames) {
                return Ending::FramesDone;
            }
        }
        if (platform::InterruptRequested()) {
            return Ending::Interrupted;
        }
        if (options_.timeoutSeconds > 0 &&
            std::chrono::steady_clock::now() - lastProgress > std::chrono::seconds(options_.timeoutSeconds)) {
            if (result != QUORVEX_HOST_FRAME) {
                Say(QuorvexHostLastError());
            }
            return Ending::TimedOut;
        }
        SaveQueued();
        console_.Status(ProgressText());
    }
}

void GrabSession::Take(const QuorvexHostFrame& frame) {
    const FrameGeometry geometry{frame.width, frame.height, frame.bytesPerPixel};
    const int64_t index = ++summary_.frames;
    summary_.bytes += geometry.Bytes();
    summary_.geometry = geometry;
    if (index == 1) {
        firstFrameUs_ = frame.arrivedUs;
    }
    lastFrameUs_ = frame.arrivedUs;
    // The rows are packed (alignment 1), as the pattern and the PNG writer
    // expect.
    const int64_t latency = summary_.Add(geometry, frame.pixels, frame.arrivedUs);
    if (latency >= 0) {
        summary_.latency.Add(latency);
    }
    if (frame.serverNumber > 0) {
        summary_.serverSequence.Add(static_cast<uint32_t>(frame.serverNumber));
    }
    if (frame.captureUs > 0) {
        summary_.captureLatency.Add(frame.arrivedRealUs - frame.captureUs);
    }
    if (!options_.saveDir.empty() && index % options_.every == 0) {
        if (saveQueue_.size() < kMostQueuedSaves) {
            saveQueue_.push_back(
                SavedFrame{index, geometry, std::vector<uint8_t>(frame.pixels, frame.pixels + geometry.Bytes())});
        } else {
            ++saveSkipped_;
        }
    }
}

void GrabSession::SaveQueued() {
    while (!saveQueue_.empty()) {
        const SavedFrame frame = std::move(saveQueue_.front());
        saveQueue_.pop_front();
        if (SavePng(FrameFileName(options_.saveDir, frame.index), frame.geometry, frame.pixels.data())) {
            ++summary_.saved;
        } else {
            ++saveSkipped_;
        }
    }
}

std::string GrabSession::ProgressText() {
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
         << " fps, " << LostFrames(summary_) << " lost";
    return text.str();
}

}  // namespace tools
