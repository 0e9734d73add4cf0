#include "frame_reader.h"

namespace tools {
namespace {

// How long a read waits for a frame before it looks whether to stop.
constexpr int kReadWaitMs = 100;

}  // namespace

FrameReader::FrameReader(QuorvexHostCamera* camera, LiveView& view)
    : camera_(camera), view_(view), thread_([this] { Run(); }) {}

FrameReader::~FrameReader() {
    stop_ = true;
    thread_.join();
}

void FrameReader::Run() {
    while (!stop_) {
        QuorvexHostFrame frame{};
        const int result = QuorvexHostCameraRead(camera_, kReadWaitMs, &frame);
        if (result == QUORVEX_HOST_FRAME) {
            view_.Take(frame);
            QuorvexHostCameraRelease(camera_, &frame);
        }
        QuorvexHostCounters counters{};
        QuorvexHostCameraCounters(camera_, &counters);
        // The library's sentence belongs to this thread until its next call.
        view_.SetStream(result, result == QUORVEX_HOST_ENDED ? QuorvexHostLastError() : "", counters);
    }
}

}  // namespace tools
