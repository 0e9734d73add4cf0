// The wire format between the driver and a camera server, shared by both and
// written nowhere else: the names of the server's objects, the most clients
// one server takes, and the two 12-byte messages that travel on its pipe.
// Every field is a 32-bit integer in little-endian order; both builds run on
// little-endian machines, so the records are written and read as they lie in
// memory.
#pragma once

#include <chrono>
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
    int32_t param;  // 0 in what the client sends; in ImageReady the frame's number (see FrameStamp)
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

// Frame numbers and capture times, an extension that a plain server and a
// plain client never see. A server that keeps it numbers its frames 1, 2,
// 3, ... (as unsigned 32-bit values, wrapping past 0xFFFFFFFF to 1; 0 is no
// number), puts the number in the param of the frame's ImageReady header,
// and writes a FrameStamp right after the frame's bytes in the segment (at
// width * height * bytesPerPixel, not aligned), under the mutex with the
// frame, so that a client reads both in the one hold. A number left out
// is a frame the server lost.
constexpr uint32_t kFrameStampMark = 0x5453584E;  // "NXST": the bytes 4E 58 53 54 in the segment
constexpr uint32_t kFrameStampVersion = 1;        // a later version only adds fields after these

struct FrameStamp {
    uint32_t mark;                // kFrameStampMark
    uint32_t version;             // kFrameStampVersion or later
    uint32_t number;              // the frame's number, as in its ImageReady
    uint32_t reserved;            // 0
    int64_t captureMicroseconds;  // StampClockMicroseconds() when the frame was captured
};

static_assert(sizeof(FrameStamp) == 24, "FrameStamp is 24 bytes");
static_assert(offsetof(FrameStamp, number) == 8, "FrameStamp layout");
static_assert(offsetof(FrameStamp, captureMicroseconds) == 16, "FrameStamp layout");

// The clock of capture times: the system's real-time clock in microseconds
// since 1970-01-01 00:00 UTC, which the host and the server read alike on
// one machine (and, with synchronized clocks, on two).
inline int64_t StampClockMicroseconds() {
    using std::chrono::duration_cast;
    using std::chrono::microseconds;
    return duration_cast<microseconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

// The number after `number`, skipping 0.
inline uint32_t NextFrameNumber(uint32_t number) {
    return number == UINT32_MAX ? 1 : number + 1;
}

// Whether `stamp`, found after the frame that an ImageReady with `param`
// announced, is that frame's: the mark is there, and its number is the
// header's or a later one (a server that published again before the client
// took the mutex). A plain server's param (mostly 0) or a stale block left in
// a taken-over segment fails the test.
inline bool StampAnnounced(const FrameStamp& stamp, int32_t param) {
    const auto announced = static_cast<uint32_t>(param);
    return stamp.mark == kFrameStampMark && stamp.version >= kFrameStampVersion && announced != 0 &&
           stamp.number != 0 && stamp.number - announced < 0x80000000u;
}
