#include "link/named_pipe_channel.h"

#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <thread>

#include "link_test_support.h"
#include "platform/unique_handle.h"
#include "support/scripted_server.h"
#include "support/win32_exception.h"

namespace {

using linktest::ConnectClient;
using linktest::kWaitMs;
using linktest::Now;
using linktest::ReadMessage;
using linktest::StartServer;
using linktest::UniqueName;

// Runs `action`, which must throw Win32Exception; returns its code, or 0
// (no Win32 error here) when it did not throw.
template <typename Action>
DWORD ThrownCode(Action action) {
    try {
        action();
    } catch (const Win32Exception& e) {
        return e.ErrorCode;
    }
    return 0;
}

bool IsServerLost(DWORD code) {
    return code == ERROR_BROKEN_PIPE || code == ERROR_PIPE_NOT_CONNECTED;
}

struct PipePathRow {
    const char* name;
    const char* shareName;
    const char* path;
};

void PrintTo(const PipePathRow& row, std::ostream* out) {
    *out << row.name;
}

class PipePathTest : public testing::TestWithParam<PipePathRow> {};

TEST_P(PipePathTest, PrefixesTheShareNameUnchanged) {
    EXPECT_EQ(GetParam().path, PipePath(GetParam().shareName));
}

INSTANTIATE_TEST_SUITE_P(Names, PipePathTest,
                         testing::Values(PipePathRow{"Default", "Camera Share", "\\\\.\\pipe\\Camera Share"},
                                         PipePathRow{"Empty", "", "\\\\.\\pipe\\"},
                                         PipePathRow{"Backslash", "a\\b", "\\\\.\\pipe\\a\\b"},
                                         PipePathRow{"Punctuation", " x.y-z ", "\\\\.\\pipe\\ x.y-z "}),
                         RowName());

TEST(NamedPipeChannelTest, ConnectToMissingPipeThrowsFileNotFoundAtOnce) {
    NamedPipeChannel first;
    NamedPipeChannel second;
    const std::string name = UniqueName("missing");
    const DWORD start = Now();
    SetLastError(0xdeadbeef);
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, ThrownCode([&] { first.Connect(name); }));
    SetLastError(0xdeadbeef);
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, ThrownCode([&] { second.Connect(name); }));
    EXPECT_LT(Now() - start, 900u) << "a missing pipe must not be waited for";
}

TEST(NamedPipeChannelTest, BusyInstancesAreWaitedForThenTimeOut) {
    const std::string name = UniqueName("busy");
    linktest::ServerPtr server = StartServer(name, 4096, 1);
    ASSERT_NE(server, nullptr);
    NamedPipeChannel holder;
    ASSERT_TRUE(ConnectClient(holder, name, server.get(), 1));

    NamedPipeChannel waiter;
    const DWORD start = Now();
    SetLastError(0xdeadbeef);
    EXPECT_EQ(ERROR_SEM_TIMEOUT, ThrownCode([&] { waiter.Connect(name); }));
    const DWORD elapsed = Now() - start;
    EXPECT_GE(elapsed, 900u);
    EXPECT_LT(elapsed, 4000u);
}

TEST(NamedPipeChannelTest, InstanceFreedDuringTheWaitIsTaken) {
    const std::string name = UniqueName("freed");
    linktest::ServerPtr server = StartServer(name, 4096, 1);
    ASSERT_NE(server, nullptr);
    NamedPipeChannel holder;
    ASSERT_TRUE(ConnectClient(holder, name, server.get(), 1));

    // The holder leaves while the other client waits for the only instance.
    std::thread leaver([&] {
        Sleep(300);
        holder.Close();
    });
    NamedPipeChannel waiter;
    const DWORD start = Now();
    EXPECT_EQ(0u, ThrownCode([&] { waiter.Connect(name); }));
    EXPECT_LT(Now() - start, 3000u);
    leaver.join();
    EXPECT_EQ(1, QuorvexServerWaitForClients(server.get(), 1, kWaitMs));
}

TEST(NamedPipeChannelTest, BytePipeIsRejectedAndItsHandleClosed) {
    const std::string name = UniqueName("bytes");
    platform::UniqueFile serverEnd(CreateNamedPipeA(PipePath(name).c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                                    PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 4096, 4096, 0,
                                                    nullptr));
    ASSERT_TRUE(serverEnd) << GetLastError();
    platform::UniqueEvent connected(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    OVERLAPPED connectOverlapped{};
    connectOverlapped.hEvent = connected.get();
    SetLastError(0xdeadbeef);
    ASSERT_FALSE(ConnectNamedPipe(serverEnd.get(), &connectOverlapped));
    ASSERT_EQ(ERROR_IO_PENDING, GetLastError());

    NamedPipeChannel channel;
    SetLastError(0xdeadbeef);
    EXPECT_EQ(ERROR_INVALID_PARAMETER, ThrownCode([&] { channel.Connect(name); }));

    // The client opened the pipe and closed it again: the server end finds it
    // gone instead of waiting for data.
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(connected.get(), kWaitMs));
    platform::UniqueEvent readDone(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    OVERLAPPED readOverlapped{};
    readOverlapped.hEvent = readDone.get();
    char byte = 0;
    DWORD bytes = 0xdeadbeef;
    SetLastError(0xdeadbeef);
    BOOL read = ReadFile(serverEnd.get(), &byte, 1, nullptr, &readOverlapped);
    if (!read && GetLastError() == ERROR_IO_PENDING) {
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(readDone.get(), kWaitMs)) << "the client's handle is still open";
        read = GetOverlappedResult(serverEnd.get(), &readOverlapped, &bytes, FALSE);
    }
    EXPECT_FALSE(read);
    EXPECT_EQ(ERROR_BROKEN_PIPE, GetLastError());
}

TEST(NamedPipeChannelTest, MessagesArriveWholeAndInOrder) {
    const std::string name = UniqueName("order");
    linktest::ServerPtr server = StartServer(name, 4096, 1);
    ASSERT_NE(server, nullptr);
    NamedPipeChannel channel;
    ASSERT_TRUE(ConnectClient(channel, name, server.get(), 1));

    for (int i = 0; i < 5; ++i) {
        ASSERT_EQ(1, QuorvexServerSendHeader(server.get(), 10 + i, 100 * i));
    }
    for (int i = 0; i < 5; ++i) {
        MessageHeader header{};
        ASSERT_TRUE(ReadMessage(channel, &header)) << "message " << i;
        EXPECT_EQ(HeaderMagic, header.magic);
        EXPECT_EQ(10 + i, header.type);
        EXPECT_EQ(100 * i, header.param);
    }
}

TEST(NamedPipeChannelTest, PendingReadIsWokenByTheServersWrite) {
    const std::string name = UniqueName("wake");
    linktest::ServerPtr server = StartServer(name, 4096, 1);
    ASSERT_NE(server, nullptr);
    NamedPipeChannel channel;
    ASSERT_TRUE(ConnectClient(channel, name, server.get(), 1));

    MessageHeader header{};
    std::memset(&header, 0xCD, sizeof header);
    const HANDLE done = channel.BeginRead(&header, sizeof header);
    ASSERT_NE(nullptr, done);
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(done, 200));
    SetLastError(0xdeadbeef);
    EXPECT_EQ(ERROR_IO_INCOMPLETE, ThrownCode([&] { channel.ReadResult(); }));

    ASSERT_EQ(1, QuorvexServerSendHeader(server.get(), ImageReady, 7));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(done, kWaitMs));
    EXPECT_EQ(kMessageSize, channel.ReadResult());
    EXPECT_EQ(ImageReady, header.type);
    EXPECT_EQ(7, header.param);
}

struct LongMessageRow {
    const char* name;
    bool readPending;  // the read is started before the message is sent
};

void PrintTo(const LongMessageRow& row, std::ostream* out) {
    *out << row.name;
}

class LongMessageTest : public testing::TestWithParam<LongMessageRow> {};

// As on Windows: the first 12 bytes with ERROR_MORE_DATA, from the read's
// result when it was pending, or from the read itself when the message was
// waiting; the rest with the next read.
TEST_P(LongMessageTest, ComesInParts) {
    const std::string name = UniqueName("long");
    linktest::ServerPtr server = StartServer(name, 4096, 1);
    ASSERT_NE(server, nullptr);
    NamedPipeChannel channel;
    ASSERT_TRUE(ConnectClient(channel, name, server.get(), 1));

    const MessageHeader pair[2] = {{HeaderMagic, Dimensions, 0}, {640, 480, 1}};
    MessageHeader first{};
    std::memset(&first, 0xCD, sizeof first);
    SetLastError(0xdeadbeef);
    if (GetParam().readPending) {
        const HANDLE done = channel.BeginRead(&first, sizeof first);
        ASSERT_EQ(1, QuorvexServerSendRaw(server.get(), pair, sizeof pair));
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(done, kWaitMs));
        EXPECT_EQ(ERROR_MORE_DATA, ThrownCode([&] { channel.ReadResult(); }));
    } else {
        ASSERT_EQ(1, QuorvexServerSendRaw(server.get(), pair, sizeof pair));
        EXPECT_EQ(ERROR_MORE_DATA, ThrownCode([&] { channel.BeginRead(&first, sizeof first); }));
    }
    EXPECT_EQ(HeaderMagic, first.magic);
    EXPECT_EQ(Dimensions, first.type);
    EXPECT_EQ(0, first.param);

    DimensionsBlock rest{};
    ASSERT_TRUE(ReadMessage(channel, &rest));
    EXPECT_EQ(640, rest.width);
    EXPECT_EQ(480, rest.height);
    EXPECT_EQ(1, rest.bytesPerPixel);
}

INSTANTIATE_TEST_SUITE_P(Timing, LongMessageTest,
                         testing::Values(LongMessageRow{"ReadPending", true}, LongMessageRow{"MessageWaiting", false}),
                         RowName());

struct ServerLossRow {
    const char* name;
    bool destroy;  // destroy the server rather than drop its clients
};

void PrintTo(const ServerLossRow& row, std::ostream* out) {
    *out << row.name;
}

class ServerLossTest : public testing::TestWithParam<ServerLossRow> {};

TEST_P(ServerLossTest, PendingReadAndNextReadReportTheLoss) {
    const std::string name = UniqueName("lost");
    linktest::ServerPtr server = StartServer(name, 4096, 1);
    ASSERT_NE(server, nullptr);
    NamedPipeChannel channel;
    ASSERT_TRUE(ConnectClient(channel, name, server.get(), 1));

    MessageHeader header{};
    const HANDLE done = channel.BeginRead(&header, sizeof header);
    ASSERT_EQ(WAIT_TIMEOUT, WaitForSingleObject(done, 50));
    if (GetParam().destroy) {
        server.reset();
    } else {
        ASSERT_EQ(1, QuorvexServerDropClients(server.get()));
    }
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(done, kWaitMs));
    const DWORD readCode = ThrownCode([&] { channel.ReadResult(); });
    EXPECT_TRUE(IsServerLost(readCode)) << readCode;
    const DWORD nextCode = ThrownCode([&] { channel.BeginRead(&header, sizeof header); });
    EXPECT_TRUE(IsServerLost(nextCode)) << nextCode;
}

INSTANTIATE_TEST_SUITE_P(Ways, ServerLossTest,
                         testing::Values(ServerLossRow{"Dropped", false}, ServerLossRow{"Destroyed", true}), RowName());

TEST(NamedPipeChannelTest, CloseIsHarmlessWhenClosedAndTheChannelCanReconnect) {
    const std::string name = UniqueName("reuse");
    NamedPipeChannel channel;
    channel.Close();
    channel.Close();
    MessageHeader header{};
    EXPECT_EQ(ERROR_INVALID_HANDLE, ThrownCode([&] { channel.BeginRead(&header, sizeof header); }));

    linktest::ServerPtr server = StartServer(name, 4096, 1);
    ASSERT_NE(server, nullptr);
    for (int round = 0; round < 3; ++round) {
        ASSERT_TRUE(ConnectClient(channel, name, server.get(), 1)) << "round " << round;
        ASSERT_EQ(1, QuorvexServerSendHeader(server.get(), Stop, round));
        ASSERT_TRUE(ReadMessage(channel, &header)) << "round " << round;
        EXPECT_EQ(round, header.param);
        channel.Close();
        channel.Close();
        EXPECT_EQ(ERROR_INVALID_HANDLE, ThrownCode([&] { channel.BeginRead(&header, sizeof header); }));
    }
}

// The server end of a message pipe with small buffers that never reads what
// its one client writes, until the test drains it.
class SilentServer : public testsupport::ScriptedServer {
public:
    explicit SilentServer(const std::string& name) : ScriptedServer(name, Options{1024}), listening(Listen()) {}

    testing::AssertionResult Ready() const { return listening; }

    // Reads messages until none comes within 300 ms; returns how many came.
    // The last read stays pending and takes the next message.
    int Drain() {
        int count = 0;
        while (Read(300) == testsupport::PipeWait::Done) {
            ++count;
        }
        return count;
    }

private:
    const testing::AssertionResult listening;
};

// How many 12-byte writes a silent server's pipe takes before one waits,
// found with a client of its own.
int WritesUntilOneWaits(const std::string& name) {
    SilentServer server(name);
    EXPECT_TRUE(server.Ready());
    platform::UniqueFile client(CreateFileA(PipePath(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                            OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
    EXPECT_TRUE(client) << GetLastError();
    platform::UniqueEvent done(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    const MessageHeader message{HeaderMagic, Dimensions, 0};
    OVERLAPPED overlapped{};
    int completed = 0;
    for (; client && completed < 1000000; ++completed) {
        overlapped = OVERLAPPED{};
        overlapped.hEvent = done.get();
        if (!WriteFile(client.get(), &message, sizeof message, nullptr, &overlapped)) {
            EXPECT_EQ(ERROR_IO_PENDING, GetLastError());
            break;
        }
    }
    // Closing the client ends the write that waits.
    client.reset();
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(done.get(), kWaitMs));
    return completed;
}

TEST(NamedPipeChannelTest, AWriteStillPendingIsNotStartedOverAndWritesDoNotPileUp) {
    const int capacity = WritesUntilOneWaits(UniqueName("capacity"));
    ASSERT_GT(capacity, 0);

    const std::string name = UniqueName("silent");
    SilentServer server(name);
    ASSERT_TRUE(server.Ready());
    NamedPipeChannel channel;
    channel.Connect(name);
    const MessageHeader request{HeaderMagic, Dimensions, 0};
    const int attempts = capacity + 200;
    int started = 0;
    for (int i = 0; i < attempts; ++i) {
        started += channel.BeginWrite(&request, sizeof request) ? 1 : 0;
    }
    EXPECT_GE(started, capacity);
    EXPECT_LE(started, capacity + 1) << "writes were started while one was pending";

    // Every write started arrives, and none more.
    EXPECT_EQ(started, server.Drain());
    // Once the server has read, the pending write is done and writing goes on.
    EXPECT_TRUE(channel.BeginWrite(&request, sizeof request));
    EXPECT_EQ(1, server.Drain());
}

TEST(NamedPipeChannelTest, AWriteThatFailedAtOnceLeavesTheNextConnectionFreeToWrite) {
    const std::string name = UniqueName("failed");
    const MessageHeader request{HeaderMagic, Dimensions, 0};
    NamedPipeChannel channel;
    {
        SilentServer gone(name);
        ASSERT_TRUE(gone.Ready());
        channel.Connect(name);
    }
    // 232 (the pipe is being closed) or a lost server, as the system sees it.
    EXPECT_NE(0u, ThrownCode([&] { channel.BeginWrite(&request, sizeof request); }));
    const DWORD start = Now();
    channel.Close();
    EXPECT_LT(Now() - start, 500u) << "Close waited for a write that never went pending";

    SilentServer next(name);
    ASSERT_TRUE(next.Ready());
    channel.Connect(name);
    EXPECT_TRUE(channel.BeginWrite(&request, sizeof request));
    EXPECT_EQ(1, next.Drain());
}

}  // namespace
