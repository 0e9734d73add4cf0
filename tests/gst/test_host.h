// A host of the driver for the GStreamer elements' tests: it loads the built
// library as any host does, opens one camera on a share and keeps every
// frame its complete callback reads, with the resets asked for.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "host_acknowledgements.h"
#include "host_harness.h"
#include "support/host_frame.h"

namespace gsttest {

struct HostFrame : testsupport::FrameShape {
    std::vector<uint8_t> pixels;  // rows back to back
    int resetsBefore = 0;         // the resets asked for before this frame
    int number = 0;               // the server's number for it (FrameNumber)
    int gap = 0;                  // numbers left out before it (FrameGap)
    int64_t captureUs = 0;        // its capture time (FrameCaptureHigh/Low)
    int64_t arrivedUs = 0;        // the host's real-time clock as it came
};

// The frames' sizes, first bytes and resets, one line each, for failure
// messages.
std::string Describe(const std::vector<HostFrame>& frames);

// One camera of the loaded driver, open from Open to Close (or the end of
// the object). One TestHost at a time per process: the driver's callbacks
// reach it through `current_`.
class TestHost {
public:
    TestHost();
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

    // Waits until `count` frames have arrived in all.
    testing::AssertionResult WaitForFrames(size_t count, unsigned timeoutMs);
    std::vector<HostFrame> Frames() const;
    size_t FrameCount() const;
    int Resets() const;

private:
    static void QUORVEX_CALL OnComplete(int grabberNo, int portNo);
    static void QUORVEX_CALL OnCommand(int grabberNo, int portNo, const char* command, const char* argument);
    void HandleFrame();

    static TestHost* current_;

    const hosttest::DriverExports& driver_;
    bool initialized_ = false;
    bool open_ = false;
    // The camera's thread.
    bool sizeKnown_ = false;
    testsupport::FrameShape size_;
    HostAcknowledgements acknowledgements_;

    mutable std::mutex lock_;
    std::vector<HostFrame> frames_;
    int resets_ = 0;
};

}  // namespace gsttest
