#include "test_host.h"

#include "settings_file.h"
#include "support/waits.h"
#include "wire/messages.h"

namespace gsttest {
namespace {

constexpr int kGrabber = 0;
constexpr int kPort = 1;
constexpr const char* kCamera = "Camera 1";

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

TestHost* TestHost::current_ = nullptr;

TestHost::TestHost() : driver_(hosttest::HostLibrary::Get().Exports()) {}

TestHost::~TestHost() {
    Close();
}

testing::AssertionResult TestHost::Open(const std::string& systemDir, const std::string& share) {
    if (!hosttest::HostLibrary::Get().Loaded()) {
        return testing::AssertionFailure() << hosttest::HostLibrary::Get().Problem();
    }
    if (!tools::WriteCameraSetting(systemDir, kCamera, "PipeName", share) ||
        !tools::WriteCameraSetting(systemDir, kCamera, "ConnectionTimeout", "100")) {
        return testing::AssertionFailure() << "cannot write " << tools::SettingsFilePath(systemDir);
    }
    current_ = this;
    if (!driver_.initialize(systemDir.c_str(), nullptr)) {
        return testing::AssertionFailure() << "initialize failed";
    }
    initialized_ = true;
    int dimensions[2] = {0, 0};
    if (!driver_.openCVLPort(kGrabber, kPort, kCamera, dimensions)) {
        return testing::AssertionFailure() << "openCVLPort failed";
    }
    open_ = true;
    driver_.setCmdCallback(kGrabber, kPort, &TestHost::OnCommand);
    driver_.setCompleteCallback(kGrabber, kPort, &TestHost::OnComplete);
    return testing::AssertionSuccess();
}

testing::AssertionResult TestHost::AcknowledgeThrough(const std::string& name) {
    if (!acknowledgements_.Open(name)) {
        return testing::AssertionFailure() << "cannot create the event " << name;
    }
    return testing::AssertionSuccess();
}

void TestHost::Close() {
    if (open_) {
        driver_.closeCVLPort(kGrabber, kPort);
        open_ = false;
    }
    if (initialized_) {
        driver_.finalize();
        initialized_ = false;
    }
    sizeKnown_ = false;
}

void QUORVEX_CALL TestHost::OnComplete(int, int) {
    current_->HandleFrame();
}

void QUORVEX_CALL TestHost::OnCommand(int, int, const char* command, const char*) {
    if (std::string(command) == "Reset") {
        current_->sizeKnown_ = false;
        std::lock_guard<std::mutex> hold(current_->lock_);
        ++current_->resets_;
    }
}

void TestHost::HandleFrame() {
    if (!sizeKnown_) {
        testsupport::ReadShape(driver_, kPort, size_);
        sizeKnown_ = true;
    }
    HostFrame frame;
    static_cast<testsupport::FrameShape&>(frame) = size_;
    testsupport::ReadRows(driver_, kPort, size_, frame.pixels);
    int high = 0;
    int low = 0;
    driver_.getProperty(kGrabber, kPort, "FrameNumber", &frame.number);
    driver_.getProperty(kGrabber, kPort, "FrameGap", &frame.gap);
    driver_.getProperty(kGrabber, kPort, "FrameCaptureHigh", &high);
    driver_.getProperty(kGrabber, kPort, "FrameCaptureLow", &low);
    frame.captureUs = static_cast<int64_t>((uint64_t{static_cast<uint32_t>(high)} << 32) | static_cast<uint32_t>(low));
    frame.arrivedUs = StampClockMicroseconds();
    {
        std::lock_guard<std::mutex> hold(lock_);
        frame.resetsBefore = resets_;
        frames_.push_back(std::move(frame));
    }
    acknowledgements_.Acknowledge();
}

testing::AssertionResult TestHost::WaitForFrames(size_t count, unsigned timeoutMs) {
    if (!testsupport::WaitUntil([&] { return FrameCount() >= count; }, timeoutMs)) {
        return testing::AssertionFailure()
               << "the host received " << FrameCount() << " frames of " << count << " within " << timeoutMs << " ms";
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
    std::lock_guard<std::mutex> hold(lock_);
    return resets_;
}

}  // namespace gsttest
