// What the host library's tests share: a host on a folder of its own, a camera
// server of the server library on a share of its own, and frames whose bytes
// tell which frame, row and column they came from.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/process.h"
#include "quorvex_host.h"
#include "quorvex_server.h"
#include "support/child_process.h"
#include "support/temp_dir.h"
#include "support/unique_name.h"
#include "support/waits.h"

namespace hosttests {

// Generous bounds for what takes milliseconds.
constexpr int kWaitMs = 10000;

// Pixel bytes of frame `seed`: each byte names its frame, row and column.
inline uint8_t PixelByte(uint32_t seed, int row, int byteInRow) {
    return static_cast<uint8_t>(seed * 61u + static_cast<uint32_t>(row) * 31u + static_cast<uint32_t>(byteInRow) * 7u);
}

inline std::vector<uint8_t> MakeFrame(int width, int height, int bytesPerPixel, uint32_t seed) {
    const int rowBytes = width * bytesPerPixel;
    std::vector<uint8_t> frame(static_cast<size_t>(rowBytes) * static_cast<size_t>(height));
    for (int row = 0; row < height; ++row) {
        for (int at = 0; at < rowBytes; ++at) {
            frame[static_cast<size_t>(row) * static_cast<size_t>(rowBytes) + static_cast<size_t>(at)] =
                PixelByte(seed, row, at);
        }
    }
    return frame;
}

// A camera server on a share of its own (or `share`, in the system's narrow
// text, as the server library takes it), destroyed with the object.
class Server {
public:
    Server(int width, int height, int bytesPerPixel, std::string share = testsupport::UniqueName("host-lib"))
        : share_(std::move(share)),
          width_(width),
          height_(height),
          bytesPerPixel_(bytesPerPixel),
          server_(QuorvexServerCreate(share_.c_str(), width * height * bytesPerPixel, 8)) {
        if (server_ != nullptr) {
            QuorvexServerSetDimensions(server_, width, height, bytesPerPixel);
        }
    }
    ~Server() { QuorvexServerDestroy(server_); }
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    bool Up() const { return server_ != nullptr; }
    const std::string& Share() const { return share_; }
    bool Publish(uint32_t seed) {
        const std::vector<uint8_t> frame = MakeFrame(width_, height_, bytesPerPixel_, seed);
        return QuorvexServerPublishFrame(server_, frame.data(), static_cast<int>(frame.size())) != 0;
    }
    QuorvexServer* Get() { return server_; }

private:
    std::string share_;
    int width_;
    int height_;
    int bytesPerPixel_;
    QuorvexServer* server_;
};

// Runs this program again as `--child=verb args`, its output in `output`;
// its exit code, or -1 when it did not end within the bound.
inline int RunChild(const std::string& verb, const std::vector<std::string>& args, const std::string& output) {
    platform::ChildProcess child;
    std::vector<std::string> all{"--child=" + verb};
    all.insert(all.end(), args.begin(), args.end());
    int exitCode = -1;
    if (!child.Start(platform::ProgramPath(), all, output) || !child.Wait(60000, exitCode)) {
        return -1;
    }
    return exitCode;
}

using testsupport::WaitUntil;

inline QuorvexHostCounters Counters(const QuorvexHostCamera* camera) {
    QuorvexHostCounters counters{};
    QuorvexHostCameraCounters(camera, &counters);
    return counters;
}

// Publishes frame `seed` and waits until the camera has taken it.
inline testing::AssertionResult Deliver(Server& server, const QuorvexHostCamera* camera, uint32_t seed) {
    const long long before = Counters(camera).received;
    // A frame published before the link is ready for it is not announced:
    // published again until one arrives.
    const bool arrived = WaitUntil(
        [&] {
            server.Publish(seed);
            return WaitUntil([&] { return Counters(camera).received > before; }, 200);
        },
        kWaitMs);
    return arrived ? testing::AssertionSuccess() : testing::AssertionFailure() << "frame " << seed << " never arrived";
}

// A host on a temporary folder, closed with the test.
class HostTest : public testing::Test {
protected:
    void SetUp() override {
        host_ = QuorvexHostOpen(nullptr, dir_.Path().c_str());
        ASSERT_NE(nullptr, host_) << QuorvexHostLastError();
    }
    void TearDown() override { QuorvexHostClose(host_); }

    // Writes the camera's share and a long connection time-out: an open
    // returns as soon as the server's dimensions are in.
    void PointAt(const char* camera, const std::string& share) {
        QuorvexHostSettings settings{share.c_str(), QUORVEX_HOST_KEEP, kWaitMs};
        ASSERT_EQ(1, QuorvexHostWriteSettings(host_, camera, &settings)) << QuorvexHostLastError();
    }

    // Points `camera` at `share` and opens it; null, with the test failed,
    // when the library refuses.
    QuorvexHostCamera* OpenOn(const std::string& share, const char* camera, const QuorvexHostCameraOptions& options) {
        PointAt(camera, share);
        QuorvexHostCamera* opened = QuorvexHostCameraOpen(host_, camera, &options);
        if (opened == nullptr) {
            ADD_FAILURE() << QuorvexHostLastError();
        }
        return opened;
    }

    testsupport::TempDir dir_;
    QuorvexHost* host_ = nullptr;
};

}  // namespace hosttests
