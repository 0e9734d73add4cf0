#include "link_test_support.h"

#include <cstring>

#include "support/driver_state.h"
#include "support/win32_exception.h"

namespace linktest {
namespace {

// The request the client sends; static, since a write in flight reads it.
const MessageHeader kRequest{HeaderMagic, Dimensions, 0};

}  // namespace

LogCapture::LogCapture() {
    testsupport::LogRecorder::Instance().Reset();
    previousProc = GetDriverState()->debugMsgProc.exchange(&testsupport::LogRecorder::Record);
    previousLevel = GetDriverState()->logLevel.exchange(4);
}

LogCapture::~LogCapture() {
    GetDriverState()->debugMsgProc = previousProc;
    GetDriverState()->logLevel = previousLevel;
    for (const std::string& problem : testsupport::LogRecorder::Instance().Problems()) {
        ADD_FAILURE() << "DebugMsgProc: " << problem;
    }
}

ServerPtr StartServer(const std::string& shareName, int segmentBytes, int maxClients) {
    ServerPtr server(QuorvexServerCreate(shareName.c_str(), segmentBytes, maxClients));
    EXPECT_NE(server, nullptr) << "error " << GetLastError() << " creating server " << shareName;
    return server;
}

testing::AssertionResult ConnectClient(NamedPipeChannel& channel, const std::string& shareName, QuorvexServer* server,
                                       int expectedClients) {
    try {
        channel.Connect(shareName);
    } catch (const Win32Exception& e) {
        return testing::AssertionFailure() << "Connect threw " << e.ErrorCode << ": " << e.what();
    }
    // A client of these tests sends its request only when the test says so;
    // its pipe being connected is what is awaited here (the wait for clients
    // awaits clients that can take a frame, which these may never be).
    const DWORD start = Now();
    while (QuorvexServerClientCount(server) < expectedClients && Now() - start < kWaitMs) {
        Sleep(5);
    }
    if (QuorvexServerClientCount(server) < expectedClients) {
        return testing::AssertionFailure()
               << "server counts " << QuorvexServerClientCount(server) << " clients, not " << expectedClients;
    }
    return testing::AssertionSuccess();
}

testing::AssertionResult FinishRead(NamedPipeChannel& channel, HANDLE pending) {
    try {
        if (WaitForSingleObject(pending, kWaitMs) != WAIT_OBJECT_0) {
            return testing::AssertionFailure() << "no message within " << kWaitMs << " ms";
        }
        const DWORD bytes = channel.ReadResult();
        if (bytes != kMessageSize) {
            return testing::AssertionFailure() << "read " << bytes << " bytes";
        }
    } catch (const Win32Exception& e) {
        return testing::AssertionFailure() << "read failed with " << e.ErrorCode << ": " << e.what();
    }
    return testing::AssertionSuccess();
}

testing::AssertionResult ReadMessage(NamedPipeChannel& channel, void* message) {
    std::memset(message, 0xCD, kMessageSize);
    HANDLE pending = nullptr;
    try {
        pending = channel.BeginRead(message, kMessageSize);
    } catch (const Win32Exception& e) {
        return testing::AssertionFailure() << "read failed at once with " << e.ErrorCode << ": " << e.what();
    }
    return FinishRead(channel, pending);
}

testing::AssertionResult NothingArrives(NamedPipeChannel& channel, void* message, DWORD quietMs, HANDLE* pending) {
    std::memset(message, 0xCD, kMessageSize);
    try {
        const HANDLE done = channel.BeginRead(message, kMessageSize);
        if (pending != nullptr) {
            *pending = done;
        }
        if (WaitForSingleObject(done, quietMs) != WAIT_TIMEOUT) {
            return testing::AssertionFailure() << "a message or an error arrived";
        }
    } catch (const Win32Exception& e) {
        return testing::AssertionFailure() << "read failed with " << e.ErrorCode << ": " << e.what();
    }
    return testing::AssertionSuccess();
}

testing::AssertionResult AskDimensions(NamedPipeChannel& channel, DimensionsBlock& dimensions) {
    try {
        channel.BeginWrite(&kRequest, sizeof kRequest);
    } catch (const Win32Exception& e) {
        return testing::AssertionFailure() << "write failed with " << e.ErrorCode << ": " << e.what();
    }
    return ReceiveDimensions(channel, dimensions);
}

testing::AssertionResult ReceiveDimensions(NamedPipeChannel& channel, DimensionsBlock& dimensions) {
    MessageHeader header{};
    testing::AssertionResult read = ReadMessage(channel, &header);
    if (!read) {
        return read << " (header)";
    }
    if (header.type != Dimensions || header.magic != HeaderMagic) {
        return testing::AssertionFailure() << "header type " << header.type << ", magic " << std::hex << header.magic;
    }
    read = ReadMessage(channel, &dimensions);
    if (!read) {
        return read << " (dimensions block)";
    }
    return testing::AssertionSuccess();
}

std::vector<uint8_t> Pattern(size_t size, int seed) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<uint8_t>((i * 31u + i / 251u + static_cast<size_t>(seed) * 17u) & 0xFFu);
    }
    return bytes;
}

}  // namespace linktest
