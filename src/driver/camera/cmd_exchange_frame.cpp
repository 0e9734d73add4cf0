// The link thread's frame path: a frame the server announced, from its
// segment into the camera's buffer and on to the host.
#include "camera/cmd_exchange_thread.h"
#include "support/driver_state.h"
#include "support/log.h"

namespace {

// How long a frame that comes while its camera is being opened waits for
// the host to be ready, and how often it looks.
constexpr DWORD kHostReadyWaitMs = 1000;
constexpr DWORD kHostReadyPollMs = 5;

}  // namespace

void CmdExchangeThread::RefuseFrame() {
    ++record.framesRefused;
    LogMessage(1, GetDriverState(),
               "CmdExchangeThread::ProcessRunningStates: ERROR: buffer not assigned or size incorrect, port=%d",
               port.load());
    StopAfterError();
}

void CmdExchangeThread::ProcessImage() {
    if (camera == nullptr) {
        LogMessage(1, GetDriverState(), "CmdExchangeThread::ProcessRunningStates: ERROR: camera not assigned, port=%d",
                   port.load());
        stop = true;
        return;
    }
    if (!dimensionsValid.load(std::memory_order_acquire)) {
        LogMessage(
            1, GetDriverState(),
            "CmdExchangeThread::ProcessRunningStates: ERROR: image available, but dimensions were not assigned as "
            "yet, port=%d",
            port.load());
        stop = true;
        return;
    }
    // Checked before the server's mutex is taken, so that the line is logged
    // with no lock held.
    const int64_t frameBytes = camera->StorableFrameBytes();
    const bool fits = frameBytes > 0;
    // The host sets its callbacks after openCVLPort returns, while the server
    // may already stream. The first frame that comes before the host is ready
    // is copied at once and held for it, a bounded time, so that a server
    // that waited for its hosts loses no first frame; later ones are dropped,
    // and the link goes on.
    const bool ready = HostReady();
    const bool heldForHost = !ready && holdFirstFrame && fits;
    if (ready || heldForHost) {
        holdFirstFrame = false;
    }
    if (!ready && !heldForHost) {
        DropFrame();
        return;
    }
    if (!fits) {
        RefuseFrame();
        return;
    }
    // The server's mutex first, with no lock of this process held; the
    // buffer's lock only for the copy itself, so a host reading rows waits at
    // most one copy and never for the server.
    platform::MutexHold hold;
    const CSharedMemory::ReadStatus status = segment.Acquire(static_cast<int32_t>(frameBytes), waitEvent.get(), hold);
    if (status == CSharedMemory::ReadStatus::Stopped) {
        return;
    }
    if (status != CSharedMemory::ReadStatus::Held) {
        StopAfterError();
        return;
    }
    const bool stored = camera->StoreFrame(segment.View());
    FrameStamp stamp{};
    const bool stamped = stored && segment.ReadStamp(frameBytes, stamp) && StampAnnounced(stamp, header.param);
    hold.Release();
    if (!stored) {
        RefuseFrame();
        return;
    }
    RecordFrameStamp(stamped ? &stamp : nullptr);
    if (heldForHost && !AwaitHost()) {
        if (!Interrupted()) {
            DropFrame();
        }
        return;
    }
    const CompleteCallback callback = camera->FrameReceiver();
    if (callback == nullptr) {
        DropFrame();
        return;
    }
    frameDropLogged = false;
    LogMessage(3, GetDriverState(), "CmdExchangeThread::ProcessRunningStates: image received, port=%d", port.load());
    ++record.framesDelivered;
    callback(0, port.load());
    if (Interrupted()) {
        return;
    }
    StartHeaderRead();
}

void CmdExchangeThread::RecordFrameStamp(const FrameStamp* stamp) {
    if (stamp == nullptr) {
        record.frameNumber = 0;
        record.captureHigh = 0;
        record.captureLow = 0;
        record.frameGap = 0;
        return;
    }
    // Numbers run 1 ... UINT32_MAX and on from 1: one that wrapped lies one
    // closer. A number not after the last (the same frame read again, or a
    // server that started afresh) skips nothing.
    uint32_t ahead = stamp->number - lastFrameNumber;
    if (stamp->number < lastFrameNumber) {
        --ahead;
    }
    const bool follows = lastFrameNumber != 0 && ahead != 0 && ahead < 0x80000000u;
    const auto gap = static_cast<int32_t>(follows ? ahead - 1 : 0);
    lastFrameNumber = stamp->number;
    const auto capture = static_cast<uint64_t>(stamp->captureMicroseconds);
    record.frameNumber = static_cast<int32_t>(stamp->number);
    record.captureHigh = static_cast<int32_t>(capture >> 32);
    record.captureLow = static_cast<int32_t>(capture & 0xFFFFFFFFu);
    record.frameGap = gap;
    record.framesSkipped += gap;
}

bool CmdExchangeThread::HostReady() const {
    return camera->IsOpen() && camera->FrameReceiver() != nullptr;
}

bool CmdExchangeThread::AwaitHost() {
    for (DWORD waited = 0; !HostReady(); waited += kHostReadyPollMs) {
        if (stop || waited >= kHostReadyWaitMs) {
            return false;
        }
        WaitForSingleObject(waitEvent.get(), kHostReadyPollMs);
    }
    return !stop;
}

void CmdExchangeThread::DropFrame() {
    if (!frameDropLogged) {
        LogMessage(2, GetDriverState(), "CmdExchangeThread::ProcessRunningStates: frame dropped, camera %s, port=%d",
                   camera->IsOpen() ? "has no complete callback yet" : "not open yet", port.load());
        frameDropLogged = true;
    }
    StartHeaderRead();
}
