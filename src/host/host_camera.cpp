#include "host_camera.h"

#include <algorithm>
#include <chrono>

#include "quorvex_host.h"

namespace host {
namespace {

constexpr int kGrabberNo = 0;
constexpr int kBitsPerByte = 8;
// How often a read that waits looks whether the stream has ended.
constexpr std::chrono::milliseconds kEndedLookEvery(100);

int64_t SteadyMicroseconds() {
    using std::chrono::duration_cast;
    using std::chrono::microseconds;
    return duration_cast<microseconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// The clock servers stamp their frames with.
int64_t RealtimeMicroseconds() {
    using std::chrono::duration_cast;
    using std::chrono::microseconds;
    return duration_cast<microseconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

}  // namespace

HostCamera::HostCamera(const tools::DriverExports& driver, CameraSetup setup)
    : driver_(driver), setup_(std::move(setup)), queue_(setup_.queueDepth) {}

void HostCamera::SetOpenedSize(int width, int height) {
    openedWidth_ = width;
    openedHeight_ = height;
}

void HostCamera::OnReset() {
    // The driver asks before it takes over the new size, so the size is read
    // at the next frame, when it is in place.
    resetPending_ = true;
    ++resets_;
}

void HostCamera::ReadGeometry() {
    int bitsPerPixel = 0;
    driver_.getProperty(kGrabberNo, setup_.port, "Width", &width_);
    driver_.getProperty(kGrabberNo, setup_.port, "Height", &height_);
    driver_.getProperty(kGrabberNo, setup_.port, "PixelSize", &bitsPerPixel);
    bytesPerPixel_ = bitsPerPixel / kBitsPerByte;
}

bool HostCamera::Property(const char* name, int& value) const {
    return driver_.getProperty(kGrabberNo, setup_.port, name, &value) != 0;
}

void HostCamera::ReadStamp(Frame& frame) {
    // A driver without these names answers none of them: every field stays 0.
    int number = 0;
    int captureHigh = 0;
    int captureLow = 0;
    int gap = 0;
    driver_.getProperty(kGrabberNo, setup_.port, "FrameNumber", &number);
    driver_.getProperty(kGrabberNo, setup_.port, "FrameCaptureHigh", &captureHigh);
    driver_.getProperty(kGrabberNo, setup_.port, "FrameCaptureLow", &captureLow);
    driver_.getProperty(kGrabberNo, setup_.port, "FrameGap", &gap);
    frame.serverNumber = static_cast<uint32_t>(number);
    frame.captureUs =
        static_cast<int64_t>((uint64_t{static_cast<uint32_t>(captureHigh)} << 32) | static_cast<uint32_t>(captureLow));
    frame.gap = gap;
}

void HostCamera::OnFrame() {
    const int64_t arrivedUs = SteadyMicroseconds();
    const int64_t arrivedRealUs = RealtimeMicroseconds();
    if (resetPending_.exchange(false)) {
        ReadGeometry();
    }
    if (width_ <= 0 || height_ <= 0 || bytesPerPixel_ <= 0) {
        ++incomplete_;
        return;
    }
    const int64_t rowBytes = int64_t{width_} * bytesPerPixel_;
    const int64_t alignment = setup_.rowAlignment;
    const int64_t pitch = (rowBytes + alignment - 1) / alignment * alignment;
    Frame frame;
    ReadStamp(frame);
    // The link came late to an announcement and took the newer frame for
    // the one before: the driver gives that frame twice, the queue once. A
    // server started afresh numbers from 1 again, at another time.
    if (frame.serverNumber != 0 && frame.serverNumber == lastServerNumber_ && frame.captureUs == lastCaptureUs_) {
        ++repeated_;
        return;
    }
    lastServerNumber_ = frame.serverNumber;
    lastCaptureUs_ = frame.captureUs;
    lost_ += frame.gap;
    frame.bytes = queue_.Buffer(static_cast<size_t>(pitch * height_));
    for (int row = 0; row < height_; ++row) {
        if (!driver_.getCVLGrabRow(kGrabberNo, setup_.port, frame.bytes.data() + row * pitch, row, 0, width_ - 1)) {
            ++incomplete_;
            return;
        }
    }
    frame.width = width_;
    frame.height = height_;
    frame.bytesPerPixel = bytesPerPixel_;
    frame.rowPitch = static_cast<int>(pitch);
    frame.arrivedUs = arrivedUs;
    frame.arrivedRealUs = arrivedRealUs;
    queue_.Push(std::move(frame));
}

bool HostCamera::Ended() const {
    const int state = LinkState();
    return state == QUORVEX_HOST_LINK_STOPPED || state == QUORVEX_HOST_LINK_REFUSED;
}

ReadResult HostCamera::Read(int timeoutMs, const Frame*& frame, std::string& why) {
    // The driver says nothing when a stream ends: a long wait looks at the
    // link now and then, so that it does not sit out its time-out (or wait
    // for ever) for frames that cannot come.
    using std::chrono::milliseconds;
    const auto end = std::chrono::steady_clock::now() + milliseconds(timeoutMs);
    for (;;) {
        const auto left = std::chrono::duration_cast<milliseconds>(end - std::chrono::steady_clock::now());
        const milliseconds slice =
            timeoutMs < 0 ? kEndedLookEvery : std::max(milliseconds(0), std::min(left, kEndedLookEvery));
        frame = queue_.Pop(slice);
        if (frame != nullptr) {
            return ReadResult::kFrame;
        }
        if ((timeoutMs >= 0 && slice >= left) || Ended()) {
            break;
        }
    }
    // What the driver's link knows; a driver that does not say is judged by
    // whether a server ever answered: frames, or the size at the open.
    int linkState = LinkState();
    if (linkState < 0) {
        linkState = queue_.Counts().received > 0 || openedWidth_ > 0 || incomplete_ > 0 ? QUORVEX_HOST_LINK_CONNECTED
                                                                                        : QUORVEX_HOST_LINK_NO_SERVER;
    }
    if (linkState == QUORVEX_HOST_LINK_STOPPED) {
        why = "the server of the share \"" + setup_.share + "\" ended the stream (Stop)";
        return ReadResult::kEnded;
    }
    if (linkState == QUORVEX_HOST_LINK_REFUSED) {
        why = "the driver ended the stream from the share \"" + setup_.share +
              "\" on a frame it could not take (its log says why)";
        return ReadResult::kEnded;
    }
    if (linkState == QUORVEX_HOST_LINK_NO_SERVER) {
        why = "no camera server answers on the share \"" + setup_.share + "\" of " + setup_.name +
              " (is a server serving it?)";
        return ReadResult::kNoServer;
    }
    why = "no frame from the share \"" + setup_.share + "\" within " + std::to_string(timeoutMs) + " ms";
    return ReadResult::kNothingYet;
}

int HostCamera::LinkState() const {
    int state = -1;
    return driver_.getProperty(kGrabberNo, setup_.port, "LinkState", &state) ? state : -1;
}

CameraCounts HostCamera::Counts() {
    const FrameCounts queued = queue_.Counts();
    return CameraCounts{queued.received,    queued.replaced, resets_.load(),
                        incomplete_.load(), lost_.load(),    repeated_.load()};
}

}  // namespace host
