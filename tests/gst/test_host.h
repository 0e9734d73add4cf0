// A host for the GStreamer elements' tests, on the host library: it opens one
// camera on a share and keeps every frame it reads, with the resets the
// driver announced before it.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host_acknowledgements.h"
#include "support/host_owners.h"

namespace gsttest {

struct HostFrame {
    int width = 0;
    int height = 0;
    int bytesPerPixel = 0;
    std::vector<uint8_t> pixels;  // rows back to back
    int resetsBefore = 0;         // the resets announced before this frame
    int64_t number = 0;           // the server's number for it
    int64_t gap = 0;              // numbers left out before it
    int64_t captureUs = 0;        // its capture time
    int64_t arrivedUs = 0;        // the host's real-time clock as it came
};

// The frames' sizes, first bytes and resets, one line each, for failure
// messages.
std::string Describe(const std::vector<HostFrame>& frames);

// Camera 1 of the driver, open from Open to Close (or the end of the object);
// a thread of its own reads every frame from the host library's queue. The
// frames and the resets add up over every Open.
class TestHost {
public:
    TestHost() = default;
    ~TestHost();
    TestHost(const TestHost&) = delete;
    TestHost& operator=(const TestHost&) = delete;

    // Writes the camera's settings (the share, a short connection time-out)
    // into `systemDir` and opens Camera 1 on port 1.
    testing::AssertionResult Open(const std::string& systemDir, const std::string& share);
    // From now on, acknowledges every frame read through the
    // HostAcknowledgements named `name`.
    testing::AssertionResult AcknowledgeThrough(const std::string& name);
    void Close();

    // Waits until `count` frames have been read in all; fails too when the
    // queue had to drop a frame unread.
    testing::AssertionResult WaitForFrames(size_t count, unsigned timeoutMs);
    std::vector<HostFrame> Frames() const;
    size_t FrameCount() const;
    // The resets announced so far.
    int Resets() const;

private:
    void ReadFrames();
    void Keep(const QuorvexHostFrame& read);
    QuorvexHostCounters Counters() const;

    testsupport::UniqueHost host_;
    testsupport::UniqueHostCamera camera_;
    std::thread reader_;
    std::atomic<bool> stop_{false};
    HostAcknowledgements acknowledgements_;

    mutable std::mutex lock_;
    std::vector<HostFrame> frames_;
    // The counts of the cameras closed before the one open now.
    int resetsBefore_ = 0;
    long long replacedBefore_ = 0;
    // Whether the reader has kept a frame since the Open.
    bool shapeKnown_ = false;
};

}  // namespace gsttest
