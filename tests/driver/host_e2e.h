// End-to-end tests of the camera road: a camera server (the server library,
// in this process or in a child process, or a scripted pipe server) feeds
// the loaded driver, whose link thread copies each frame and calls the
// host's CompleteCallback, and the host reads the rows back with
// getCVLGrabRow. This header holds what the scenarios share: frames that
// prove where their bytes came from, servers owned for a test's length, the
// host's callbacks with one record per port, and the fixture.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "host_harness.h"
#include "platform/process.h"
#include "platform/unique_handle.h"
#include "platform/win32.h"
#include "quorvex_server.h"
#include "support/host_frame.h"
#include "support/scripted_server.h"
#include "support/waits.h"
#include "wire/messages.h"

namespace e2e {

using testsupport::AnswerWith;
using testsupport::kWaitMs;
using testsupport::Now;
using testsupport::ScriptedServer;
using testsupport::WaitUntil;

// For what includes the driver's one-second pause before it reconnects.
constexpr DWORD kReconnectWaitMs = 8000;
// A camera's ConnectionTimeout when its server is up: an open that returns
// long before it has seen the dimensions.
constexpr int kLongTimeout = 10000;

// The LogLevel settings the scenarios run with.
constexpr int kLevelErrors = 1;
constexpr int kLevelSteps = 2;
constexpr int kLevelDetails = 3;

// ---- Frames ----

using FrameFormat = testsupport::FrameShape;

// The bytes at the start of every row that name the frame and the row.
constexpr int kRowStampBytes = 8;

// A frame in which every row starts with the frame's seed and the row's index
// (4 bytes each, little-endian), followed by bytes derived from both. Any row
// read back alone shows which frame and which row it came from, and a row
// mixed from two frames shows. Rows must hold at least kRowStampBytes.
std::vector<uint8_t> MakeFrame(const FrameFormat& format, uint32_t seed);

// Checks one row read back: its stamp must name `row`, and its other bytes
// must be those of that frame's row. The frame's seed goes to `seed`.
testing::AssertionResult CheckRow(const uint8_t* bytes, size_t count, int row, uint32_t& seed);

// ---- Servers ----

// A server of the server library in this process, destroyed with the object.
class Server {
public:
    Server() = default;
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Creates the pipe, the segment and the mutex; failure fails the test.
    testing::AssertionResult Create(const std::string& shareName, int segmentBytes, int maxClients = 1);
    void Destroy();

    QuorvexServer* get() const { return server; }
    int SetDimensions(const FrameFormat& format);
    int Publish(const std::vector<uint8_t>& frame);
    int SendHeader(int type, int param = 0);
    int Clients();
    bool WaitForClients(int count, DWORD milliseconds = kWaitMs);
    // Waits until no client is attached.
    bool WaitForNoClients(DWORD milliseconds = kWaitMs);

private:
    QuorvexServer* server = nullptr;
};

// A camera server in a child process (verb "e2e-server"): it publishes
// frames of `format` every `periodMs` for at most `lifetimeMs`, with seeds
// counting up from `firstSeed`, through `instances` pipe instances. Returns
// once the server serves. The child's output goes to the file `outputPath`.
testing::AssertionResult StartServerProcess(platform::ChildProcess& child, const std::string& outputPath,
                                            const std::string& shareName, const FrameFormat& format, int periodMs,
                                            uint32_t firstSeed, int lifetimeMs = 60000,
                                            int instances = QUORVEX_SERVER_MAX_CLIENTS);

// A child process (verb "e2e-hold-mutex") that takes the named mutex and
// holds it until it is killed or `lifetimeMs` have passed, when it ends
// without releasing it. Returns once the child holds the mutex.
testing::AssertionResult StartMutexHolder(platform::ChildProcess& child, const std::string& outputPath,
                                          const std::string& mutexName, int lifetimeMs = 60000);

// True while the child has not ended.
bool StillRunning(platform::ChildProcess& child);

// ---- The host's callbacks ----

// What the CompleteCallback does besides counting.
enum class OnFrame : int {
    Count,     // nothing more
    ReadRows,  // reads every row through getCVLGrabRow and checks the frame
    ClosePort  // closes its own port with closeCVLPort
};

// Everything the host's callbacks saw for one port. Written by the cameras'
// link threads, read by the tests.
struct PortRecord {
    std::atomic<int> frames{0};
    std::atomic<int> resets{0};
    // Commands other than "Reset" with an empty argument, and calls with a
    // grabber number other than 0.
    std::atomic<int> strangeCalls{0};
    std::atomic<int> action{static_cast<int>(OnFrame::Count)};
    // ReadRows: frames whose every row came back whole and from one frame,
    // and frames that did not.
    std::atomic<int> goodFrames{0};
    std::atomic<int> badFrames{0};
    std::atomic<uint32_t> lastSeed{0};
    std::atomic<int> lastWidth{0};
    // ClosePort: closeCVLPort returned inside the callback.
    std::atomic<int> closedInside{0};
    // The thread that ran the last callback.
    std::atomic<DWORD> callbackThread{0};

    void Clear();
};

constexpr int kPortCount = 128;

// The record of `port` (0 to kPortCount - 1).
PortRecord& Port(int port);

void QUORVEX_CALL OnComplete(int grabberNo, int portNo);
void QUORVEX_CALL OnCommand(int grabberNo, int portNo, const char* command, const char* argument);

// ---- The fixture ----

class E2ETest : public hosttest::HostTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // Stores the section of `camera` with share `shareName`, opens it on
    // `port` and, when asked, sets both callbacks. `dimensions` receives what
    // openCVLPort gave.
    testing::AssertionResult OpenCamera(const char* camera, int port, const std::string& shareName, int logLevel,
                                        int connectionTimeout, int* dimensions, bool setCallbacks = true);
    void CloseCamera(int port);

    // A file in this test's directory for a child's output.
    std::string ChildOutput(const std::string& name) const;

    // Waits until the port has received `count` frames in all.
    testing::AssertionResult WaitForFrames(int port, int count, DWORD milliseconds = kWaitMs);

    // Publishes a frame and waits until the port has it; then reads every row
    // back from this thread and compares it with the frame, byte for byte.
    testing::AssertionResult DeliverAndReadBack(Server& server, int port, const FrameFormat& format, uint32_t seed);

    // Serves `format` from `server` on `share`, opens `camera` on `port` and
    // reads the first frame (seed 1) back.
    testing::AssertionResult StartStreaming(Server& server, const std::string& share, const FrameFormat& format,
                                            const char* camera, int port, int logLevel);

    // How many received messages equal `text` exactly, after the log's line
    // end has been supplied as the log supplies it.
    int Count(const std::string& text) const;
    // How many received messages start with `prefix`.
    int CountStartingWith(const std::string& prefix) const;
    // Waits until Count(text) reaches `count`.
    testing::AssertionResult WaitForLine(const std::string& text, int count = 1, DWORD milliseconds = kWaitMs) const;
    // Every message received, one per line, for failure output.
    std::string Dump() const;

private:
    std::vector<int> openPorts;
};

// printf into a std::string.
std::string Format(const char* format, ...);

// A share name no other test or run uses.
std::string ShareName();

// The line a camera logs when its link comes up or goes down.
std::string ConnectionLine(const char* camera, int port, bool connected, const std::string& shareName);

}  // namespace e2e
