#include "camera_server.h"

namespace {

// DropClients waits this long for the service thread to have closed every
// instance.
constexpr DWORD kDropWaitMs = 5000;

}  // namespace

std::unique_ptr<CameraServer> CameraServer::Create(const std::string& shareName, DWORD segmentBytes,
                                                   int maxClients) {
    auto server = std::make_unique<CameraServer>();
    if (!server->Start(shareName, segmentBytes, maxClients)) {
        return nullptr;
    }
    return server;
}

bool CameraServer::Start(const std::string& shareName, DWORD segmentBytes, int maxClients) {
    pipePath_ = PipePath(shareName);
    maxClients_ = static_cast<DWORD>(maxClients);
    if (!frame_.Create(shareName, segmentBytes)) {
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
        if (!pipes_[i].CreateEvents() || !pipes_[i].Open(pipePath_, maxClients_, i == 0)) {
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
        if (pipes_[i].GetPhase() == ClientPipe::Phase::Closed && pipes_[i].Open(pipePath_, maxClients_, false)) {
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
    dimensions_ = dimensions;
    hasDimensions_ = true;
    int reached = 0;
    for (DWORD i = 0; i < maxClients_; ++i) {
        reached += pipes_[i].IsAttached() ? SendDimensions(pipes_[i]) : 0;
    }
    return reached;
}

int CameraServer::PublishFrame(const void* pixels, DWORD count) {
    if (!frame_.Write(pixels, count)) {
        return -1;
    }
    // A client that attached a moment ago and has not had its dimensions
    // yet would take the frame for one of unknown size: it is passed over.
    platform::CriticalSectionLock hold(lock_);
    const MessageHeader header{HeaderMagic, ImageReady, ++frameNumber_};
    int reached = 0;
    for (DWORD i = 0; i < maxClients_; ++i) {
        reached += pipes_[i].KnowsDimensions() && pipes_[i].Write(&header, sizeof header) ? 1 : 0;
    }
    return reached;
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
