// A camera server's pipe written here, to say what no real server says: the
// link, end-to-end and storm tests drive it step by step or let it serve its
// clients on a thread of its own.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/critical_section.h"
#include "platform/unique_handle.h"
#include "platform/win32.h"
#include "support/waits.h"
#include "wire/messages.h"

namespace testsupport {

enum class PipeWait { Done, TimedOut, Stopped, Failed };

// One instance of a message pipe standing in for a camera server. Every wait
// is bounded or ended by a stop event; an operation still pending keeps its
// record here until it ends, so that a read that timed out takes the next
// message. One thread listens and reads while others send.
class ScriptedServer {
public:
    struct Options {
        DWORD bufferBytes = 4096;
        DWORD instances = 1;  // the pipe's limit, as CreateNamedPipe takes it
        // A client that takes no message within this time is cut off.
        DWORD writeWaitMs = kWaitMs;
    };
    using OnRequest = std::function<void(ScriptedServer&)>;

    explicit ScriptedServer(std::string shareName);
    ScriptedServer(std::string shareName, const Options& options);
    ~ScriptedServer();
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    // ---- Step by step ----

    // Creates the instance when there is none and listens for a client,
    // after dropping the one before; does not wait.
    testing::AssertionResult Listen();
    // Listens and waits for a client to connect and send its dimensions request.
    testing::AssertionResult AcceptClient();
    // Reads the client's next message and checks that it is a dimensions request.
    testing::AssertionResult ExpectRequest();
    // Waits for the client to close its end.
    testing::AssertionResult ExpectClientGone();
    // Waits for a client, then for its next message.
    PipeWait Read(DWORD milliseconds, HANDLE stop = nullptr);
    // Closes the instance, as a server that crashes does.
    void Break();

    // ---- On a thread of its own ----

    // Listens and serves one client after another until the object goes:
    // each dimensions request is handed to `onRequest`, then counted.
    testing::AssertionResult Serve(OnRequest onRequest);
    int Connections() const { return connections; }
    int Requests() const { return requests; }
    // Messages other than dimensions requests.
    int OtherMessages() const { return otherMessages; }

    // ---- Either way, from any thread ----

    testing::AssertionResult Send(const void* bytes, DWORD count);
    testing::AssertionResult SendHeader(int32_t type, int32_t param = 0);
    // A Dimensions header and `block` back to back; the client counts as
    // told until it leaves.
    bool SendDimensions(const DimensionsBlock& block);
    // The same two messages run together into one of 24 bytes, as a server
    // on a byte pipe would send them.
    bool SendDimensionsAsOneMessage(const DimensionsBlock& block);
    // Sends a header only to a client that has been told the dimensions,
    // asked and sent under one hold of the lock: asked apart, the answer
    // could be a client's that left, and one that took the instance in
    // between would be sent a frame before its dimensions and end its link.
    bool SendHeaderIfTold(int32_t type, int32_t param = 0);
    // Ends the attached client's connection.
    void Drop();

private:
    // One operation's record; a pending operation's I/O may still write it.
    struct Io {
        platform::UniqueEvent done{CreateEventA(nullptr, TRUE, FALSE, nullptr)};
        OVERLAPPED overlapped{};
        bool pending = false;

        OVERLAPPED* Fresh() {
            overlapped = OVERLAPPED{};
            overlapped.hEvent = done.get();
            return &overlapped;
        }
    };

    static DWORD WINAPI ServeThread(LPVOID self);
    void ServeClients();
    PipeWait AwaitClient(DWORD milliseconds, HANDLE stop);
    bool Started(Io& io, BOOL started);
    PipeWait Finish(Io& io, DWORD milliseconds, HANDLE stop, DWORD& bytes);
    void Reap(Io& io);
    void Attach();
    void Disconnect();
    void Cut();
    testing::AssertionResult SendLocked(const void* bytes, DWORD count);
    testing::AssertionResult Outcome(PipeWait outcome, const char* what) const;
    bool IsDimensionsRequest() const;

    const std::string shareName;
    const Options options;
    OnRequest onRequest;
    platform::UniqueEvent quit{CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    // Held while the client changes and for each write.
    mutable platform::CriticalSection lock;
    platform::UniqueFile pipe;
    Io connecting;
    Io reading;
    Io writing;
    union {
        MessageHeader header;
        uint8_t bytes[64];
    } message{};
    DWORD received = 0;
    std::vector<uint8_t> outgoing;  // what a pending write reads
    std::atomic<DWORD> error{0};
    bool attached = false;  // guarded by lock
    bool told = false;      // guarded by lock
    std::atomic<int> connections{0};
    std::atomic<int> requests{0};
    std::atomic<int> otherMessages{0};
    platform::UniqueThread thread;
};

// The handler of a server that answers every request with `block`.
ScriptedServer::OnRequest AnswerWith(const DimensionsBlock& block);

}  // namespace testsupport
