#include "grab_session.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <sstream>

#include "exit_codes.h"
#include "host_tool.h"
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
    // The folder is UTF-8, as every argument; the C runtime opens the file
    // by its narrow name.
    return (std::filesystem::u8path(folder) / name).string();
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
    if (const std::optional<int> done = PrepareCamera(host_, options_, console_, "quorvex-grab")) {
        return *done;
    }
    if (options_.configure) {
        const int confirmed = QuorvexHostConfigure(host_, options_.camera.c_str(), nullptr);
        // In the driver's terms: 0 for a confirmed dialog.
        Say("configureCamera(\"" + options_.camera + "\") returned " + std::to_string(confirmed == 1 ? 0 : 1));
        return kExitOk;
    }
    return Grab();
}

int GrabSession::Grab() {
    if (!options_.saveDir.empty()) {
        std::error_code failure;
        std::filesystem::create_directories(std::filesystem::u8path(options_.saveDir), failure);
        if (failure) {
            Say("cannot create the folder " + options_.saveDir + ": " + failure.message());
            return kExitFailure;
        }
    }
    QuorvexHostCamera* camera = OpenCamera(host_, options_, kQueueDepth, console_, "quorvex-grab");
    if (camera == nullptr) {
        return kExitFailure;
    }

    const Ending ending = ReadFrames(camera);
    QuorvexHostCounters counters{};
    QuorvexHostCameraCounters(camera, &counters);
    QuorvexHostCameraClose(camera);
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
    return ending == Ending::TimedOut || ending == Ending::EndedByDriver ? kExitFailure : kExitOk;
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
        } else if (result == QUORVEX_HOST_ENDED) {
            // A Stop is the server's own end of its stream, not a failure.
            if (QuorvexHostCameraLinkState(camera) == QUORVEX_HOST_LINK_STOPPED) {
                Say("the server ended the stream");
                return Ending::EndedByServer;
            }
            Say(QuorvexHostLastError());
            return Ending::EndedByDriver;
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
