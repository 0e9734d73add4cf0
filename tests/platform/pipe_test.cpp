// Named pipes: opening and waiting for instances, read modes, message
// boundaries, overlapped I/O, and the codes each end sees when the other goes.
#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "kernel_objects_support.h"
#include "platform/unique_handle.h"
#include "platform/win32.h"
#include "support/child_process.h"
#include "support/row_name.h"

namespace {

using kernel_objects::kPatience;
using kernel_objects::NotSignalled;
using kernel_objects::PipePath;
using kernel_objects::Signalled;
using kernel_objects::UniqueName;
using platform::UniqueEvent;
using platform::UniqueFile;
using platform::UniqueThread;
using Clock = std::chrono::steady_clock;

constexpr DWORD kPoison = 0xdeadbeef;
constexpr DWORD kMessagePipe = PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT;
constexpr DWORD kBytePipe = PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT;

long long MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

UniqueFile MakeServer(const std::string& name, DWORD pipeMode = kMessagePipe, DWORD instances = 1,
                      bool overlapped = true) {
    return UniqueFile(CreateNamedPipeA(PipePath(name).c_str(),
                                       PIPE_ACCESS_DUPLEX | (overlapped ? FILE_FLAG_OVERLAPPED : 0u), pipeMode,
                                       instances, 4096, 4096, 0, nullptr));
}

UniqueFile OpenClient(const std::string& path, bool overlapped = true) {
    return UniqueFile(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL | (overlapped ? FILE_FLAG_OVERLAPPED : 0u), nullptr));
}

bool SetMessageReadMode(HANDLE pipe) {
    DWORD mode = PIPE_READMODE_MESSAGE;
    return SetNamedPipeHandleState(pipe, &mode, nullptr, nullptr) != FALSE;
}

// An OVERLAPPED record with a manual-reset event of its own.
struct Io {
    explicit Io(bool signalled = false) : event(CreateEventA(nullptr, TRUE, signalled, nullptr)) {
        overlapped.hEvent = event.get();
    }
    Io(const Io&) = delete;
    Io& operator=(const Io&) = delete;

    UniqueEvent event;
    OVERLAPPED overlapped{};
};

struct Outcome {
    BOOL ok;
    DWORD error;
    std::string bytes;
};

// The cases' pipes are locals, closed before these records go: whatever is
// still pending when a case fails ends while its OVERLAPPED still exists.
class Pipes : public testing::Test {
protected:
    // Reads up to `size` bytes with an overlapped read and waits for its end.
    Outcome Read(HANDLE pipe, DWORD size) { return Transfer(pipe, readIo_, size, nullptr); }

    // Writes one message with an overlapped write and waits for its end.
    Outcome Write(HANDLE pipe, const std::string& bytes) { return Transfer(pipe, writeIo_, 0, &bytes); }

    // An OVERLAPPED record that outlives the case's pipes.
    Io& NewIo(bool signalled = false) { return *ios_.emplace_back(std::make_unique<Io>(signalled)); }

    // Starts a 12-byte read on `pipe` that stays pending, on a record (and
    // buffer) that outlives the case's pipes.
    testing::AssertionResult StartPendingRead(HANDLE pipe, Io*& started) {
        started = &NewIo();
        SetLastError(kPoison);
        if (ReadFile(pipe, pendingBuffer_, sizeof pendingBuffer_, nullptr, &started->overlapped)) {
            return testing::AssertionFailure() << "the read completed at once";
        }
        if (GetLastError() != ERROR_IO_PENDING) {
            return testing::AssertionFailure() << "the read failed with " << GetLastError();
        }
        return testing::AssertionSuccess();
    }

    // The pending read on `io` has ended, failing with `error`.
    testing::AssertionResult ReadEndedWith(HANDLE pipe, Io& io, DWORD error) {
        testing::AssertionResult ended = Signalled(io.event.get());
        if (!ended) {
            return ended;
        }
        DWORD count = kPoison;
        SetLastError(kPoison);
        if (GetOverlappedResult(pipe, &io.overlapped, &count, FALSE)) {
            return testing::AssertionFailure() << "the read succeeded with " << count << " bytes";
        }
        if (GetLastError() != error) {
            return testing::AssertionFailure() << "the read failed with " << GetLastError() << ", not " << error;
        }
        return testing::AssertionSuccess();
    }

    const std::string name_ = UniqueName("pipe");
    const std::string path_ = PipePath(name_);

private:
    char pendingBuffer_[12] = {};
    Outcome Transfer(HANDLE pipe, Io& io, DWORD size, const std::string* source) {
        std::string buffer = source != nullptr ? *source : std::string(size, '\xcc');
        ResetEvent(io.event.get());
        DWORD count = kPoison;
        SetLastError(kPoison);
        BOOL ok = source != nullptr
                      ? WriteFile(pipe, buffer.data(), static_cast<DWORD>(buffer.size()), &count, &io.overlapped)
                      : ReadFile(pipe, &buffer[0], size, &count, &io.overlapped);
        DWORD error = ok ? ERROR_SUCCESS : GetLastError();
        if (!ok && (error == ERROR_IO_PENDING || error == ERROR_MORE_DATA)) {
            if (WaitForSingleObject(io.event.get(), kPatience) != WAIT_OBJECT_0) {
                return {FALSE, WAIT_TIMEOUT, {}};
            }
            count = kPoison;
            SetLastError(kPoison);
            ok = GetOverlappedResult(pipe, &io.overlapped, &count, FALSE);
            error = ok ? ERROR_SUCCESS : GetLastError();
        }
        const bool transferred = ok || error == ERROR_MORE_DATA;
        buffer.resize(transferred ? count : 0);
        return {ok, error, buffer};
    }

    Io readIo_;
    Io writeIo_;
    std::vector<std::unique_ptr<Io>> ios_;
};

// --- Opening ----------------------------------------------------------------

TEST_F(Pipes, AMissingPipeFailsAtOnceWithFileNotFound) {
    const Clock::time_point start = Clock::now();
    SetLastError(kPoison);
    UniqueFile client = OpenClient(path_);
    EXPECT_FALSE(client);
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, GetLastError());
    SetLastError(kPoison);
    EXPECT_FALSE(WaitNamedPipeA(path_.c_str(), 1000));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, GetLastError());
    EXPECT_LT(MillisecondsSince(start), 900);
}

TEST_F(Pipes, BusyInstancesGivePipeBusyAndTheWaitTimesOut) {
    UniqueFile server = MakeServer(name_);
    ASSERT_TRUE(server);
    UniqueFile first = OpenClient(path_);
    ASSERT_TRUE(first);

    SetLastError(kPoison);
    EXPECT_FALSE(OpenClient(path_));
    EXPECT_EQ(ERROR_PIPE_BUSY, GetLastError());

    const Clock::time_point start = Clock::now();
    SetLastError(kPoison);
    EXPECT_FALSE(WaitNamedPipeA(path_.c_str(), 1000));
    EXPECT_EQ(ERROR_SEM_TIMEOUT, GetLastError());
    const long long elapsed = MillisecondsSince(start);
    EXPECT_GE(elapsed, 900);
    EXPECT_LT(elapsed, 5000);
}

struct Reopen {
    Reopen(HANDLE pipe, Io& io) : server(pipe), connect(io) {}

    HANDLE server;
    Io& connect;
    BOOL disconnected = FALSE;
    BOOL connectResult = TRUE;
    DWORD connectError = kPoison;
};

// After a pause, the server lets its client go and listens again.
DWORD WINAPI ReopenLater(LPVOID parameter) {
    auto* reopen = static_cast<Reopen*>(parameter);
    Sleep(300);
    reopen->disconnected = DisconnectNamedPipe(reopen->server);
    reopen->connectResult = ConnectNamedPipe(reopen->server, &reopen->connect.overlapped);
    reopen->connectError = GetLastError();
    return 0;
}

TEST_F(Pipes, AnInstanceFreedDuringTheWaitCanBeOpened) {
    UniqueFile server = MakeServer(name_);
    ASSERT_TRUE(server);
    UniqueFile first = OpenClient(path_);
    ASSERT_TRUE(first);

    Reopen reopen(server.get(), NewIo());
    UniqueThread thread(CreateThread(nullptr, 0, ReopenLater, &reopen, 0, nullptr));
    ASSERT_TRUE(thread);
    const Clock::time_point start = Clock::now();
    EXPECT_TRUE(WaitNamedPipeA(path_.c_str(), kPatience));
    EXPECT_GE(MillisecondsSince(start), 200);
    ASSERT_TRUE(Signalled(thread.get()));
    EXPECT_TRUE(reopen.disconnected);
    EXPECT_FALSE(reopen.connectResult);
    EXPECT_EQ(ERROR_IO_PENDING, reopen.connectError);

    UniqueFile second = OpenClient(path_);
    ASSERT_TRUE(second);
    EXPECT_TRUE(Signalled(reopen.connect.event.get()));
}

TEST_F(Pipes, NamesAreComparedWithoutRegardToCase) {
    UniqueFile server = MakeServer(name_);
    ASSERT_TRUE(server);
    std::string shouted = "\\\\.\\PIPE\\" + name_;
    for (char& c : shouted) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    EXPECT_TRUE(OpenClient(shouted));
}

TEST_F(Pipes, InstancesBeyondTheMaximumAreBusy) {
    UniqueFile first = MakeServer(name_, kMessagePipe, 2);
    UniqueFile second = MakeServer(name_, kMessagePipe, 2);
    ASSERT_TRUE(first && second);
    SetLastError(kPoison);
    EXPECT_FALSE(MakeServer(name_, kMessagePipe, 2));
    EXPECT_EQ(ERROR_PIPE_BUSY, GetLastError());
}

// --- Read modes -------------------------------------------------------------

TEST_F(Pipes, MessageReadModeIsRefusedOnAByteModePipe) {
    UniqueFile server = MakeServer(name_, kBytePipe);
    ASSERT_TRUE(server);
    UniqueFile client = OpenClient(path_);
    ASSERT_TRUE(client);
    SetLastError(kPoison);
    EXPECT_FALSE(SetMessageReadMode(client.get()));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, GetLastError());
}

TEST_F(Pipes, MessageReadModeIsAcceptedOnAMessagePipe) {
    UniqueFile server = MakeServer(name_);
    ASSERT_TRUE(server);
    UniqueFile client = OpenClient(path_);
    ASSERT_TRUE(client);
    EXPECT_TRUE(SetMessageReadMode(client.get()));
}

TEST_F(Pipes, ByteReadModeTakesPartOfAMessageWithoutAnError) {
    UniqueFile server = MakeServer(name_);
    UniqueFile client = OpenClient(path_);
    ASSERT_TRUE(server && client);
    ASSERT_TRUE(Write(server.get(), "ABCDEFGHIJ").ok);
    const Outcome first = Read(client.get(), 4);
    EXPECT_TRUE(first.ok);
    EXPECT_EQ("ABCD", first.bytes);
    const Outcome rest = Read(client.get(), 64);
    EXPECT_TRUE(rest.ok);
    EXPECT_EQ("EFGHIJ", rest.bytes);
}

// --- Messages ---------------------------------------------------------------

const std::string kFirst = "first 12 by";
const std::string kSecond = "second 12 b";

struct BufferRow {
    std::string name;
    DWORD size;
};

class MessageBuffers : public Pipes, public testing::WithParamInterface<BufferRow> {};

TEST_P(MessageBuffers, MessagesKeepTheirBoundariesAndOrder) {
    const DWORD size = GetParam().size;
    const std::string first = kFirst + "1";
    const std::string second = kSecond + "2";
    UniqueFile server = MakeServer(name_);
    UniqueFile client = OpenClient(path_);
    ASSERT_TRUE(server && client);
    ASSERT_TRUE(SetMessageReadMode(client.get()));
    ASSERT_TRUE(Write(server.get(), first).ok);
    ASSERT_TRUE(Write(server.get(), second).ok);

    const Outcome head = Read(client.get(), size);
    if (size >= first.size()) {
        EXPECT_TRUE(head.ok);
        EXPECT_EQ(first, head.bytes);
    } else {
        EXPECT_FALSE(head.ok);
        EXPECT_EQ(ERROR_MORE_DATA, head.error);
        EXPECT_EQ(first.substr(0, size), head.bytes);
        const Outcome tail = Read(client.get(), 64);
        EXPECT_TRUE(tail.ok);
        EXPECT_EQ(first.substr(size), tail.bytes);
    }
    const Outcome next = Read(client.get(), 64);
    EXPECT_TRUE(next.ok);
    EXPECT_EQ(second, next.bytes);
}

INSTANTIATE_TEST_SUITE_P(Rows, MessageBuffers,
                         testing::Values(BufferRow{"Large", 64}, BufferRow{"Exact", 12}, BufferRow{"OneShort", 11},
                                         BufferRow{"OneByte", 1}),
                         RowName());

TEST_F(Pipes, ABlockingReadOfALongMessageGivesItsFirstPartWithMoreData) {
    UniqueFile server = MakeServer(name_);
    UniqueFile client = OpenClient(path_, false);
    ASSERT_TRUE(server && client);
    ASSERT_TRUE(SetMessageReadMode(client.get()));
    ASSERT_TRUE(Write(server.get(), "0123456789abcdefghij").ok);

    char buffer[8];
    DWORD count = kPoison;
    SetLastError(kPoison);
    EXPECT_FALSE(ReadFile(client.get(), buffer, sizeof buffer, &count, nullptr));
    EXPECT_EQ(ERROR_MORE_DATA, GetLastError());
    ASSERT_EQ(8u, count);
    EXPECT_EQ("01234567", std::string(buffer, 8));

    char rest[64];
    count = kPoison;
    ASSERT_TRUE(ReadFile(client.get(), rest, sizeof rest, &count, nullptr));
    EXPECT_EQ("89abcdefghij", std::string(rest, count));
}

TEST_F(Pipes, BlockingHandlesCarryMessagesBothWays) {
    UniqueFile server = MakeServer(name_, kMessagePipe, 1, false);
    ASSERT_TRUE(server);
    UniqueFile client = OpenClient(path_, false);
    ASSERT_TRUE(client);
    ASSERT_TRUE(SetMessageReadMode(client.get()));
    DWORD count = kPoison;
    SetLastError(kPoison);
    EXPECT_FALSE(ConnectNamedPipe(server.get(), nullptr));
    EXPECT_EQ(ERROR_PIPE_CONNECTED, GetLastError());

    ASSERT_TRUE(WriteFile(client.get(), "request", 7, &count, nullptr));
    EXPECT_EQ(7u, count);
    char buffer[32];
    count = kPoison;
    ASSERT_TRUE(ReadFile(server.get(), buffer, sizeof buffer, &count, nullptr));
    EXPECT_EQ("request", std::string(buffer, count));
    ASSERT_TRUE(WriteFile(server.get(), "answer", 6, &count, nullptr));
    count = kPoison;
    ASSERT_TRUE(ReadFile(client.get(), buffer, sizeof buffer, &count, nullptr));
    EXPECT_EQ("answer", std::string(buffer, count));
}

// --- Overlapped I/O ---------------------------------------------------------

TEST_F(Pipes, AnOverlappedReadWaitsUntilTheServerWrites) {
    UniqueFile server = MakeServer(name_);
    UniqueFile client = OpenClient(path_);
    ASSERT_TRUE(server && client);
    ASSERT_TRUE(SetMessageReadMode(client.get()));

    Io& io = NewIo(true);
    char buffer[12];
    DWORD count = kPoison;
    SetLastError(kPoison);
    ASSERT_FALSE(ReadFile(client.get(), buffer, sizeof buffer, &count, &io.overlapped));
    ASSERT_EQ(ERROR_IO_PENDING, GetLastError());
    EXPECT_EQ(0u, count);
    EXPECT_TRUE(NotSignalled(io.event.get()));
    EXPECT_FALSE(HasOverlappedIoCompleted(&io.overlapped));
    count = kPoison;
    SetLastError(kPoison);
    EXPECT_FALSE(GetOverlappedResult(client.get(), &io.overlapped, &count, FALSE));
    EXPECT_EQ(ERROR_IO_INCOMPLETE, GetLastError());
    EXPECT_EQ(kPoison, count);

    ASSERT_TRUE(Write(server.get(), kFirst + "!").ok);
    ASSERT_TRUE(Signalled(io.event.get()));
    EXPECT_TRUE(HasOverlappedIoCompleted(&io.overlapped));
    ASSERT_TRUE(GetOverlappedResult(client.get(), &io.overlapped, &count, FALSE));
    EXPECT_EQ(12u, count);
    EXPECT_EQ(kFirst + "!", std::string(buffer, 12));
}

TEST_F(Pipes, AReadThatCompletesAtOnceSignalsItsEventToo) {
    UniqueFile server = MakeServer(name_);
    UniqueFile client = OpenClient(path_);
    ASSERT_TRUE(server && client);
    ASSERT_TRUE(SetMessageReadMode(client.get()));
    // A finished write has put the message into the pipe: the read finds it.
    ASSERT_TRUE(Write(server.get(), kFirst + "!").ok);

    Io& io = NewIo();
    char buffer[12];
    DWORD count = kPoison;
    ASSERT_TRUE(ReadFile(client.get(), buffer, sizeof buffer, &count, &io.overlapped));
    EXPECT_EQ(12u, count);
    EXPECT_EQ(kFirst + "!", std::string(buffer, 12));
    EXPECT_TRUE(Signalled(io.event.get(), 0));
}

TEST_F(Pipes, AWaitCoversAPendingReadAndAnotherEvent) {
    UniqueFile server = MakeServer(name_);
    UniqueFile client = OpenClient(path_);
    ASSERT_TRUE(server && client);
    ASSERT_TRUE(SetMessageReadMode(client.get()));
    Io& io = NewIo();
    char buffer[12];
    SetLastError(kPoison);
    ASSERT_FALSE(ReadFile(client.get(), buffer, sizeof buffer, nullptr, &io.overlapped));
    ASSERT_EQ(ERROR_IO_PENDING, GetLastError());

    UniqueEvent wake(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    const HANDLE handles[2] = {io.event.get(), wake.get()};
    EXPECT_EQ(WAIT_TIMEOUT, WaitForMultipleObjects(2, handles, FALSE, 50));
    ASSERT_TRUE(SetEvent(wake.get()));
    EXPECT_EQ(WAIT_OBJECT_0 + 1, WaitForMultipleObjects(2, handles, FALSE, kPatience));
    ASSERT_TRUE(Write(server.get(), kFirst + "!").ok);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(2, handles, FALSE, kPatience));
    DWORD count = kPoison;
    ASSERT_TRUE(GetOverlappedResult(client.get(), &io.overlapped, &count, TRUE));
    EXPECT_EQ(12u, count);
}

TEST_F(Pipes, ConnectWaitsForAClientAndSignalsItsEvent) {
    UniqueFile server = MakeServer(name_);
    ASSERT_TRUE(server);
    Io& io = NewIo(true);
    SetLastError(kPoison);
    EXPECT_FALSE(ConnectNamedPipe(server.get(), &io.overlapped));
    EXPECT_EQ(ERROR_IO_PENDING, GetLastError());
    EXPECT_TRUE(NotSignalled(io.event.get()));

    UniqueFile client = OpenClient(path_);
    ASSERT_TRUE(client);
    ASSERT_TRUE(Signalled(io.event.get()));
    DWORD count = kPoison;
    EXPECT_TRUE(GetOverlappedResult(server.get(), &io.overlapped, &count, FALSE));

    Io& again = NewIo(true);
    SetLastError(kPoison);
    EXPECT_FALSE(ConnectNamedPipe(server.get(), &again.overlapped));
    EXPECT_EQ(ERROR_PIPE_CONNECTED, GetLastError());
    EXPECT_TRUE(NotSignalled(again.event.get()));
}

TEST_F(Pipes, AClientThatCameFirstIsReportedAsConnected) {
    UniqueFile server = MakeServer(name_);
    ASSERT_TRUE(server);
    UniqueFile client = OpenClient(path_);
    ASSERT_TRUE(client);
    Io& io = NewIo(true);
    SetLastError(kPoison);
    EXPECT_FALSE(ConnectNamedPipe(server.get(), &io.overlapped));
    EXPECT_EQ(ERROR_PIPE_CONNECTED, GetLastError());
    EXPECT_TRUE(NotSignalled(io.event.get()));
}

TEST_F(Pipes, AClientThatCameAndWentLeavesItsMessageAndNoData) {
    UniqueFile server = MakeServer(name_);
    ASSERT_TRUE(server);
    {
        UniqueFile client = OpenClient(path_);
        ASSERT_TRUE(client);
        ASSERT_TRUE(Write(client.get(), "hello").ok);
    }
    Io& io = NewIo();
    SetLastError(kPoison);
    EXPECT_FALSE(ConnectNamedPipe(server.get(), &io.overlapped));
    EXPECT_EQ(ERROR_NO_DATA, GetLastError());
    EXPECT_EQ("hello", Read(server.get(), 64).bytes);
}

// --- The other end goes -----------------------------------------------------

TEST_F(Pipes, AfterTheServerClosesTheClientSeesABrokenPipe) {
    UniqueFile server = MakeServer(name_);
    UniqueFile client = OpenClient(path_);
    ASSERT_TRUE(server && client);
    Io* io = nullptr;
    ASSERT_TRUE(StartPendingRead(client.get(), io));

    server.reset();
    EXPECT_TRUE(ReadEndedWith(client.get(), *io, ERROR_BROKEN_PIPE));

    const Outcome read = Read(client.get(), 12);
    EXPECT_FALSE(read.ok);
    EXPECT_EQ(ERROR_BROKEN_PIPE, read.error);
    const Outcome write = Write(client.get(), "late");
    EXPECT_FALSE(write.ok);
    EXPECT_EQ(ERROR_NO_DATA, write.error);
}

TEST_F(Pipes, AfterTheServerDisconnectsBothEndsAreNotConnected) {
    UniqueFile server = MakeServer(name_);
    UniqueFile client = OpenClient(path_);
    ASSERT_TRUE(server && client);
    Io* io = nullptr;
    ASSERT_TRUE(StartPendingRead(client.get(), io));

    ASSERT_TRUE(DisconnectNamedPipe(server.get()));
    EXPECT_TRUE(ReadEndedWith(client.get(), *io, ERROR_PIPE_NOT_CONNECTED));

    for (const HANDLE end : {client.get(), server.get()}) {
        SCOPED_TRACE(end == client.get() ? "client" : "server");
        const Outcome read = Read(end, 12);
        EXPECT_FALSE(read.ok);
        EXPECT_EQ(ERROR_PIPE_NOT_CONNECTED, read.error);
        const Outcome write = Write(end, "late");
        EXPECT_FALSE(write.ok);
        EXPECT_EQ(ERROR_PIPE_NOT_CONNECTED, write.error);
    }
    SetLastError(kPoison);
    EXPECT_FALSE(DisconnectNamedPipe(server.get()));
    EXPECT_EQ(ERROR_PIPE_NOT_CONNECTED, GetLastError());
}

TEST_F(Pipes, AfterTheClientClosesTheServerReadsWhatIsLeftThenABrokenPipe) {
    UniqueFile server = MakeServer(name_);
    UniqueFile client = OpenClient(path_);
    ASSERT_TRUE(server && client);
    ASSERT_TRUE(Write(client.get(), "last words").ok);
    client.reset();

    EXPECT_EQ("last words", Read(server.get(), 64).bytes);
    const Outcome read = Read(server.get(), 64);
    EXPECT_FALSE(read.ok);
    EXPECT_EQ(ERROR_BROKEN_PIPE, read.error);
    const Outcome write = Write(server.get(), "late");
    EXPECT_FALSE(write.ok);
    EXPECT_EQ(ERROR_NO_DATA, write.error);
    EXPECT_TRUE(DisconnectNamedPipe(server.get()));
}

TEST_F(Pipes, ClosingAHandleEndsItsPendingRead) {
    UniqueFile server = MakeServer(name_);
    UniqueFile client = OpenClient(path_);
    ASSERT_TRUE(server && client);
    Io* io = nullptr;
    ASSERT_TRUE(StartPendingRead(client.get(), io));
    client.reset();
    EXPECT_TRUE(ReadEndedWith(INVALID_HANDLE_VALUE, *io, ERROR_BROKEN_PIPE));
}

TEST_F(Pipes, CancellingEndsThePendingReadAndTheServerSeesTheClientLeaveAtOnce) {
    UniqueFile server = MakeServer(name_);
    UniqueFile client = OpenClient(path_);
    ASSERT_TRUE(server && client);
    Io* io = nullptr;
    ASSERT_TRUE(StartPendingRead(client.get(), io));
    EXPECT_TRUE(CancelIoEx(client.get(), nullptr));
    EXPECT_TRUE(ReadEndedWith(client.get(), *io, ERROR_OPERATION_ABORTED));
    client.reset();
    const Outcome read = Read(server.get(), 16);
    EXPECT_FALSE(read.ok);
    EXPECT_EQ(ERROR_BROKEN_PIPE, read.error);
}

// --- Ends in the wrong state ------------------------------------------------

TEST_F(Pipes, AListeningInstanceCanNeitherReadNorDisconnect) {
    UniqueFile server = MakeServer(name_);
    ASSERT_TRUE(server);
    Io& io = NewIo(true);
    char buffer[12];
    SetLastError(kPoison);
    EXPECT_FALSE(ReadFile(server.get(), buffer, sizeof buffer, nullptr, &io.overlapped));
    EXPECT_EQ(ERROR_PIPE_LISTENING, GetLastError());
    EXPECT_TRUE(NotSignalled(io.event.get()));
    SetLastError(kPoison);
    EXPECT_FALSE(DisconnectNamedPipe(server.get()));
    EXPECT_EQ(ERROR_PIPE_LISTENING, GetLastError());
}

TEST_F(Pipes, AClientEndCanNeitherConnectNorDisconnect) {
    UniqueFile server = MakeServer(name_);
    UniqueFile client = OpenClient(path_);
    ASSERT_TRUE(server && client);
    SetLastError(kPoison);
    EXPECT_FALSE(DisconnectNamedPipe(client.get()));
    EXPECT_EQ(ERROR_NOT_SUPPORTED, GetLastError());
    SetLastError(kPoison);
    EXPECT_FALSE(ConnectNamedPipe(client.get(), nullptr));
    EXPECT_EQ(ERROR_INVALID_FUNCTION, GetLastError());
}

TEST_F(Pipes, PipeFunctionsRefuseOtherHandles) {
    UniqueEvent event(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    char buffer[4];
    DWORD count = kPoison;
    SetLastError(kPoison);
    EXPECT_FALSE(ReadFile(event.get(), buffer, sizeof buffer, &count, nullptr));
    EXPECT_EQ(ERROR_INVALID_HANDLE, GetLastError());
    SetLastError(kPoison);
    EXPECT_FALSE(DisconnectNamedPipe(event.get()));
    EXPECT_EQ(ERROR_INVALID_HANDLE, GetLastError());
}

// --- Several clients --------------------------------------------------------

TEST_F(Pipes, EachClientTalksToItsOwnInstance) {
    UniqueFile instances[2] = {MakeServer(name_, kMessagePipe, 2), MakeServer(name_, kMessagePipe, 2)};
    ASSERT_TRUE(instances[0] && instances[1]);
    UniqueFile clients[2] = {OpenClient(path_), OpenClient(path_)};
    ASSERT_TRUE(clients[0] && clients[1]);
    SetLastError(kPoison);
    EXPECT_FALSE(OpenClient(path_));
    EXPECT_EQ(ERROR_PIPE_BUSY, GetLastError());

    ASSERT_TRUE(Write(clients[0].get(), "zero").ok);
    ASSERT_TRUE(Write(clients[1].get(), "one").ok);
    // Which instance took which client is the system's choice: each instance
    // answers what it heard, and each client must hear its own words back.
    for (const UniqueFile& instance : instances) {
        const Outcome heard = Read(instance.get(), 64);
        ASSERT_TRUE(heard.ok);
        ASSERT_TRUE(Write(instance.get(), "echo " + heard.bytes).ok);
    }
    EXPECT_EQ("echo zero", Read(clients[0].get(), 64).bytes);
    EXPECT_EQ("echo one", Read(clients[1].get(), 64).bytes);
}

// Serves one client in a process of its own: answers its request with "pong"
// and waits for it to leave (args: pipe path, ready event).
const bool kPipeServerVerb = testsupport::RegisterChildVerb("pipe-server", [](const std::vector<std::string>& args) {
    if (args.size() != 2) {
        return 2;
    }
    UniqueFile server(CreateNamedPipeA(args[0].c_str(), PIPE_ACCESS_DUPLEX, kMessagePipe, 1, 4096, 4096, 0, nullptr));
    if (!server || !kernel_objects::SignalParent(args[1])) {
        return 3;
    }
    if (!ConnectNamedPipe(server.get(), nullptr) && GetLastError() != ERROR_PIPE_CONNECTED) {
        return 4;
    }
    char request[16];
    DWORD count = 0;
    if (!ReadFile(server.get(), request, sizeof request, &count, nullptr) || std::string(request, count) != "ping") {
        return 5;
    }
    if (!WriteFile(server.get(), "pong", 4, &count, nullptr)) {
        return 6;
    }
    const BOOL readAfterClose = ReadFile(server.get(), request, sizeof request, &count, nullptr);
    return !readAfterClose && GetLastError() == ERROR_BROKEN_PIPE ? 0 : 7;
});

TEST_F(Pipes, AServerInAnotherProcessAnswersTheClient) {
    const std::string readyName = UniqueName("ready");
    UniqueEvent ready(CreateEventA(nullptr, TRUE, FALSE, readyName.c_str()));
    ASSERT_TRUE(ready);
    kernel_objects::Child child;
    ASSERT_TRUE(child.Start("pipe-server", {path_, readyName}));
    ASSERT_TRUE(Signalled(ready.get()));
    {
        UniqueFile client = OpenClient(path_);
        ASSERT_TRUE(client);
        ASSERT_TRUE(SetMessageReadMode(client.get()));
        ASSERT_TRUE(Write(client.get(), "ping").ok);
        EXPECT_EQ("pong", Read(client.get(), 64).bytes);
    }
    EXPECT_EQ(0, child.ExitCode());
}

// Talks to the parent's pipe from a process of its own: sends "ping" and
// expects "pong" (args: pipe path).
const bool kPipeClientVerb = testsupport::RegisterChildVerb("pipe-client", [](const std::vector<std::string>& args) {
    if (args.size() != 1 || !WaitNamedPipeA(args[0].c_str(), kPatience)) {
        return 2;
    }
    UniqueFile client = OpenClient(args[0], false);
    if (!client || !SetMessageReadMode(client.get())) {
        return 3;
    }
    DWORD count = 0;
    if (!WriteFile(client.get(), "ping", 4, &count, nullptr)) {
        return 4;
    }
    char answer[16];
    if (!ReadFile(client.get(), answer, sizeof answer, &count, nullptr)) {
        return 5;
    }
    return std::string(answer, count) == "pong" ? 0 : 6;
});

TEST_F(Pipes, AClientInAnotherProcessIsServed) {
    UniqueFile server = MakeServer(name_);
    ASSERT_TRUE(server);
    Io& connect = NewIo();
    ASSERT_FALSE(ConnectNamedPipe(server.get(), &connect.overlapped));
    ASSERT_EQ(ERROR_IO_PENDING, GetLastError());
    kernel_objects::Child child;
    ASSERT_TRUE(child.Start("pipe-client", {path_}));
    ASSERT_TRUE(Signalled(connect.event.get()));
    EXPECT_EQ("ping", Read(server.get(), 64).bytes);
    EXPECT_TRUE(Write(server.get(), "pong").ok);
    EXPECT_EQ(0, child.ExitCode());
}

// Creates an instance of the pipe, tells the parent and waits to be killed
// (args: pipe path, ready event).
const bool kPipeServerAndHangVerb =
    testsupport::RegisterChildVerb("pipe-server-and-hang", [](const std::vector<std::string>& args) {
        if (args.size() != 2) {
            return 2;
        }
        const HANDLE server =
            CreateNamedPipeA(args[0].c_str(), PIPE_ACCESS_DUPLEX, kMessagePipe, 1, 4096, 4096, 0, nullptr);
        if (server == INVALID_HANDLE_VALUE || !kernel_objects::SignalParent(args[1])) {
            return 3;
        }
        Sleep(kPatience);
        return 4;
    });

TEST_F(Pipes, APipeLeftByAKilledServerIsGoneAndCanBeCreatedAgain) {
    const std::string readyName = UniqueName("ready");
    UniqueEvent ready(CreateEventA(nullptr, TRUE, FALSE, readyName.c_str()));
    ASSERT_TRUE(ready);
    kernel_objects::Child child;
    ASSERT_TRUE(child.Start("pipe-server-and-hang", {path_, readyName}));
    ASSERT_TRUE(Signalled(ready.get()));
    child.Kill();

    SetLastError(kPoison);
    EXPECT_FALSE(OpenClient(path_));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, GetLastError());
    UniqueFile server = MakeServer(name_);
    ASSERT_TRUE(server);
    EXPECT_TRUE(OpenClient(path_));
}

}  // namespace
