// The C interface over CameraServer. No exception leaves it: a failure is
// a null server or a result of -1.
#include "quorvex_server.h"

#include <exception>
#include <memory>
#include <string>

#include "camera_server.h"
#include "platform/system_error.h"
#include "served_shares.h"

// The public name of the client maximum, for C hosts, and the wire format's
// own must not drift apart.
static_assert(QUORVEX_SERVER_MAX_CLIENTS == kMaxClients, "one client maximum");

struct QuorvexServer {
    // Released after the server's objects are.
    ServedShareClaim claim;
    std::unique_ptr<CameraServer> server;
};

namespace {

constexpr int kLongestRawMessage = 64;

// Why the thread's last QuorvexServerCreate failed: there is no server to
// keep the reason, and on POSIX the caller cannot read this library's own
// last-error code.
thread_local std::string createError;

QuorvexServer* RefuseCreate(const std::string& reason, DWORD code) {
    createError = reason;
    SetLastError(code);
    return nullptr;
}
constexpr DWORD kClientPollMs = 10;

template <typename Action>
int Guarded(QuorvexServer* server, Action action) {
    if (server == nullptr) {
        return -1;
    }
    try {
        return action(*server->server);
    } catch (const std::exception& error) {
        try {
            return server->server->Refuse(std::string("unexpected failure: ") + error.what());
        } catch (...) {
            return -1;
        }
    } catch (...) {
        return -1;
    }
}

}  // namespace

QuorvexServer* QUORVEX_SERVER_CALL QuorvexServerCreate(const char* shareName, int segmentBytes, int maxClients) {
    try {
        createError.clear();
        if (shareName == nullptr || shareName[0] == '\0') {
            return RefuseCreate("the share name is empty", ERROR_INVALID_PARAMETER);
        }
        if (segmentBytes <= 0) {
            return RefuseCreate("the segment size must be positive, not " + std::to_string(segmentBytes),
                                ERROR_INVALID_PARAMETER);
        }
        if (maxClients < 1 || maxClients > QUORVEX_SERVER_MAX_CLIENTS) {
            return RefuseCreate("maxClients must be 1 to " + std::to_string(QUORVEX_SERVER_MAX_CLIENTS) + ", not " +
                                    std::to_string(maxClients),
                                ERROR_INVALID_PARAMETER);
        }
        auto handle = std::make_unique<QuorvexServer>();
        const std::string share = std::string("the share \"") + shareName + "\"";
        if (!handle->claim.Claim(shareName)) {
            return RefuseCreate(share + " is already served by this process", ERROR_ALREADY_EXISTS);
        }
        CameraServer::Refusal refusal;
        auto server = CameraServer::Create(shareName, static_cast<DWORD>(segmentBytes), maxClients, refusal);
        if (!server) {
            std::string reason;
            switch (refusal.cause) {
            case CameraServer::Refusal::Cause::Taken:
                reason = share + " is already served by another process";
                break;
            case CameraServer::Refusal::Cause::OtherUser:
                reason = "the name \"" + refusal.objectName + "\" is held by another user";
                break;
            case CameraServer::Refusal::Cause::System:
                reason = "the system refused an object of " + share;
                break;
            }
            // A share served by another server reads as one whatever the
            // system said (a Windows pipe taken is access denied).
            return RefuseCreate(
                reason + " " + platform::SystemErrorNote(refusal.code),
                refusal.cause == CameraServer::Refusal::Cause::Taken ? ERROR_ALREADY_EXISTS : refusal.code);
        }
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
    return Guarded(server, [&](CameraServer& s) {
        return s.SetDimensions(DimensionsBlock{width, height, bytesPerPixel});
    });
}

int QUORVEX_SERVER_CALL QuorvexServerPublishFrame(QuorvexServer* server, const void* pixels, int byteCount) {
    return QuorvexServerPublishFrameAt(server, pixels, byteCount, 0);
}

int QUORVEX_SERVER_CALL QuorvexServerPublishFrameAt(QuorvexServer* server, const void* pixels, int byteCount,
                                                    long long captureMicroseconds) {
    return Guarded(server, [&](CameraServer& s) {
        if (byteCount < 0 || (pixels == nullptr && byteCount > 0)) {
            return s.Refuse(byteCount < 0 ? "the byte count is negative" : "the pixel pointer is null");
        }
        return s.PublishFrame(pixels, static_cast<DWORD>(byteCount), captureMicroseconds);
    });
}

int QUORVEX_SERVER_CALL QuorvexServerSkipFrames(QuorvexServer* server, int count) {
    return Guarded(server, [&](CameraServer& s) { return s.SkipFrames(count); });
}

long long QUORVEX_SERVER_CALL QuorvexServerClockMicroseconds(void) {
    return StampClockMicroseconds();
}

int QUORVEX_SERVER_CALL QuorvexServerSetChannelOrder(QuorvexServer* server, int order) {
    return Guarded(server, [&](CameraServer& s) { return s.SetChannelOrder(order); });
}

int QUORVEX_SERVER_CALL QuorvexServerSetAccess(QuorvexServer* server, int access) {
    return Guarded(server, [&](CameraServer& s) {
        if (access != QUORVEX_ACCESS_OWN_USER && access != QUORVEX_ACCESS_ALL_LOCAL_USERS) {
            return s.Refuse("unknown access " + std::to_string(access) +
                            ": use QUORVEX_ACCESS_OWN_USER or QUORVEX_ACCESS_ALL_LOCAL_USERS");
        }
        return s.SetAccess(access == QUORVEX_ACCESS_OWN_USER ? platform::ObjectAccess::OwnUser
                                                             : platform::ObjectAccess::AllLocalUsers);
    });
}

int QUORVEX_SERVER_CALL QuorvexServerPublishFrameEx(QuorvexServer* server, const void* pixels, int width, int height,
                                                    int strideBytes, int format) {
    return QuorvexServerPublishFrameExAt(server, pixels, width, height, strideBytes, format, 0);
}

int QUORVEX_SERVER_CALL QuorvexServerPublishFrameExAt(QuorvexServer* server, const void* pixels, int width, int height,
                                                      int strideBytes, int format, long long captureMicroseconds) {
    return Guarded(server, [&](CameraServer& s) {
        return s.PublishFrameEx(pixels, width, height, strideBytes, format, captureMicroseconds);
    });
}

const char* QUORVEX_SERVER_CALL QuorvexServerLastError(QuorvexServer* server) {
    return server == nullptr ? createError.c_str() : server->server->LastError();
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
        while (s.ReadyCount() < count) {
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
    return Guarded(server, [&](CameraServer& s) {
        if (bytes == nullptr || byteCount < 1 || byteCount > kLongestRawMessage) {
            return s.Refuse("a raw message is 1 to 64 bytes from a pointer that is not null");
        }
        return s.SendRaw(bytes, static_cast<DWORD>(byteCount));
    });
}

int QUORVEX_SERVER_CALL QuorvexServerDropClients(QuorvexServer* server) {
    return Guarded(server, [](CameraServer& s) { return s.DropClients(); });
}
