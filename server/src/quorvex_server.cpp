// The C interface over CameraServer. No exception leaves it: a failure is
// a null server or a result of -1.
#include "quorvex_server.h"

#include <memory>

#include "camera_server.h"

// The public name of the client maximum, for C hosts, and the wire format's
// own must not drift apart.
static_assert(QUORVEX_SERVER_MAX_CLIENTS == kMaxClients, "one client maximum");

struct QuorvexServer {
    std::unique_ptr<CameraServer> server;
};

namespace {

constexpr int kLongestRawMessage = 64;
constexpr DWORD kClientPollMs = 10;

template <typename Action>
int Guarded(QuorvexServer* server, Action action) {
    if (server == nullptr) {
        return -1;
    }
    try {
        return action(*server->server);
    } catch (...) {
        return -1;
    }
}

}  // namespace

QuorvexServer* QUORVEX_SERVER_CALL QuorvexServerCreate(const char* shareName, int segmentBytes, int maxClients) {
    if (shareName == nullptr || shareName[0] == '\0' || segmentBytes <= 0 || maxClients < 1 ||
        maxClients > QUORVEX_SERVER_MAX_CLIENTS) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    try {
        auto server = CameraServer::Create(shareName, static_cast<DWORD>(segmentBytes), maxClients);
        if (!server) {
            return nullptr;
        }
        auto handle = std::make_unique<QuorvexServer>();
        handle->server = std::move(server);
        return handle.release();
    } catch (...) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
}

void QUORVEX_SERVER_CALL QuorvexServerDestroy(QuorvexServer* server) {
    std::unique_ptr<QuorvexServer> owned(server);
}

int QUORVEX_SERVER_CALL QuorvexServerSetDimensions(QuorvexServer* server, int width, int height, int bytesPerPixel) {
    return Guarded(server, [&](CameraServer& s) { return s.SetDimensions(DimensionsBlock{width, height, bytesPerPixel}); });
}

int QUORVEX_SERVER_CALL QuorvexServerPublishFrame(QuorvexServer* server, const void* pixels, int byteCount) {
    if (byteCount < 0 || (pixels == nullptr && byteCount > 0)) {
        return -1;
    }
    return Guarded(server, [&](CameraServer& s) { return s.PublishFrame(pixels, static_cast<DWORD>(byteCount)); });
}

int QUORVEX_SERVER_CALL QuorvexServerSendStop(QuorvexServer* server) {
    return Guarded(server, [](CameraServer& s) { return s.SendHeader(Stop, 0); });
}

int QUORVEX_SERVER_CALL QuorvexServerClientCount(QuorvexServer* server) {
    return Guarded(server, [](CameraServer& s) { return s.ClientCount(); });
}

int QUORVEX_SERVER_CALL QuorvexServerWaitForClients(QuorvexServer* server, int count, int timeoutMs) {
    return Guarded(server, [&](CameraServer& s) {
        const DWORD start = GetTickCount();
        while (s.ClientCount() < count) {
            if (static_cast<int64_t>(GetTickCount() - start) >= timeoutMs) {
                return 0;
            }
            Sleep(kClientPollMs);
        }
        return 1;
    });
}

int QUORVEX_SERVER_CALL QuorvexServerSendHeader(QuorvexServer* server, int type, int param) {
    return Guarded(server, [&](CameraServer& s) { return s.SendHeader(type, param); });
}

int QUORVEX_SERVER_CALL QuorvexServerSendRaw(QuorvexServer* server, const void* bytes, int byteCount) {
    if (bytes == nullptr || byteCount < 1 || byteCount > kLongestRawMessage) {
        return -1;
    }
    return Guarded(server, [&](CameraServer& s) { return s.SendRaw(bytes, static_cast<DWORD>(byteCount)); });
}

int QUORVEX_SERVER_CALL QuorvexServerDropClients(QuorvexServer* server) {
    return Guarded(server, [](CameraServer& s) { return s.DropClients(); });
}
