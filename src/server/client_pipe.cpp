#include "client_pipe.h"

namespace {

// Room for hundreds of 12-byte messages, so that a client busy with a frame
// never holds up the server.
constexpr DWORD kPipeBufferBytes = 4096;
// A client that has not taken a message into its pipe within this time no
// longer reads, and is dropped.
constexpr DWORD kWriteWaitMs = 1000;

OVERLAPPED FreshOverlapped(const platform::UniqueEvent& event) {
    OVERLAPPED overlapped{};
    overlapped.hEvent = event.get();
    return overlapped;
}

}  // namespace

bool ClientPipe::CreateEvents() {
    ioEvent_.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    writeEvent_.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    return ioEvent_ && writeEvent_;
}

bool ClientPipe::Open(const std::string& path, DWORD maxInstances, bool firstInstance,
                      LPSECURITY_ATTRIBUTES attributes) {
    // WRITE_DAC: the server may admit other users later (SetAccess).
    const DWORD openMode =
        PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | WRITE_DAC | (firstInstance ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0);
    pipe_.reset(CreateNamedPipeA(path.c_str(), openMode,
                                 PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
                                 maxInstances, kPipeBufferBytes, kPipeBufferBytes, 0, attributes));
    phase_ = Phase::Closed;
    if (!pipe_) {
        return false;
    }
    // The first instance must be the pipe's only one: a system that lets it
    // join instances another process made first (wine does) would otherwise
    // share the hosts with that process.
    DWORD instances = 0;
    if (firstInstance &&
        (!GetNamedPipeHandleStateA(pipe_.get(), nullptr, &instances, nullptr, nullptr, nullptr, 0) || instances != 1)) {
        pipe_.reset();
        SetLastError(ERROR_PIPE_BUSY);
        return false;
    }
    return true;
}

bool ClientPipe::ApplySecurity(const platform::ObjectSecurity& security) const {
    return !pipe_ || security.ApplyTo(pipe_.get());
}

void ClientPipe::Close() {
    pipe_.reset();
    phase_ = Phase::Closed;
    // The pending connect or read, ended by the close, signalled the event;
    // a closed instance must not wake the service thread.
    ResetEvent(ioEvent_.get());
}

void ClientPipe::Listen() {
    writeFailed_ = false;
    skipping_ = false;
    knowsDimensions_ = false;
    for (int attempt = 0; attempt < 2; ++attempt) {
        ioOverlapped_ = FreshOverlapped(ioEvent_);
        if (ConnectNamedPipe(pipe_.get(), &ioOverlapped_)) {
            Attach();
            return;
        }
        const DWORD error = GetLastError();
        if (error == ERROR_IO_PENDING) {
            phase_ = Phase::Listening;
            return;
        }
        if (error == ERROR_PIPE_CONNECTED) {
            Attach();
            return;
        }
        // A client that came and went before the wait began: clear it away.
        DisconnectNamedPipe(pipe_.get());
    }
    Close();
}

void ClientPipe::ListenAgain() {
    DisconnectNamedPipe(pipe_.get());
    Listen();
}

void ClientPipe::Attach() {
    phase_ = Phase::Reading;
    BeginRead();
}

void ClientPipe::BeginRead() {
    ioOverlapped_ = FreshOverlapped(ioEvent_);
    // A read that completes at once, or finds a longer message, signals the
    // event as well and is finished in OnIoCompleted like a pending one.
    if (ReadFile(pipe_.get(), &incoming_, sizeof incoming_, nullptr, &ioOverlapped_)) {
        return;
    }
    const DWORD error = GetLastError();
    if (error != ERROR_IO_PENDING && error != ERROR_MORE_DATA) {
        ListenAgain();
    }
}

bool ClientPipe::OnIoCompleted() {
    if (phase_ == Phase::Closed) {
        ResetEvent(ioEvent_.get());
        return false;
    }
    DWORD bytes = 0;
    const bool done = GetOverlappedResult(pipe_.get(), &ioOverlapped_, &bytes, FALSE) != FALSE;
    const DWORD error = done ? ERROR_SUCCESS : GetLastError();
    if (error == ERROR_IO_INCOMPLETE) {
        return false;
    }
    if (phase_ == Phase::Listening) {
        if (done || error == ERROR_PIPE_CONNECTED) {
            Attach();
        } else {
            ListenAgain();
        }
        return false;
    }
    if (error == ERROR_MORE_DATA) {
        skipping_ = true;
        BeginRead();
        return false;
    }
    if (!done || writeFailed_) {
        ListenAgain();
        return false;
    }
    const bool wholeHeader = !skipping_ && bytes == sizeof incoming_;
    skipping_ = false;
    message_ = incoming_;
    BeginRead();
    return wholeHeader;
}

bool ClientPipe::Write(const void* bytes, DWORD count) {
    if (!IsAttached()) {
        return false;
    }
    writeOverlapped_ = FreshOverlapped(writeEvent_);
    const bool started =
        WriteFile(pipe_.get(), bytes, count, nullptr, &writeOverlapped_) != FALSE || GetLastError() == ERROR_IO_PENDING;
    if (started && WaitForSingleObject(writeEvent_.get(), kWriteWaitMs) == WAIT_OBJECT_0) {
        DWORD written = 0;
        if (GetOverlappedResult(pipe_.get(), &writeOverlapped_, &written, FALSE) && written == count) {
            return true;
        }
    }
    // Disconnecting ends a write still pending and the client's pending read,
    // so the service thread listens again; the record is reused only after
    // the write has finished.
    DisconnectNamedPipe(pipe_.get());
    if (started) {
        DWORD ignored = 0;
        GetOverlappedResult(pipe_.get(), &writeOverlapped_, &ignored, TRUE);
    }
    writeFailed_ = true;
    return false;
}
