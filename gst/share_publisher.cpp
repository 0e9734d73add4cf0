#include "share_publisher.h"

#include <algorithm>
#include <chrono>
#include <limits>
#include <thread>

namespace quorvexgst {
namespace {

// Room for a full-HD frame of four bytes per pixel from the start, so that
// the common sizes never replace the server; shared memory is only backed
// where it is written.
constexpr int64_t kFirstSegmentBytes = int64_t{1920} * 1080 * 4;
// A larger server can take the name only once the hosts of the old one have
// let its segment go, which they do as soon as they see its pipe close.
constexpr auto kReplaceRetryFor = std::chrono::seconds(3);
constexpr auto kRetryPause = std::chrono::milliseconds(50);
constexpr int kWaitSliceMs = 50;
const char* const kStopped = "the sink has stopped serving its share";

}  // namespace

bool SharePublisher::Start(const ShareSettings& settings, std::string& error) {
    const std::lock_guard<std::mutex> hold(lock_);
    settings_ = settings;
    return Create(kFirstSegmentBytes, error);
}

void SharePublisher::Stop() {
    const std::lock_guard<std::mutex> hold(lock_);
    server_.reset();
    segmentBytes_ = 0;
}

bool SharePublisher::Create(int64_t segmentBytes, std::string& error) {
    server_.reset(QuorvexServerCreate(settings_.share.c_str(), static_cast<int>(segmentBytes), settings_.maxClients));
    if (!server_) {
        error = "Cannot serve the share \"" + settings_.share + "\": " + QuorvexServerLastError(nullptr);
        return false;
    }
    segmentBytes_ = segmentBytes;
    if (QuorvexServerSetChannelOrder(server_.get(), settings_.order) != 0) {
        error = "The camera server refused the channel order: " + std::string(QuorvexServerLastError(server_.get()));
        server_.reset();
        return false;
    }
    return true;
}

bool SharePublisher::SetFrameSize(int width, int height, int bytesPerPixel, std::string& error) {
    const int64_t bytes = int64_t{width} * height * bytesPerPixel;
    if (bytes > std::numeric_limits<int>::max()) {
        error = "A frame of " + std::to_string(width) + "x" + std::to_string(height) +
                " pixels is larger than a camera server's segment can be";
        return false;
    }
    const std::lock_guard<std::mutex> hold(lock_);
    if (!server_) {
        error = kStopped;
        return false;
    }
    if (bytes > segmentBytes_) {
        server_.reset();
        const auto giveUp = std::chrono::steady_clock::now() + kReplaceRetryFor;
        while (!Create(bytes, error)) {
            if (std::chrono::steady_clock::now() > giveUp || cancelled_) {
                return false;
            }
            std::this_thread::sleep_for(kRetryPause);
        }
    }
    // The hosts learn the size now, before the first frame of it.
    width_ = width;
    height_ = height;
    bytesPerPixel_ = bytesPerPixel;
    QuorvexServerSetDimensions(server_.get(), width, height, bytesPerPixel);
    return true;
}

bool SharePublisher::Publish(const void* pixels, int width, int height, int strideBytes, int layout,
                             int64_t captureMicroseconds, std::string& error) {
    const std::lock_guard<std::mutex> hold(lock_);
    if (!server_) {
        error = kStopped;
        return false;
    }
    if (QuorvexServerPublishFrameExAt(server_.get(), pixels, width, height, strideBytes, layout, captureMicroseconds) <
        0) {
        error = QuorvexServerLastError(server_.get());
        return false;
    }
    return true;
}

void SharePublisher::SkipFrames(int count) {
    const std::lock_guard<std::mutex> hold(lock_);
    if (server_) {
        QuorvexServerSkipFrames(server_.get(), count);
    }
}

SharePublisher::WaitResult SharePublisher::WaitForHosts(int count, int timeoutMs) {
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (cancelled_) {
            return WaitResult::Cancelled;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(giveUp - std::chrono::steady_clock::now());
        const int slice = static_cast<int>(std::clamp<int64_t>(left.count(), 0, kWaitSliceMs));
        {
            const std::lock_guard<std::mutex> hold(lock_);
            if (!server_) {
                return WaitResult::Cancelled;
            }
            if (QuorvexServerWaitForClients(server_.get(), count, slice) == 1) {
                return WaitResult::Attached;
            }
        }
        if (left.count() <= 0) {
            return WaitResult::TimedOut;
        }
    }
}

}  // namespace quorvexgst
