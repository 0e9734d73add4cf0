// The wire format between the driver and a camera server, shared by both and
// written nowhere else: the names of the server's objects, the most clients
// one server takes, and the two 12-byte messages that travel on its pipe.
// Every field is a 32-bit integer in little-endian order; both builds run on
// little-endian machines, so the records are written and read as they lie in
// memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// A server for the share name S serves the pipe kPipePrefix + S, the shared
// segment S and the mutex S + kMutexSuffix that guards the frame bytes.
constexpr char kPipePrefix[] = "\\\\.\\pipe\\";
constexpr char kMutexSuffix[] = "Mutex";

inline std::string PipePath(const std::string& shareName) {
    return kPipePrefix + shareName;
}

inline std::string MutexName(const std::string& shareName) {
    return shareName + kMutexSuffix;
}

// The most clients (pipe instances) one server serves at once.
constexpr int kMaxClients = 8;

constexpr uint32_t HeaderMagic = 0x53484452;  // "RDHS": the bytes 52 44 48 53 on the pipe

enum MessageType : int32_t {
    Dimensions = 2,  // client: asks for the dimensions; server: a DimensionsBlock follows
    ImageReady = 3,  // server: a complete frame lies in the shared segment
    Stop = 4,        // server: the client ends its link
};

struct MessageHeader {
    uint32_t magic;
    int32_t type;   // a MessageType code
    int32_t param;  // 0 in what the client sends; never read by the client
};

// Sent by the server as its own message right after a Dimensions header.
struct DimensionsBlock {
    int32_t width;
    int32_t height;
    int32_t bytesPerPixel;
};

constexpr size_t kMessageSize = 12;

static_assert(sizeof(MessageHeader) == kMessageSize, "MessageHeader is one 12-byte message");
static_assert(offsetof(MessageHeader, magic) == 0, "MessageHeader layout");
static_assert(offsetof(MessageHeader, type) == 4, "MessageHeader layout");
static_assert(offsetof(MessageHeader, param) == 8, "MessageHeader layout");
static_assert(sizeof(DimensionsBlock) == kMessageSize, "DimensionsBlock is one 12-byte message");
static_assert(offsetof(DimensionsBlock, width) == 0, "DimensionsBlock layout");
static_assert(offsetof(DimensionsBlock, height) == 4, "DimensionsBlock layout");
static_assert(offsetof(DimensionsBlock, bytesPerPixel) == 8, "DimensionsBlock layout");
static_assert(sizeof(MessageType) == 4, "MessageType codes are 32-bit on the pipe");
