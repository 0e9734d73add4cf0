#include "server_support.h"

#include <sstream>

#include "exit_codes.h"
#include "platform/win32.h"

namespace tools {

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
    if (error == ERROR_ALREADY_EXISTS || error == ERROR_PIPE_BUSY) {
        console.Line("quorvex-server: the share \"" + share + "\" is already served by another process");
        exitCode = kExitShareInUse;
    } else {
        console.Line("quorvex-server: cannot serve the share \"" + share + "\": " + QuorvexServerLastError(nullptr));
        exitCode = kExitFailure;
    }
    return nullptr;
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
