// The client end of a camera server's named pipe.
#pragma once

#include <cstdint>
#include <string>

#include "platform/unique_handle.h"
#include "platform/win32.h"

// Owns the pipe handle and the two events of its overlapped read and write.
// Closed after construction and after Close; connected after a successful
// Connect; the same object serves every later connection. Used by one thread
// only (the camera's command exchange thread); one read and one write may be
// in flight at once. Every failing Win32 call throws Win32Exception with the
// code the call left behind; nothing here logs.
class NamedPipeChannel {
public:
    // Creates both events; throws Win32Exception when one cannot be made.
    NamedPipeChannel();
    // Closes the pipe, then the events.
    ~NamedPipeChannel();
    NamedPipeChannel(const NamedPipeChannel&) = delete;
    NamedPipeChannel& operator=(const NamedPipeChannel&) = delete;

    // Opens the pipe of `shareName` in message read mode. While every
    // instance is busy it waits for one and tries again, up to 1000 ms in
    // all; a failed wait throws (121 on a time-out, also when the instances
    // the wait found free were taken by others until then). A pipe that
    // refuses message read mode is closed again before the throw.
    void Connect(const std::string& shareName);

    // Starts an overlapped read of `count` bytes into `destination`, which
    // must stay valid until the read completes. Returns the read's event,
    // signalled once the read has completed, at once or later, either way.
    HANDLE BeginRead(void* destination, int32_t count);

    // Examines the read whose event is signalled: returns the bytes read, or
    // throws Win32Exception with the read's error (109 or 233 when the server
    // has gone, 234 when its message was longer than the read). Does not wait.
    DWORD ReadResult();

    // Starts an overlapped write of `count` bytes from `source`; the source
    // must stay unchanged until the write completes, which is not awaited.
    // While the previous write is still in flight nothing is started and the
    // result is false: its OVERLAPPED is still the system's, and a server
    // that does not read would otherwise collect a pile of waiting writes.
    bool BeginWrite(const void* source, int32_t count);

    // Cancels the pending read and write and waits briefly for their end,
    // then closes the pipe, so that the server's instance is free at once and
    // the next connection's operations find their records free; does nothing
    // on a closed channel.
    void Close();

private:
    platform::UniqueFile handle;
    bool connected = false;
    platform::UniqueEvent readEvent;
    OVERLAPPED readOverlapped;
    platform::UniqueEvent writeEvent;
    OVERLAPPED writeOverlapped;
    bool writePending = false;  // the last write went pending, so its event tells its end
    bool readStarted = false;   // the last read did not fail at once, so its event tells its end
};
