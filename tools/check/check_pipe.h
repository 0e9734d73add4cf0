// The checker's end of a camera server's pipe: what a driver camera opens,
// with every wait bounded, and each message read whole into a buffer larger
// than any message of the protocol, so that its true length shows.
#pragma once

#include <cstdint>
#include <string>

#include "platform/unique_handle.h"
#include "platform/win32.h"

namespace check {

// One message read, or why none was.
struct PipeRead {
    enum class Outcome {
        Message,   // `bytes` bytes of one message in `data`
        TooLong,   // a message longer than `data`; its first bytes are there
        TimedOut,  // nothing within the time-out
        Broken,    // the server closed the pipe or the read failed: `error`
    };
    static constexpr DWORD kCapacity = 64;
    Outcome outcome = Outcome::TimedOut;
    DWORD bytes = 0;
    DWORD error = 0;
    uint8_t data[kCapacity] = {};
};

// Owns the pipe handle and the event of its overlapped operations. Used by
// one thread.
class CheckPipe {
public:
    CheckPipe();

    // Opens "\\.\pipe\" + share, trying again until `timeoutMs` have passed
    // while the pipe is absent or busy; false with `why`.
    bool Connect(const std::string& share, DWORD timeoutMs, std::string& why);
    // Asks for message read mode, as the driver does; false with the error.
    bool SetMessageMode(DWORD& error);
    // Writes one message; false when it could not be written within `timeoutMs`.
    bool Write(const void* bytes, DWORD count, DWORD timeoutMs);
    PipeRead Read(DWORD timeoutMs);
    void Close();

private:
    // Waits for the operation on `overlapped` to end within `timeoutMs`; on a
    // time-out it is cancelled and its end awaited. False on a time-out.
    bool Finish(OVERLAPPED& overlapped, DWORD timeoutMs, DWORD& bytes, DWORD& error);

    platform::UniqueFile handle_;
    platform::UniqueEvent done_;
};

}  // namespace check
