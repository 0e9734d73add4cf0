#include "server_support.h"

#include <chrono>
#include <sstream>
#include <thread>

#include "exit_codes.h"
#include "platform/console.h"
#include "platform/win32.h"

namespace tools {
namespace {

using Clock = std::chrono::steady_clock;

// Each wait asks the library for this long, then looks at Ctrl+C.
constexpr int kWaitSliceMs = 50;
// The most an ending server waits for its hosts to take the last frame.
constexpr auto kLeaveWait = std::chrono::seconds(5);
constexpr auto kLeavePoll = std::chrono::milliseconds(20);

}  // namespace

std::string Plural(int64_t count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

ServerPtr CreateServer(const std::string& share, int64_t segmentBytes, int clients, bool allowOtherUsers,
                       StatusConsole& console, int& exitCode) {
    if (segmentBytes > INT32_MAX) {
        console.Line("quorvex-server: the frames are larger than a share can hold");
        exitCode = kExitFailure;
        return nullptr;
    }
    SetLastError(ERROR_SUCCESS);
    ServerPtr server(QuorvexServerCreate(share.c_str(), static_cast<int>(segmentBytes), clients));
    if (server) {
        if (allowOtherUsers && QuorvexServerSetAccess(server.get(), QUORVEX_ACCESS_ALL_LOCAL_USERS) != 0) {
            console.Line(std::string("quorvex-server: --allow-other-users: ") + QuorvexServerLastError(server.get()));
            exitCode = kExitFailure;
            return nullptr;
        }
        return server;
    }
    // The library tells a share served by another server by these codes;
    // access denied is a name held by another user, said in its reason.
    const DWORD error = GetLastError();
    console.Line(std::string("quorvex-server: ") + QuorvexServerLastError(nullptr));
    exitCode = error == ERROR_ALREADY_EXISTS || error == ERROR_PIPE_BUSY ? kExitShareInUse : kExitFailure;
    return nullptr;
}

bool WaitForHosts(QuorvexServer* server, int count, int timeoutSeconds, StatusConsole& console) {
    if (count <= 0) {
        return true;
    }
    console.Line("quorvex-server: waiting for " + Plural(count, "host", "hosts") + " before the first frame");
    const auto giveUp = Clock::now() + std::chrono::seconds(timeoutSeconds);
    while (QuorvexServerWaitForClients(server, count, kWaitSliceMs) != 1) {
        if (platform::InterruptRequested()) {
            return true;
        }
        if (timeoutSeconds > 0 && Clock::now() >= giveUp) {
            console.Line("quorvex-server: " + Plural(count, "host", "hosts") + " did not come within " +
                         std::to_string(timeoutSeconds) + " s (--wait-timeout)");
            return false;
        }
    }
    return true;
}

void EndStream(QuorvexServer* server, StatusConsole& console) {
    const int reached = QuorvexServerSendStop(server);
    console.Line("quorvex-server: end of the frames; sent Stop to " + Plural(reached, "host", "hosts"));
    const auto giveUp = Clock::now() + kLeaveWait;
    while (QuorvexServerClientCount(server) > 0 && Clock::now() < giveUp && !platform::InterruptRequested()) {
        std::this_thread::sleep_for(kLeavePoll);
    }
}

double RateMeter::Update(int64_t count) {
    const auto now = std::chrono::steady_clock::now();
    const double seconds = std::chrono::duration<double>(now - since_).count();
    if (seconds >= 0.5) {
        rate_ = static_cast<double>(count - countThen_) / seconds;
        since_ = now;
        countThen_ = count;
    }
    return rate_;
}

std::string PublishedStatus(int64_t published, QuorvexServer* server, RateMeter& rate) {
    std::ostringstream text;
    text.setf(std::ios::fixed);
    text.precision(1);
    text << "published " << Plural(published, "frame", "frames") << ", "
         << Plural(QuorvexServerClientCount(server), "client", "clients") << " attached, " << rate.Update(published)
         << " fps";
    return text.str();
}

}  // namespace tools
