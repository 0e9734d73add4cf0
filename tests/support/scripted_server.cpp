#include "scripted_server.h"

#include <cstring>

namespace testsupport {

ScriptedServer::ScriptedServer(std::string share) : ScriptedServer(std::move(share), Options{}) {}

ScriptedServer::ScriptedServer(std::string share, const Options& serverOptions)
    : shareName(std::move(share)), options(serverOptions) {}

ScriptedServer::~ScriptedServer() {
    if (thread) {
        SetEvent(quit.get());
        WaitForSingleObject(thread.get(), INFINITE);
    }
    Break();
}

testing::AssertionResult ScriptedServer::Listen() {
    platform::CriticalSectionLock hold(lock);
    if (!pipe) {
        pipe.reset(CreateNamedPipeA(PipePath(shareName).c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                    PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, options.instances,
                                    options.bufferBytes, options.bufferBytes, 0, nullptr));
        if (!pipe) {
            return testing::AssertionFailure() << "CreateNamedPipeA failed, error " << GetLastError();
        }
    } else if (connecting.pending) {
        return testing::AssertionSuccess();
    } else {
        Disconnect();
    }
    const BOOL connected = ConnectNamedPipe(pipe.get(), connecting.Fresh());
    if (!connected && GetLastError() == ERROR_PIPE_CONNECTED) {
        Attach();
    } else if (!Started(connecting, connected)) {
        return testing::AssertionFailure() << "ConnectNamedPipe failed, error " << error;
    }
    return testing::AssertionSuccess();
}

testing::AssertionResult ScriptedServer::AcceptClient() {
    const testing::AssertionResult listening = Listen();
    if (!listening) {
        return listening;
    }
    const testing::AssertionResult accepted = Outcome(AwaitClient(kWaitMs, nullptr), "the client's connect");
    return accepted ? ExpectRequest() : accepted;
}

testing::AssertionResult ScriptedServer::ExpectRequest() {
    const testing::AssertionResult read = Outcome(Read(kWaitMs), "the request");
    if (read && !IsDimensionsRequest()) {
        return testing::AssertionFailure()
               << "not a dimensions request: " << received << " bytes, type " << message.header.type;
    }
    return read;
}

testing::AssertionResult ScriptedServer::ExpectClientGone() {
    const PipeWait outcome = Read(kWaitMs);
    if (outcome == PipeWait::Done) {
        return testing::AssertionFailure() << "the client sent " << received << " bytes instead of leaving";
    }
    if (outcome == PipeWait::Failed && error == ERROR_BROKEN_PIPE) {
        return testing::AssertionSuccess();
    }
    return Outcome(outcome, "the wait for the client to leave");
}

PipeWait ScriptedServer::Read(DWORD milliseconds, HANDLE stop) {
    const PipeWait client = AwaitClient(milliseconds, stop);
    if (client != PipeWait::Done) {
        return client;
    }
    if (!reading.pending) {
        received = 0;
        std::memset(&message, 0, sizeof message);
        const BOOL started = ReadFile(pipe.get(), &message, sizeof message, nullptr, reading.Fresh());
        if (!Started(reading, started || GetLastError() == ERROR_MORE_DATA)) {
            return PipeWait::Failed;
        }
    }
    return Finish(reading, milliseconds, stop, received);
}

void ScriptedServer::Break() {
    platform::CriticalSectionLock hold(lock);
    attached = false;
    // Closing the instance ends whatever is pending on the records.
    pipe.reset();
    Reap(connecting);
    Reap(reading);
    Reap(writing);
}

testing::AssertionResult ScriptedServer::Serve(OnRequest handler) {
    onRequest = std::move(handler);
    const testing::AssertionResult listening = Listen();
    if (!listening) {
        return listening;
    }
    thread.reset(quit ? CreateThread(nullptr, 0, &ScriptedServer::ServeThread, this, 0, nullptr) : nullptr);
    if (!thread) {
        return testing::AssertionFailure() << "cannot start the server's thread, error " << GetLastError();
    }
    return testing::AssertionSuccess();
}

DWORD WINAPI ScriptedServer::ServeThread(LPVOID self) {
    static_cast<ScriptedServer*>(self)->ServeClients();
    return 0;
}

void ScriptedServer::ServeClients() {
    for (;;) {
        PipeWait read;
        while ((read = Read(INFINITE, quit.get())) == PipeWait::Done) {
            if (IsDimensionsRequest()) {
                // Counted once answered: a test that sees the count and then
                // sends a message of its own cannot put it inside the answer.
                onRequest(*this);
                ++requests;
            } else {
                ++otherMessages;
            }
        }
        if (read == PipeWait::Stopped) {
            return;
        }
        if (!Listen()) {
            // A client that came and went before the listen: listen again.
            Sleep(10);
        }
    }
}

PipeWait ScriptedServer::AwaitClient(DWORD milliseconds, HANDLE stop) {
    if (connecting.pending) {
        DWORD ignored = 0;
        const PipeWait outcome = Finish(connecting, milliseconds, stop, ignored);
        if (outcome != PipeWait::Done) {
            return outcome;
        }
        platform::CriticalSectionLock hold(lock);
        Attach();
    }
    return PipeWait::Done;
}

// A call that returned at once has either started its I/O or failed.
bool ScriptedServer::Started(Io& io, BOOL started) {
    if (!started && GetLastError() != ERROR_IO_PENDING) {
        error = GetLastError();
        return false;
    }
    io.pending = true;
    return true;
}

PipeWait ScriptedServer::Finish(Io& io, DWORD milliseconds, HANDLE stop, DWORD& bytes) {
    const HANDLE handles[2] = {io.done.get(), stop};
    const DWORD woken = WaitForMultipleObjects(stop != nullptr ? 2 : 1, handles, FALSE, milliseconds);
    if (woken == WAIT_TIMEOUT) {
        return PipeWait::TimedOut;
    }
    if (woken == WAIT_OBJECT_0 + 1) {
        return PipeWait::Stopped;
    }
    io.pending = false;
    if (woken != WAIT_OBJECT_0 ||
        (!GetOverlappedResult(pipe.get(), &io.overlapped, &bytes, FALSE) && GetLastError() != ERROR_MORE_DATA)) {
        error = GetLastError();
        return PipeWait::Failed;
    }
    return PipeWait::Done;
}

void ScriptedServer::Reap(Io& io) {
    if (io.pending && WaitForSingleObject(io.done.get(), kWaitMs) == WAIT_OBJECT_0) {
        io.pending = false;
    }
}

// With the lock held.
void ScriptedServer::Attach() {
    attached = true;
    told = false;
    ++connections;
}

// On the reading thread, with the lock held.
void ScriptedServer::Disconnect() {
    attached = false;
    DisconnectNamedPipe(pipe.get());
    Reap(connecting);
    Reap(reading);
    Reap(writing);
}

// With the lock held: a pending write ends, and a read pending on the
// reading thread fails.
void ScriptedServer::Cut() {
    attached = false;
    DisconnectNamedPipe(pipe.get());
    Reap(writing);
}

testing::AssertionResult ScriptedServer::Send(const void* bytes, DWORD count) {
    platform::CriticalSectionLock hold(lock);
    return SendLocked(bytes, count);
}

testing::AssertionResult ScriptedServer::SendHeader(int32_t type, int32_t param) {
    const MessageHeader header{HeaderMagic, type, param};
    return Send(&header, sizeof header);
}

bool ScriptedServer::SendDimensions(const DimensionsBlock& block) {
    const MessageHeader header{HeaderMagic, Dimensions, 0};
    platform::CriticalSectionLock hold(lock);
    told = SendLocked(&header, sizeof header) && SendLocked(&block, sizeof block);
    return told;
}

bool ScriptedServer::SendDimensionsAsOneMessage(const DimensionsBlock& block) {
    uint8_t both[2 * kMessageSize];
    const MessageHeader header{HeaderMagic, Dimensions, 0};
    std::memcpy(both, &header, sizeof header);
    std::memcpy(both + sizeof header, &block, sizeof block);
    platform::CriticalSectionLock hold(lock);
    told = SendLocked(both, sizeof both);
    return told;
}

bool ScriptedServer::SendHeaderIfTold(int32_t type, int32_t param) {
    const MessageHeader header{HeaderMagic, type, param};
    platform::CriticalSectionLock hold(lock);
    return told && SendLocked(&header, sizeof header);
}

void ScriptedServer::Drop() {
    platform::CriticalSectionLock hold(lock);
    if (attached) {
        Cut();
    }
}

testing::AssertionResult ScriptedServer::SendLocked(const void* bytes, DWORD count) {
    if (!attached || writing.pending) {
        return testing::AssertionFailure() << "no client to write to";
    }
    outgoing.assign(static_cast<const uint8_t*>(bytes), static_cast<const uint8_t*>(bytes) + count);
    DWORD written = 0;
    const PipeWait outcome = Started(writing, WriteFile(pipe.get(), outgoing.data(), count, nullptr, writing.Fresh()))
                                 ? Finish(writing, options.writeWaitMs, nullptr, written)
                                 : PipeWait::Failed;
    if (outcome == PipeWait::TimedOut) {
        Cut();
    }
    if (outcome == PipeWait::Done && written != count) {
        return testing::AssertionFailure() << "wrote " << written << " of " << count << " bytes";
    }
    return Outcome(outcome, "a write");
}

testing::AssertionResult ScriptedServer::Outcome(PipeWait outcome, const char* what) const {
    switch (outcome) {
    case PipeWait::Done:
        return testing::AssertionSuccess();
    case PipeWait::TimedOut:
        return testing::AssertionFailure() << what << " did not complete in time";
    case PipeWait::Stopped:
        return testing::AssertionFailure() << what << " was stopped";
    case PipeWait::Failed:
        break;
    }
    return testing::AssertionFailure() << what << " failed, error " << error;
}

bool ScriptedServer::IsDimensionsRequest() const {
    return received == kMessageSize && message.header.magic == HeaderMagic && message.header.type == Dimensions;
}

ScriptedServer::OnRequest AnswerWith(const DimensionsBlock& block) {
    return [block](ScriptedServer& server) { server.SendDimensions(block); };
}

}  // namespace testsupport
