#include "link/named_pipe_channel.h"

#include "support/win32_exception.h"
#include "wire/messages.h"

namespace {

constexpr DWORD kBusyWaitMs = 1000;
// Closing the handle ends its pending operations; on Windows their events are
// signalled a little later, from the system's side.
constexpr DWORD kEndedIoWaitMs = 200;

// Manual-reset and signalled, so that a channel with nothing in flight reads
// as idle.
platform::UniqueEvent CreateIoEvent() {
    platform::UniqueEvent event(CreateEventA(nullptr, TRUE, TRUE, nullptr));
    if (!event) {
        throw Win32Exception();
    }
    return event;
}

OVERLAPPED OverlappedFor(const platform::UniqueEvent& event) {
    OVERLAPPED overlapped{};
    overlapped.hEvent = event.get();
    return overlapped;
}

}  // namespace

NamedPipeChannel::NamedPipeChannel()
    : readEvent(CreateIoEvent()),
      readOverlapped(OverlappedFor(readEvent)),
      writeEvent(CreateIoEvent()),
      writeOverlapped(OverlappedFor(writeEvent)) {}

NamedPipeChannel::~NamedPipeChannel() {
    Close();
}

void NamedPipeChannel::Connect(const std::string& shareName) {
    const DWORD start = GetTickCount();
    for (;;) {
        handle.reset(CreateFileA(PipePath(shareName).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr));
        if (handle) {
            DWORD mode = PIPE_READMODE_MESSAGE;
            if (!SetNamedPipeHandleState(handle.get(), &mode, nullptr, nullptr)) {
                // The exception keeps the code; closing the handle keeps it too.
                Win32Exception error;
                handle.reset();
                throw error;
            }
            connected = true;
            return;
        }
        if (GetLastError() != ERROR_PIPE_BUSY) {
            throw Win32Exception();
        }
        // One wait in all: an instance that the wait finds free but another
        // client takes first must not keep this one in here, unseen, for
        // ever; the caller tries again later.
        const DWORD waited = GetTickCount() - start;
        if (waited >= kBusyWaitMs) {
            SetLastError(ERROR_SEM_TIMEOUT);
            throw Win32Exception();
        }
        if (!WaitNamedPipeA(PipePath(shareName).c_str(), kBusyWaitMs - waited)) {
            throw Win32Exception();
        }
    }
}

HANDLE NamedPipeChannel::BeginRead(void* destination, int32_t count) {
    readOverlapped = OverlappedFor(readEvent);
    readStarted = false;
    if (!ReadFile(handle.get(), destination, static_cast<DWORD>(count), nullptr, &readOverlapped) &&
        GetLastError() != ERROR_IO_PENDING) {
        throw Win32Exception();
    }
    readStarted = true;
    return readEvent.get();
}

DWORD NamedPipeChannel::ReadResult() {
    DWORD bytes = 0;
    if (!GetOverlappedResult(handle.get(), &readOverlapped, &bytes, FALSE)) {
        throw Win32Exception();
    }
    return bytes;
}

bool NamedPipeChannel::BeginWrite(const void* source, int32_t count) {
    if (writePending && WaitForSingleObject(writeEvent.get(), 0) == WAIT_TIMEOUT) {
        return false;
    }
    writeOverlapped = OverlappedFor(writeEvent);
    writePending = false;
    if (!WriteFile(handle.get(), source, static_cast<DWORD>(count), nullptr, &writeOverlapped)) {
        if (GetLastError() != ERROR_IO_PENDING) {
            throw Win32Exception();
        }
        writePending = true;
    }
    return true;
}

void NamedPipeChannel::Close() {
    if (connected) {
        DisconnectNamedPipe(handle.get());
        connected = false;
    }
    if (!handle) {
        return;
    }
    // The pending read (and a pending write) are ended before the handle
    // goes: an operation still pending may keep the client's end of the pipe
    // alive, and with it the server's instance, which a server with one
    // instance then never offers the next connection.
    CancelIoEx(handle.get(), nullptr);
    if (readStarted) {
        WaitForSingleObject(readEvent.get(), kEndedIoWaitMs);
    }
    readStarted = false;
    handle.reset();
    // A write that went pending is ended by the cancel or the close; the next
    // connection's request waits for that end, briefly, rather than be
    // skipped. (A write that failed at once never signals its event and is
    // not waited for.)
    if (writePending) {
        WaitForSingleObject(writeEvent.get(), kEndedIoWaitMs);
    }
    writePending = false;
}
