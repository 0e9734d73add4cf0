// One instance of the server's pipe and the client attached to it.
#pragma once

#include <string>

#include "platform/object_security.h"
#include "platform/unique_handle.h"
#include "platform/win32.h"
#include "wire/messages.h"

// Owns one pipe instance with the event and OVERLAPPED record of its pending
// connect or read, and a second pair for writes. The server's service thread
// starts and finishes every connect and read, and opens and closes the
// instance; any thread may write, under the server's lock.
class ClientPipe {
public:
    enum class Phase {
        Closed,     // no instance
        Listening,  // a connect is pending
        Reading,    // a client is attached and a read is pending
    };

    // The events; false when the system refuses one.
    bool CreateEvents();

    // Creates an instance of `path` with `attributes`, for local clients
    // only. The first instance of a server claims the name, so that a second
    // server of the same name, or a process that made the pipe first, fails.
    bool Open(const std::string& path, DWORD maxInstances, bool firstInstance, LPSECURITY_ATTRIBUTES attributes);

    // Gives an open instance the access list of `security`; true when closed.
    bool ApplySecurity(const platform::ObjectSecurity& security) const;

    // Closes the instance; a pending connect or read ends with it.
    void Close();

    // Starts waiting for a client, or for the next one after a client left.
    // A client that connected before the wait began is attached at once.
    void Listen();

    // Finishes the pending connect or read whose event is signalled. A new
    // client is attached; a complete 12-byte message is kept in Message, the
    // next read started and true returned. A client that went away is
    // detached and the instance listens again.
    bool OnIoCompleted();

    // The message OnIoCompleted returned true for.
    const MessageHeader& Message() const { return message_; }

    // Writes one message and waits a bounded time for it to be taken into
    // the pipe. A client that cannot take it is disconnected and detached.
    bool Write(const void* bytes, DWORD count);

    HANDLE IoEvent() const { return ioEvent_.get(); }
    Phase GetPhase() const { return phase_; }
    bool IsAttached() const { return phase_ == Phase::Reading && !writeFailed_; }

    // Whether this client has been sent the dimensions since it attached: a
    // client takes frames only once it knows their size.
    bool KnowsDimensions() const { return IsAttached() && knowsDimensions_; }
    void SetKnowsDimensions() { knowsDimensions_ = true; }

private:
    void BeginRead();
    void ListenAgain();
    void Attach();

    platform::UniqueFile pipe_;
    platform::UniqueEvent ioEvent_;
    OVERLAPPED ioOverlapped_{};
    platform::UniqueEvent writeEvent_;
    OVERLAPPED writeOverlapped_{};
    Phase phase_ = Phase::Closed;
    // Set by a failed write: no more writes go to this client, and the
    // service thread listens again once the pending read has failed.
    bool writeFailed_ = false;
    // The client sent a message longer than a header: its remaining parts
    // are read and dropped.
    bool skipping_ = false;
    bool knowsDimensions_ = false;
    MessageHeader incoming_{};  // the pending read's buffer
    MessageHeader message_{};   // the last whole message received
};
