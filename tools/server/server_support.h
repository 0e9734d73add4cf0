// What quorvex-server's two ways of serving (the test pattern or image files,
// and a GenICam camera) share: the server object, its creation with the
// failure explained, and the status line.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "quorvex_server.h"
#include "status_console.h"

namespace tools {

struct ServerDestroyer {
    void operator()(QuorvexServer* server) const { QuorvexServerDestroy(server); }
};
using ServerPtr = std::unique_ptr<QuorvexServer, ServerDestroyer>;

// "1 frame", "2 frames".
std::string Plural(int64_t count, const char* one, const char* many);

// Creates the server of `share`. On failure it says why on `console` and
// sets `exitCode` (kExitShareInUse when another process serves the share).
ServerPtr CreateServer(const std::string& share, int64_t segmentBytes, int clients, bool allowOtherUsers,
                       StatusConsole& console, int& exitCode);

// Waits until `count` hosts can take a frame (none: at once), for at most
// `timeoutSeconds` (0: no limit), ending early on Ctrl+C. False, having said
// why, when they did not come in time; true otherwise.
bool WaitForHosts(QuorvexServer* server, int count, int timeoutSeconds, StatusConsole& console);

// Ends a finite stream once its last frame is out: sends Stop, so that each
// host knows the stream ended rather than stalled, and waits a bounded time
// for the hosts to let go, which a driver does once it has taken the last
// frame and read the Stop behind it.
void EndStream(QuorvexServer* server, StatusConsole& console);

// Frames per second over the last stretch of a few hundred milliseconds.
// Used by one thread.
class RateMeter {
public:
    double Update(int64_t count);

private:
    std::chrono::steady_clock::time_point since_ = std::chrono::steady_clock::now();
    int64_t countThen_ = 0;
    double rate_ = 0;
};

// "published N frames, M clients attached, R fps".
std::string PublishedStatus(int64_t published, QuorvexServer* server, RateMeter& rate);

}  // namespace tools
