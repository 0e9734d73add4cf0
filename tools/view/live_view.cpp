#include "live_view.h"

#include <cstdio>
#include <filesystem>
#include <sstream>

#include "platform/console.h"

namespace tools {
namespace {

constexpr auto kRateEvery = std::chrono::milliseconds(1000);

const char* ColourName(int bytesPerPixel) {
    switch (bytesPerPixel) {
    case 1:
        return "gray";
    case 3:
        return "RGB";
    case 4:
        return "RGBA";
    default:
        return "bytes";
    }
}

}  // namespace

LiveView::LiveView(const ViewOptions& options, StatusConsole& console, std::string share)
    : options_(options), console_(console), share_(std::move(share)) {}

void LiveView::Take(const QuorvexHostFrame& frame) {
    const FrameGeometry geometry{frame.width, frame.height, frame.bytesPerPixel};
    std::lock_guard<std::mutex> hold(lock_);
    ++frames_;
    const int64_t patternAge = tally_.Add(geometry, frame.pixels, frame.arrivedUs);
    if (frame.serverNumber > 0) {
        serverSequence_.Add(static_cast<uint32_t>(frame.serverNumber));
    }
    // The server's capture time where it gives one: it is there for every
    // source, the pattern's only for the pattern.
    const int64_t age = frame.captureUs > 0 ? frame.arrivedRealUs - frame.captureUs : patternAge;
    if (frame.captureUs > 0 || patternAge >= 0) {
        ages_.Add(age);
        latestAgeUs_ = age;
    }
    if (!paused_) {
        latest_.geometry = geometry;
        latest_.pixels.assign(frame.pixels, frame.pixels + geometry.Bytes());
        ++version_;
    }
}

void LiveView::SetStream(int readResult, const std::string& ending, const QuorvexHostCounters& counters) {
    std::lock_guard<std::mutex> hold(lock_);
    resets_ = counters.resets;
    incomplete_ = counters.incomplete;
    noServer_ = readResult == QUORVEX_HOST_NO_SERVER;
    ending_ = readResult == QUORVEX_HOST_ENDED ? ending : std::string();
}

bool LiveView::TakeFrame(Image& frame) {
    std::lock_guard<std::mutex> hold(lock_);
    if (paused_ || version_ == versionTaken_) {
        return false;
    }
    versionTaken_ = version_;
    frame.geometry = latest_.geometry;
    frame.pixels = latest_.pixels;
    return true;
}

std::string LiveView::StatusText() {
    std::lock_guard<std::mutex> hold(lock_);
    const auto now = Clock::now();
    if (now - rateSince_ >= kRateEvery) {
        rate_ =
            static_cast<double>(frames_ - framesAtRateSince_) / std::chrono::duration<double>(now - rateSince_).count();
        rateSince_ = now;
        framesAtRateSince_ = frames_;
        medianAgeUs_ = ages_.Count() > 0 ? ages_.Median() : -1;
        ages_ = LatencyRecorder();
    }
    // Until a second has passed, or the last one brought no frame: the
    // newest frame's age.
    const double age = medianAgeUs_ >= 0 ? medianAgeUs_ : static_cast<double>(latestAgeUs_);
    std::ostringstream text;
    text.setf(std::ios::fixed);
    text.precision(1);
    if (frames_ == 0) {
        text << "waiting for the share \"" << share_ << "\"; ";
    }
    const bool numbered = serverSequence_.Frames() > 0;
    const int64_t lost = numbered ? serverSequence_.Lost() : tally_.sequence.Lost();
    text << frames_ << " frames, " << rate_ << " fps, " << lost << " lost";
    if (numbered && tally_.patternFrames > 0 && tally_.sequence.Lost() != lost) {
        text << " (pattern " << tally_.sequence.Lost() << ")";
    }
    text << ", " << tally_.sequence.Repeated() << " repeated, latency ";
    if (age >= 0) {
        text.precision(2);
        text << age / 1000.0 << " ms";
    } else {
        text << "-";
    }
    text << ", " << resets_ << " resets";
    if (latest_.geometry.width > 0) {
        text << ", " << latest_.geometry.width << "x" << latest_.geometry.height << " "
             << ColourName(latest_.geometry.bytesPerPixel);
    }
    if (incomplete_ > 0) {
        text << ", " << incomplete_ << " frames not read whole";
    }
    if (noServer_) {
        text << ", no camera server answers";
    }
    if (!ending_.empty()) {
        text << ", " << ending_;
    }
    if (paused_) {
        text << ", paused";
    }
    return text.str();
}

bool LiveView::StopRequested() const {
    return platform::InterruptRequested();
}

void LiveView::Report() {
    console_.Status(StatusText());
}

void LiveView::TogglePause() {
    bool paused = false;
    {
        std::lock_guard<std::mutex> hold(lock_);
        paused_ = !paused_;
        paused = paused_;
    }
    console_.Line(paused ? "quorvex-view: paused" : "quorvex-view: going on");
}

void LiveView::Save(const Image& shown) {
    if (shown.pixels.empty()) {
        console_.Line("quorvex-view: no frame to save yet");
        return;
    }
    int64_t number = 0;
    {
        std::lock_guard<std::mutex> hold(lock_);
        number = ++saved_;
    }
    char name[40];
    std::snprintf(name, sizeof name, "quorvex-view-%04lld.png", static_cast<long long>(number));
    // The folder is UTF-8, as every argument; the C runtime opens the file
    // by its narrow name.
    const std::filesystem::path file = std::filesystem::u8path(options_.saveDir) / name;
    const std::string path = file.u8string();
    std::error_code error;
    std::filesystem::create_directories(file.parent_path(), error);
    if (error) {
        console_.Line("quorvex-view: cannot create the folder " + options_.saveDir + ": " + error.message());
        return;
    }
    if (SavePng(file.string(), shown.geometry, shown.pixels.data())) {
        console_.Line("quorvex-view: saved " + path);
    } else {
        console_.Line("quorvex-view: cannot save " + path);
    }
}

}  // namespace tools
