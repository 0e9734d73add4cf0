#include "test_host.h"

#include "support/waits.h"

namespace gsttest {
namespace {

constexpr const char* kCamera = "Camera 1";
constexpr int kPort = 1;
// Deep enough that no frame of these tests waits behind so many unread: the
// reader takes each as it comes, and a dropped one fails the wait.
constexpr int kQueueDepth = 256;
// How long a read waits before the reader looks whether it is to stop.
constexpr int kReadSliceMs = 50;

}  // namespace

std::string Describe(const std::vector<HostFrame>& frames) {
    std::string text;
    for (size_t i = 0; i < frames.size(); ++i) {
        const HostFrame& frame = frames[i];
        text += "frame " + std::to_string(i) + ": " + std::to_string(frame.width) + "x" + std::to_string(frame.height) +
                "x" + std::to_string(frame.bytesPerPixel) + ", first byte " +
                (frame.pixels.empty() ? std::string("-") : std::to_string(frame.pixels[0])) + ", after " +
                std::to_string(frame.resetsBefore) + " resets\n";
    }
    return text;
}

TestHost::~TestHost() {
    Close();
}

testing::AssertionResult TestHost::Open(const std::string& systemDir, const std::string& share) {
    Close();
    host_.reset(QuorvexHostOpen(nullptr, systemDir.c_str()));
    if (!host_) {
        return testing::AssertionFailure() << "no host on " << systemDir << ": " << QuorvexHostLastError();
    }
    const QuorvexHostSettings settings{share.c_str(), QUORVEX_HOST_KEEP, 100};
    if (QuorvexHostWriteSettings(host_.get(), kCamera, &settings) != 1) {
        return testing::AssertionFailure() << "the settings were not written: " << QuorvexHostLastError();
    }
    const QuorvexHostCameraOptions options{kPort, kQueueDepth, 1};
    camera_.reset(QuorvexHostCameraOpen(host_.get(), kCamera, &options));
    if (!camera_) {
        return testing::AssertionFailure() << "the camera did not open: " << QuorvexHostLastError();
    }
    shapeKnown_ = false;
    stop_ = false;
    reader_ = std::thread([this] { ReadFrames(); });
    return testing::AssertionSuccess();
}

testing::AssertionResult TestHost::AcknowledgeThrough(const std::string& name) {
    if (!acknowledgements_.Open(name)) {
        return testing::AssertionFailure() << "cannot create the event " << name;
    }
    return testing::AssertionSuccess();
}

void TestHost::Close() {
    if (reader_.joinable()) {
        stop_ = true;
        reader_.join();
    }
    if (camera_) {
        const QuorvexHostCounters counters = Counters();
        std::lock_guard<std::mutex> hold(lock_);
        resetsBefore_ += static_cast<int>(counters.resets);
        replacedBefore_ += counters.replaced;
    }
    camera_.reset();
    host_.reset();
}

QuorvexHostCounters TestHost::Counters() const {
    QuorvexHostCounters counters{};
    QuorvexHostCameraCounters(camera_.get(), &counters);
    return counters;
}

void TestHost::ReadFrames() {
    while (!stop_) {
        QuorvexHostFrame read{};
        const int result = QuorvexHostCameraRead(camera_.get(), kReadSliceMs, &read);
        if (result == QUORVEX_HOST_FAILED) {
            ADD_FAILURE() << "a read failed: " << QuorvexHostLastError();
            return;
        }
        if (result == QUORVEX_HOST_FRAME) {
            Keep(read);
            QuorvexHostCameraRelease(camera_.get(), &read);
            acknowledgements_.Acknowledge();
        }
    }
}

void TestHost::Keep(const QuorvexHostFrame& read) {
    HostFrame frame;
    frame.width = read.width;
    frame.height = read.height;
    frame.bytesPerPixel = read.bytesPerPixel;
    frame.number = read.serverNumber;
    frame.gap = read.gap;
    frame.captureUs = read.captureUs;
    frame.arrivedUs = read.arrivedRealUs;
    const size_t rowBytes = static_cast<size_t>(read.width) * static_cast<size_t>(read.bytesPerPixel);
    for (int row = 0; row < read.height; ++row) {
        const unsigned char* start = read.pixels + static_cast<size_t>(row) * static_cast<size_t>(read.rowPitch);
        frame.pixels.insert(frame.pixels.end(), start, start + rowBytes);
    }
    // The driver announces a reset before the first frame of a new shape,
    // and the counter is read after that frame: it holds that reset. A frame
    // of the shape before carries the count its shape's first frame had, so
    // a reset counted while the reader was behind is not put before it.
    const int resetsNow = static_cast<int>(Counters().resets);
    std::lock_guard<std::mutex> hold(lock_);
    const HostFrame* previous = shapeKnown_ ? &frames_.back() : nullptr;
    if (previous != nullptr && previous->width == frame.width && previous->height == frame.height &&
        previous->bytesPerPixel == frame.bytesPerPixel) {
        frame.resetsBefore = previous->resetsBefore;
    } else {
        frame.resetsBefore = resetsBefore_ + resetsNow;
    }
    shapeKnown_ = true;
    frames_.push_back(std::move(frame));
}

testing::AssertionResult TestHost::WaitForFrames(size_t count, unsigned timeoutMs) {
    if (!testsupport::WaitUntil([&] { return FrameCount() >= count; }, timeoutMs)) {
        return testing::AssertionFailure()
               << "the host received " << FrameCount() << " frames of " << count << " within " << timeoutMs << " ms";
    }
    long long replaced = camera_ ? Counters().replaced : 0;
    {
        std::lock_guard<std::mutex> hold(lock_);
        replaced += replacedBefore_;
    }
    if (replaced != 0) {
        return testing::AssertionFailure() << "the host's queue dropped " << replaced << " frames unread";
    }
    return testing::AssertionSuccess();
}

std::vector<HostFrame> TestHost::Frames() const {
    std::lock_guard<std::mutex> hold(lock_);
    return frames_;
}

size_t TestHost::FrameCount() const {
    std::lock_guard<std::mutex> hold(lock_);
    return frames_.size();
}

int TestHost::Resets() const {
    const int resetsNow = camera_ ? static_cast<int>(Counters().resets) : 0;
    std::lock_guard<std::mutex> hold(lock_);
    return resetsBefore_ + resetsNow;
}

}  // namespace gsttest
