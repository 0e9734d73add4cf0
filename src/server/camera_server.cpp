#include "camera_server.h"

#include <cstdint>

namespace {

// DropClients waits this long for the service thread to have closed every
// instance.
constexpr DWORD kDropWaitMs = 5000;

const char* const kMutexHeld = "a client has held the frame's mutex for more than two seconds";

std::string SizeText(int width, int height) {
    return std::to_string(width) + "x" + std::to_string(height);
}

}  // namespace

std::unique_ptr<CameraServer> CameraServer::Create(const std::string& shareName, DWORD segmentBytes, int maxClients,
                                                   Refusal& refusal) {
    auto server = std::make_unique<CameraServer>();
    if (!server->Start(shareName, segmentBytes, maxClients, refusal)) {
        refusal.code = GetLastError();
        return nullptr;
    }
    return server;
}

bool CameraServer::Start(const std::string& shareName, DWORD segmentBytes, int maxClients, Refusal& refusal) {
    pipePath_ = PipePath(shareName);
    maxClients_ = static_cast<DWORD>(maxClients);
    refusal = Refusal{};
    if (!security_.Build(platform::ObjectAccess::OwnUser)) {
        refusal.objectName = shareName;
        return false;
    }
    if (!frame_.Create(shareName, segmentBytes, security_.Attributes(), refusal.objectName)) {
        // A segment too small to take over is another server's; one that
        // shuts this user out is another user's.
        const DWORD code = GetLastError();
        refusal.cause = code == ERROR_ALREADY_EXISTS  ? Refusal::Cause::Taken
                        : code == ERROR_ACCESS_DENIED ? Refusal::Cause::OtherUser
                                                      : Refusal::Cause::System;
        return false;
    }
    wake_.reset(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    dropDone_.reset(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    if (!wake_ || !dropDone_) {
        return false;
    }
    // The instances exist before Create returns, so that a client finds the
    // pipe at once; the service thread starts their waits for clients, since
    // a thread's pending I/O ends when the thread does.
    for (DWORD i = 0; i < maxClients_; ++i) {
        if (!pipes_[i].CreateEvents()) {
            return false;
        }
        if (!pipes_[i].Open(pipePath_, maxClients_, i == 0, security_.Attributes())) {
            // The first instance is refused when the pipe exists: another
            // server's when it holds the segment too (a Windows server of the
            // same user is refused access to the pipe as well), otherwise
            // another user's.
            const DWORD code = GetLastError();
            refusal.objectName = pipePath_;
            refusal.cause = code == ERROR_PIPE_BUSY || (code == ERROR_ACCESS_DENIED && frame_.SegmentExisted())
                                ? Refusal::Cause::Taken
                            : code == ERROR_ACCESS_DENIED ? Refusal::Cause::OtherUser
                                                          : Refusal::Cause::System;
            return false;
        }
    }
    thread_.reset(CreateThread(nullptr, 0, &CameraServer::static_ServiceMain, this, 0, nullptr));
    return static_cast<bool>(thread_);
}

CameraServer::~CameraServer() {
    if (thread_) {
        quit_ = true;
        SetEvent(wake_.get());
        WaitForSingleObject(thread_.get(), INFINITE);
    }
}

DWORD WINAPI CameraServer::static_ServiceMain(LPVOID self) {
    static_cast<CameraServer*>(self)->ServiceMain();
    return 0;
}

void CameraServer::ServiceMain() {
    HANDLE handles[1 + kMaxClients] = {wake_.get()};
    for (DWORD i = 0; i < maxClients_; ++i) {
        handles[1 + i] = pipes_[i].IoEvent();
    }
    const DWORD handleCount = 1 + maxClients_;
    {
        platform::CriticalSectionLock hold(lock_);
        for (DWORD i = 0; i < maxClients_; ++i) {
            pipes_[i].Listen();
        }
    }
    while (!quit_) {
        const DWORD woken = WaitForMultipleObjects(handleCount, handles, FALSE, INFINITE);
        if (woken >= WAIT_OBJECT_0 + handleCount) {
            break;
        }
        platform::CriticalSectionLock hold(lock_);
        if (woken == WAIT_OBJECT_0) {
            if (dropRequested_.exchange(false)) {
                dropped_ = ClientCount();
                CloseAll();
                SetEvent(dropDone_.get());
            }
        } else {
            ServeCompletedIo(pipes_[woken - WAIT_OBJECT_0 - 1]);
        }
        ReopenClosed();
    }
    platform::CriticalSectionLock hold(lock_);
    CloseAll();
}

void CameraServer::ServeCompletedIo(ClientPipe& pipe) {
    if (pipe.OnIoCompleted() && pipe.Message().type == Dimensions && hasDimensions_) {
        SendDimensions(pipe);
    }
}

void CameraServer::CloseAll() {
    for (DWORD i = 0; i < maxClients_; ++i) {
        pipes_[i].Close();
    }
}

void CameraServer::ReopenClosed() {
    for (DWORD i = 0; i < maxClients_; ++i) {
        if (pipes_[i].GetPhase() == ClientPipe::Phase::Closed &&
            pipes_[i].Open(pipePath_, maxClients_, false, security_.Attributes())) {
            pipes_[i].Listen();
        }
    }
}

int CameraServer::SendDimensions(ClientPipe& pipe) {
    const MessageHeader header{HeaderMagic, Dimensions, 0};
    if (!pipe.Write(&header, sizeof header) || !pipe.Write(&dimensions_, sizeof dimensions_)) {
        return 0;
    }
    pipe.SetKnowsDimensions();
    return 1;
}

int CameraServer::SetDimensions(const DimensionsBlock& dimensions) {
    platform::CriticalSectionLock hold(lock_);
    return SendDimensionsToAll(dimensions);
}

int CameraServer::SendDimensionsToAll(const DimensionsBlock& dimensions) {
    dimensions_ = dimensions;
    hasDimensions_ = true;
    int reached = 0;
    for (DWORD i = 0; i < maxClients_; ++i) {
        reached += pipes_[i].IsAttached() ? SendDimensions(pipes_[i]) : 0;
    }
    return reached;
}

FrameStamp CameraServer::NextStamp(int64_t captureMicroseconds) {
    frameNumber_ = NextFrameNumber(frameNumber_);
    return FrameStamp{kFrameStampMark, kFrameStampVersion, frameNumber_, 0,
                      captureMicroseconds > 0 ? captureMicroseconds : StampClockMicroseconds()};
}

int CameraServer::SkipFrames(int count) {
    if (count < 0) {
        return Refuse("cannot skip a negative count of " + std::to_string(count) + " frames");
    }
    platform::CriticalSectionLock one(publishLock_);
    if (count > 0) {
        // Numbers run 1 ... UINT32_MAX and then from 1 again.
        frameNumber_ =
            static_cast<uint32_t>((uint64_t{frameNumber_} + static_cast<uint64_t>(count) - 1) % UINT32_MAX + 1);
    }
    return 0;
}

int CameraServer::AnnounceFrame(uint32_t number) {
    // A client that attached a moment ago and has not had its dimensions
    // yet would take the frame for one of unknown size: it is passed over.
    const MessageHeader header{HeaderMagic, ImageReady, static_cast<int32_t>(number)};
    int reached = 0;
    for (DWORD i = 0; i < maxClients_; ++i) {
        reached += pipes_[i].KnowsDimensions() && pipes_[i].Write(&header, sizeof header) ? 1 : 0;
    }
    return reached;
}

int CameraServer::PublishFrame(const void* pixels, DWORD count, int64_t captureMicroseconds) {
    if (count > frame_.Capacity()) {
        return Refuse("a frame of " + std::to_string(count) + " bytes is larger than the segment's " +
                      std::to_string(frame_.Capacity()));
    }
    platform::CriticalSectionLock one(publishLock_);
    // Clients read the stamp after the frame of the dimensions they were
    // sent, which need not be `count` bytes long.
    DWORD stampOffset = count;
    {
        platform::CriticalSectionLock hold(lock_);
        const int64_t frameBytes =
            static_cast<int64_t>(dimensions_.width) * dimensions_.height * dimensions_.bytesPerPixel;
        if (hasDimensions_ && frameBytes >= 0 && frameBytes <= static_cast<int64_t>(frame_.Capacity())) {
            stampOffset = static_cast<DWORD>(frameBytes);
        }
    }
    const FrameStamp stamp = NextStamp(captureMicroseconds);
    if (!frame_.Write(pixels, count, stamp, stampOffset)) {
        return Refuse(kMutexHeld);
    }
    platform::CriticalSectionLock hold(lock_);
    return AnnounceFrame(stamp.number);
}

int CameraServer::PublishFrameEx(const void* pixels, int width, int height, int strideBytes, int format,
                                 int64_t captureMicroseconds) {
    if (pixels == nullptr) {
        return Refuse("the pixel pointer is null");
    }
    if (width <= 0 || height <= 0) {
        return Refuse("the frame size " + SizeText(width, height) + " is not positive");
    }
    if (!pixels::IsKnownFormat(format)) {
        return Refuse("unknown format " + std::to_string(format) +
                      ": use QUORVEX_FORMAT_GRAY8, _RGB24, _BGR24, _RGBA32 or _BGRA32");
    }
    const auto layout = static_cast<pixels::Format>(format);
    const int bytesPerPixel = pixels::BytesPerPixel(layout);
    const int64_t rowBytes = static_cast<int64_t>(width) * bytesPerPixel;
    if (strideBytes < rowBytes) {
        return Refuse("a stride of " + std::to_string(strideBytes) + " bytes is below one row of " +
                      std::to_string(width) + " " + pixels::FormatName(layout) + " pixels (" +
                      std::to_string(rowBytes) + " bytes)");
    }
    const int64_t frameBytes = rowBytes * height;
    if (frameBytes > static_cast<int64_t>(frame_.Capacity())) {
        return Refuse("a frame of " + SizeText(width, height) + " " + pixels::FormatName(layout) + " pixels needs " +
                      std::to_string(frameBytes) + " bytes, more than the segment's " +
                      std::to_string(frame_.Capacity()));
    }

    platform::CriticalSectionLock one(publishLock_);
    const pixels::Conversion conversion = pixels::ConversionFor(layout, static_cast<pixels::Order>(order_.load()));
    const FrameStamp stamp = NextStamp(captureMicroseconds);
    const auto byteCount = static_cast<DWORD>(frameBytes);
    const bool written = frame_.WriteWith(byteCount, stamp, byteCount, [&](uint8_t* segment) {
        pixels::CopyRows(segment, static_cast<const uint8_t*>(pixels), static_cast<size_t>(width),
                         static_cast<size_t>(height), static_cast<size_t>(strideBytes), bytesPerPixel, conversion);
    });
    if (!written) {
        return Refuse(kMutexHeld);
    }
    const DimensionsBlock dimensions{width, height, bytesPerPixel};
    platform::CriticalSectionLock hold(lock_);
    if (!hasDimensions_ || dimensions.width != dimensions_.width || dimensions.height != dimensions_.height ||
        dimensions.bytesPerPixel != dimensions_.bytesPerPixel) {
        SendDimensionsToAll(dimensions);
    }
    return AnnounceFrame(stamp.number);
}

int CameraServer::SetChannelOrder(int order) {
    if (!pixels::IsKnownOrder(order)) {
        return Refuse("unknown channel order " + std::to_string(order) +
                      ": use QUORVEX_ORDER_RGB or QUORVEX_ORDER_BGR");
    }
    order_ = order;
    return 0;
}

int CameraServer::SetAccess(platform::ObjectAccess access) {
    platform::ObjectSecurity security;
    if (!security.Build(access)) {
        return Refuse(access == platform::ObjectAccess::AllLocalUsers && GetLastError() == ERROR_NOT_SUPPORTED
                          ? "admitting other users is not supported here: every user has names of their own"
                          : "the system refused the access list (system error " + std::to_string(GetLastError()) + ")");
    }
    platform::CriticalSectionLock hold(lock_);
    bool applied = frame_.ApplySecurity(security);
    for (DWORD i = 0; i < maxClients_ && applied; ++i) {
        applied = pipes_[i].ApplySecurity(security);
    }
    if (!applied) {
        return Refuse("the system refused to change who may open the share's objects (system error " +
                      std::to_string(GetLastError()) + ")");
    }
    security_ = std::move(security);
    return 0;
}

int CameraServer::Refuse(const std::string& reason) {
    platform::CriticalSectionLock hold(errorLock_);
    lastError_ = reason;
    return -1;
}

const char* CameraServer::LastError() {
    platform::CriticalSectionLock hold(errorLock_);
    return lastError_.c_str();
}

int CameraServer::SendHeader(int32_t type, int32_t param) {
    const MessageHeader header{HeaderMagic, type, param};
    return SendRaw(&header, sizeof header);
}

int CameraServer::SendRaw(const void* bytes, DWORD count) {
    platform::CriticalSectionLock hold(lock_);
    int reached = 0;
    for (DWORD i = 0; i < maxClients_; ++i) {
        reached += pipes_[i].IsAttached() && pipes_[i].Write(bytes, count) ? 1 : 0;
    }
    return reached;
}

int CameraServer::DropClients() {
    platform::CriticalSectionLock one(dropLock_);
    dropRequested_ = true;
    SetEvent(wake_.get());
    if (WaitForSingleObject(dropDone_.get(), kDropWaitMs) != WAIT_OBJECT_0) {
        return -1;
    }
    platform::CriticalSectionLock hold(lock_);
    return dropped_;
}

int CameraServer::ClientCount() {
    platform::CriticalSectionLock hold(lock_);
    int attached = 0;
    for (DWORD i = 0; i < maxClients_; ++i) {
        attached += pipes_[i].IsAttached() ? 1 : 0;
    }
    return attached;
}

int CameraServer::ReadyCount() {
    platform::CriticalSectionLock hold(lock_);
    int ready = 0;
    for (DWORD i = 0; i < maxClients_; ++i) {
        ready += (hasDimensions_ ? pipes_[i].KnowsDimensions() : pipes_[i].IsAttached()) ? 1 : 0;
    }
    return ready;
}
