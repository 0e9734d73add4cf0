#include "scripted_camera.h"

#include <cstring>

namespace testsupport {
namespace {

constexpr DWORD kTickMs = 5;
constexpr int kTicksPerFrame = 4;
constexpr DWORD kMutexWaitMs = 2000;
constexpr uint32_t kCountdownFrom = 1000000;
constexpr uint32_t kOvertakenFrame = 3;

DimensionsBlock Taller(const DimensionsBlock& size) {
    return DimensionsBlock{size.width, size.height * 2, size.bytesPerPixel};
}

DWORD FrameBytes(const DimensionsBlock& size) {
    const int64_t bytes = int64_t{size.width} * size.height * size.bytesPerPixel;
    return bytes > 0 ? static_cast<DWORD>(bytes) : 0;
}

}  // namespace

ScriptedCamera::ScriptedCamera(const std::string& shareName, const ServerFaults& faults)
    : shareName_(shareName), faults_(faults), server_(shareName) {}

ScriptedCamera::~ScriptedCamera() {
    quit_ = true;
    if (publisher_.joinable()) {
        publisher_.join();
    }
}

testing::AssertionResult ScriptedCamera::Start() {
    const DimensionsBlock largest = faults_.growOverThirdFrame ? Taller(faults_.dimensions) : faults_.dimensions;
    viewBytes_ = faults_.segmentBytes != 0 ? faults_.segmentBytes : FrameBytes(largest) + sizeof(FrameStamp);
    mapping_.reset(
        CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, viewBytes_, shareName_.c_str()));
    view_.reset(mapping_ ? MapViewOfFile(mapping_.get(), FILE_MAP_ALL_ACCESS, 0, 0, 0) : nullptr);
    mutex_.reset(CreateMutexA(nullptr, FALSE, MutexName(shareName_).c_str()));
    if (!mapping_ || !view_ || !mutex_) {
        return testing::AssertionFailure() << "segment or mutex not made: error " << GetLastError();
    }
    const testing::AssertionResult serving = server_.Serve([this](ScriptedServer& server) { OnRequest(server); });
    if (!serving) {
        return serving;
    }
    publisher_ = std::thread([this] { Publish(); });
    return testing::AssertionSuccess();
}

void ScriptedCamera::OnRequest(ScriptedServer& server) {
    const int connection = server.Connections();
    if (faults_.serveOneConnection && connection > 1) {
        return;
    }
    const bool first = answeredConnection_.exchange(connection) != connection;
    if (faults_.answerFirstRequestOnly && !first) {
        return;
    }
    if (faults_.frameBeforeDimensions && first) {
        server.SendHeader(ImageReady, 0);
    }
    if (faults_.answerInOneMessage) {
        server.SendDimensionsAsOneMessage(Dimensions());
    } else {
        server.SendDimensions(Dimensions());
    }
}

DimensionsBlock ScriptedCamera::Dimensions() const {
    return grown_ ? Taller(faults_.dimensions) : faults_.dimensions;
}

// Called with the mutex held, after the frame before was announced.
void ScriptedCamera::Grow() {
    grown_ = true;
    server_.SendDimensions(Dimensions());
}

void ScriptedCamera::WriteFrame(uint32_t number) {
    auto* bytes = static_cast<uint8_t*>(view_.get());
    const DWORD frameBytes = FrameBytes(Dimensions());
    const DWORD count = frameBytes < viewBytes_ ? frameBytes : viewBytes_;
    std::memset(bytes, static_cast<int>(number & 0xFF), count);
    if (faults_.stamps && frameBytes + sizeof(FrameStamp) <= viewBytes_) {
        const FrameStamp stamp{kFrameStampMark, kFrameStampVersion, number, 0, StampClockMicroseconds()};
        std::memcpy(bytes + frameBytes, &stamp, sizeof stamp);
    }
}

void ScriptedCamera::Publish() {
    platform::MutexHold kept;
    if (faults_.keepMutex) {
        kept = mutex_.Acquire(kMutexWaitMs);
    }
    uint32_t published = 0;
    for (int tick = 1; !quit_; ++tick) {
        Sleep(kTickMs);
        if (faults_.writeWithoutMutex) {
            WriteFrame(static_cast<uint32_t>(tick));
        }
        if (tick % kTicksPerFrame != 0) {
            continue;
        }
        ++published;
        uint32_t number = faults_.numbersGoBack ? kCountdownFrom - published : published;
        if (!faults_.keepMutex && !faults_.writeWithoutMutex) {
            const platform::MutexHold hold = mutex_.Acquire(kMutexWaitMs);
            if (hold) {
                WriteFrame(number);
            }
            if (hold && faults_.growOverThirdFrame && number == kOvertakenFrame) {
                // Announced under the hold, so no host reads it before the
                // next, taller frame is written over it.
                server_.SendHeaderIfTold(ImageReady, static_cast<int32_t>(number));
                ++published;
                Grow();
                WriteFrame(++number);
            }
        }
        for (int announcement = faults_.announceTwice ? 2 : 1; announcement > 0; --announcement) {
            server_.SendHeaderIfTold(ImageReady, faults_.stamps ? static_cast<int32_t>(number) : 0);
        }
    }
}

}  // namespace testsupport
