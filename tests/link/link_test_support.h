// Helpers shared by the link tests: captured log lines, object names of their
// own, a server owned for the length of a test, and waits with time-outs.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "link/named_pipe_channel.h"
#include "platform/win32.h"
#include "quorvex_server.h"
#include "support/log_recorder.h"
#include "support/row_name.h"
#include "support/unique_name.h"
#include "support/waits.h"
#include "wire/messages.h"

namespace linktest {

using testsupport::kWaitMs;
using testsupport::Now;

// Makes the shared recorder the driver's log procedure, at every level, while
// it lives; restores the procedure and level afterwards and fails the test
// on a malformed call.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    const testsupport::LogRecorder* operator->() const { return &testsupport::LogRecorder::Instance(); }

private:
    DebugMsgProc previousProc;
    int32_t previousLevel;
};

using testsupport::UniqueName;

struct ServerDeleter {
    void operator()(QuorvexServer* server) const { QuorvexServerDestroy(server); }
};
using ServerPtr = std::unique_ptr<QuorvexServer, ServerDeleter>;

// A server that must come up: a failure fails the calling test.
ServerPtr StartServer(const std::string& shareName, int segmentBytes, int maxClients);

// Connects a client and waits until the server has counted it.
testing::AssertionResult ConnectClient(NamedPipeChannel& channel, const std::string& shareName, QuorvexServer* server,
                                       int expectedClients);

// Reads one 12-byte message within kWaitMs. The buffer is poisoned first, so
// a read that delivers nothing shows.
testing::AssertionResult ReadMessage(NamedPipeChannel& channel, void* message);

// Waits up to kWaitMs for the read of `pending` and checks that it brought
// a whole message.
testing::AssertionResult FinishRead(NamedPipeChannel& channel, HANDLE pending);

// Asserts that no message arrives within `quietMs`. The read stays pending:
// finish it with FinishRead on `*pending`, or close the channel.
testing::AssertionResult NothingArrives(NamedPipeChannel& channel, void* message, DWORD quietMs,
                                        HANDLE* pending = nullptr);

// Sends the client's dimensions request and reads the answer: a Dimensions
// header and the block.
testing::AssertionResult AskDimensions(NamedPipeChannel& channel, DimensionsBlock& dimensions);

// Reads the Dimensions header and block that the server sent on its own.
testing::AssertionResult ReceiveDimensions(NamedPipeChannel& channel, DimensionsBlock& dimensions);

// Bytes in a pattern that differs per frame `seed`.
std::vector<uint8_t> Pattern(size_t size, int seed);

}  // namespace linktest
