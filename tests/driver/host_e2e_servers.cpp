// The camera servers of the end-to-end tests: the server library in this
// process, and child processes that stream or hold a segment's mutex.
#include <cstring>

#include "host_e2e.h"
#include "support/child_process.h"

namespace e2e {
namespace {

// How long a child server waits after its first client attached before it
// streams: ample for the client's request and its answer.
constexpr DWORD kDimensionsGraceMs = 250;

std::string ReadyEventName(const std::string& base) {
    return base + "Ready";
}

// Starts `child` with `arguments` and waits until it sets the named event
// `readyName`, which exists before the child starts.
testing::AssertionResult StartAndAwaitReady(platform::ChildProcess& child, const std::string& outputPath,
                                            const std::string& readyName, const std::vector<std::string>& arguments) {
    platform::UniqueEvent ready(CreateEventA(nullptr, TRUE, FALSE, readyName.c_str()));
    if (!ready) {
        return testing::AssertionFailure() << "cannot create the event " << readyName << ", error " << GetLastError();
    }
    if (!child.Start(platform::ProgramPath(), arguments, outputPath)) {
        return testing::AssertionFailure() << "cannot start " << platform::ProgramPath() << " " << arguments[0] << " "
                                           << testsupport::WhyNotStarted();
    }
    if (WaitForSingleObject(ready.get(), kWaitMs) != WAIT_OBJECT_0) {
        return testing::AssertionFailure()
               << "the child " << arguments[0] << " did not get ready within " << kWaitMs << " ms";
    }
    return testing::AssertionSuccess();
}

bool SignalReady(const std::string& readyName) {
    platform::UniqueEvent ready(OpenEventA(EVENT_MODIFY_STATE, FALSE, readyName.c_str()));
    return ready && SetEvent(ready.get());
}

// Verb "e2e-server": share, width, height, bytes per pixel, period in ms,
// first seed, lifetime in ms, pipe instances.
int ServerChild(const std::vector<std::string>& args) {
    if (args.size() != 8) {
        return 2;
    }
    const std::string& share = args[0];
    const FrameFormat format{std::stoi(args[1]), std::stoi(args[2]), std::stoi(args[3])};
    const DWORD period = static_cast<DWORD>(std::stoul(args[4]));
    uint32_t seed = static_cast<uint32_t>(std::stoul(args[5]));
    const DWORD lifetime = static_cast<DWORD>(std::stoul(args[6]));
    QuorvexServer* server = QuorvexServerCreate(share.c_str(), format.Bytes(), std::stoi(args[7]));
    if (server == nullptr) {
        return 3;
    }
    QuorvexServerSetDimensions(server, format.width, format.height, format.bytesPerPixel);
    if (!SignalReady(ReadyEventName(share))) {
        QuorvexServerDestroy(server);
        return 4;
    }
    // The library sends frames to every attached client, also to one whose
    // request for the dimensions is still unanswered, and a frame before the
    // dimensions ends the client's link. Streaming starts once a client has
    // had time to get them.
    QuorvexServerWaitForClients(server, 1, static_cast<int>(lifetime));
    Sleep(kDimensionsGraceMs);
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < lifetime) {
        const std::vector<uint8_t> frame = MakeFrame(format, seed++);
        QuorvexServerPublishFrame(server, frame.data(), format.Bytes());
        Sleep(period);
    }
    QuorvexServerDestroy(server);
    return 0;
}

// Verb "e2e-hold-mutex": mutex name, lifetime in ms. Ends without releasing
// the mutex, so that it is abandoned.
int MutexHolderChild(const std::vector<std::string>& args) {
    if (args.size() != 2) {
        return 2;
    }
    platform::UniqueMutex mutex(CreateMutexA(nullptr, FALSE, args[0].c_str()));
    if (!mutex) {
        return 3;
    }
    const DWORD taken = WaitForSingleObject(mutex.get(), kWaitMs);
    if (taken != WAIT_OBJECT_0 && taken != WAIT_ABANDONED) {
        return 4;
    }
    if (!SignalReady(ReadyEventName(args[0]))) {
        return 5;
    }
    Sleep(static_cast<DWORD>(std::stoul(args[1])));
    // The handle stays open and the mutex owned until the process ends.
    mutex.release();
    return 0;
}

const bool kServerVerb = testsupport::RegisterChildVerb("e2e-server", ServerChild);
const bool kMutexHolderVerb = testsupport::RegisterChildVerb("e2e-hold-mutex", MutexHolderChild);

}  // namespace

// ---- Server ----

Server::~Server() {
    Destroy();
}

testing::AssertionResult Server::Create(const std::string& shareName, int segmentBytes, int maxClients) {
    Destroy();
    server = QuorvexServerCreate(shareName.c_str(), segmentBytes, maxClients);
    if (server == nullptr) {
        return testing::AssertionFailure() << "QuorvexServerCreate(" << shareName << ", " << segmentBytes << ", "
                                           << maxClients << ") failed, error " << GetLastError();
    }
    return testing::AssertionSuccess();
}

void Server::Destroy() {
    QuorvexServerDestroy(server);
    server = nullptr;
}

int Server::SetDimensions(const FrameFormat& format) {
    return QuorvexServerSetDimensions(server, format.width, format.height, format.bytesPerPixel);
}

int Server::Publish(const std::vector<uint8_t>& frame) {
    return QuorvexServerPublishFrame(server, frame.data(), static_cast<int>(frame.size()));
}

int Server::SendHeader(int type, int param) {
    return QuorvexServerSendHeader(server, type, param);
}

int Server::Clients() {
    return QuorvexServerClientCount(server);
}

bool Server::WaitForClients(int count, DWORD milliseconds) {
    return QuorvexServerWaitForClients(server, count, static_cast<int>(milliseconds)) == 1;
}

bool Server::WaitForNoClients(DWORD milliseconds) {
    return WaitUntil([this] { return Clients() == 0; }, milliseconds);
}

// ---- Child processes ----

testing::AssertionResult StartServerProcess(platform::ChildProcess& child, const std::string& outputPath,
                                            const std::string& shareName, const FrameFormat& format, int periodMs,
                                            uint32_t firstSeed, int lifetimeMs, int instances) {
    return StartAndAwaitReady(
        child, outputPath, ReadyEventName(shareName),
        {"--child=e2e-server", shareName, std::to_string(format.width), std::to_string(format.height),
         std::to_string(format.bytesPerPixel), std::to_string(periodMs), std::to_string(firstSeed),
         std::to_string(lifetimeMs), std::to_string(instances)});
}

testing::AssertionResult StartMutexHolder(platform::ChildProcess& child, const std::string& outputPath,
                                          const std::string& mutexName, int lifetimeMs) {
    return StartAndAwaitReady(child, outputPath, ReadyEventName(mutexName),
                              {"--child=e2e-hold-mutex", mutexName, std::to_string(lifetimeMs)});
}

bool StillRunning(platform::ChildProcess& child) {
    int exitCode = 0;
    return child.IsRunning() && !child.Wait(0, exitCode);
}

}  // namespace e2e
