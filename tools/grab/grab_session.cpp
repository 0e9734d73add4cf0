#include "grab_session.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <sstream>

#include "exit_codes.h"
#include "image_files.h"
#include "platform/console.h"

namespace tools {
namespace {

constexpr auto kWakeEvery = std::chrono::milliseconds(100);
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

GrabSession::GrabSession(DriverLibrary& driver, const GrabOptions& options, StatusConsole& console)
    : options_(options), console_(console), camera_(driver, options, console, "quorvex-grab") {
    summary_.saveDir = options.saveDir;
}

int GrabSession::Run() {
    int exitCode = kExitOk;
    if (!camera_.Prepare(exitCode) || options_.list) {
        return exitCode;
    }
    if (options_.configure) {
        camera_.Configure();
        return kExitOk;
    }
    return Grab();
}

int GrabSession::Grab() {
    if (!options_.saveDir.empty()) {
        std::error_code failure;
        std::filesystem::create_directories(options_.saveDir, failure);
        if (failure) {
            camera_.Say("cannot create the folder " + options_.saveDir + ": " + failure.message());
            return kExitFailure;
        }
    }
    int dimensions[2];
    if (!camera_.Open(*this, dimensions)) {
        return kExitFailure;
    }

    const Ending ending = WaitForFrames();
    // Closing joins the camera's thread: no callback runs after it.
    camera_.Close();
    SaveQueued();
    console_.Status(ProgressText(), true);
    console_.Finish();

    if (ending == Ending::TimedOut) {
        camera_.Say("no frame for " + std::to_string(options_.timeoutSeconds) + " s; giving up");
    }
    summary_.seconds = static_cast<double>(lastFrameUs_ - firstFrameUs_) / 1e6;
    if (saveSkipped_ > 0) {
        camera_.Say(std::to_string(saveSkipped_) + " frames not saved (the writing fell behind or failed)");
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

void GrabSession::OnReset() {
    std::lock_guard<std::mutex> hold(lock_);
    ++summary_.resets;
}

void GrabSession::OnRowsMissing(int64_t rows) {
    std::lock_guard<std::mutex> hold(lock_);
    summary_.failedRows += rows;
}

void GrabSession::OnFrame(const FrameGeometry& geometry, const uint8_t* pixels, int64_t arrivedUs) {
    {
        std::lock_guard<std::mutex> hold(lock_);
        if (enough_) {
            return;
        }
        const int64_t index = ++summary_.frames;
        summary_.bytes += geometry.Bytes();
        summary_.geometry = geometry;
        if (index == 1) {
            firstFrameUs_ = arrivedUs;
        }
        lastFrameUs_ = arrivedUs;
        const int64_t latency = summary_.Add(geometry, pixels, arrivedUs);
        if (latency >= 0) {
            summary_.latency.Add(latency);
        }
        if (!options_.saveDir.empty() && index % options_.every == 0) {
            if (saveQueue_.size() < kMostQueuedSaves) {
                saveQueue_.push_back(
                    SavedFrame{index, geometry, std::vector<uint8_t>(pixels, pixels + geometry.Bytes())});
            } else {
                ++saveSkipped_;
            }
        }
        enough_ = options_.frames > 0 && index >= options_.frames;
    }
    frameArrived_.notify_one();
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
