// The camera server behind the library's C interface.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "client_pipe.h"
#include "pixel_layout.h"
#include "platform/critical_section.h"
#include "platform/object_security.h"
#include "platform/unique_handle.h"
#include "shared_frame.h"
#include "wire/messages.h"

// Owns the segment, the pipe instances and the service thread that accepts
// clients, answers their requests and listens again when they leave. Any
// thread may send; `lock_` orders the senders and the service thread, and
// keeps the two messages of a dimensions answer together. `publishLock_`
// keeps each frame's write, dimensions and announcement together, so that
// two publishing threads cannot announce each other's frames; it is taken
// before the segment's mutex, and that before `lock_`.
class CameraServer {
public:
    // Why Create made no server.
    struct Refusal {
        enum class Cause {
            System,     // the system refused an object
            Taken,      // another server serves the share
            OtherUser,  // the name is held by another user
        };
        Cause cause = Cause::System;
        std::string objectName;  // the object refused
        DWORD code = 0;          // the system's error code
    };

    CameraServer() = default;
    // Creates the objects for the creating user only; null when one is
    // refused, with `refusal` saying which and why.
    static std::unique_ptr<CameraServer> Create(const std::string& shareName, DWORD segmentBytes, int maxClients,
                                                Refusal& refusal);

    // Stops the service thread, which closes every instance on its way out.
    ~CameraServer();
    CameraServer(const CameraServer&) = delete;
    CameraServer& operator=(const CameraServer&) = delete;

    // Each returns the number of clients reached, or -1 when refused.
    int SetDimensions(const DimensionsBlock& dimensions);
    // Each frame takes the next number and is stamped with
    // `captureMicroseconds` (StampClockMicroseconds()'s clock), or with the
    // time it is published when that is 0 or less.
    int PublishFrame(const void* pixels, DWORD count, int64_t captureMicroseconds);
    // Converts a frame with a row stride into the segment, sending new
    // dimensions first when its size or bytes per pixel differ.
    int PublishFrameEx(const void* pixels, int width, int height, int strideBytes, int format,
                       int64_t captureMicroseconds);
    // Leaves the next `count` numbers unused, for frames the source lost.
    int SkipFrames(int count);
    // 0, or -1 for an unknown order.
    int SetChannelOrder(int order);
    // Who may open the segment, the mutex and every pipe instance, now and
    // later; 0, or -1 when refused.
    int SetAccess(platform::ObjectAccess access);
    int SendHeader(int32_t type, int32_t param);
    int SendRaw(const void* bytes, DWORD count);
    // Closes every instance and listens again; returns the clients dropped.
    int DropClients();

    int ClientCount();
    // The clients that can take a frame now: those that have been sent the
    // dimensions, or, before there are any, every attached client (the
    // first frame's dimensions reach them all before it).
    int ReadyCount();

    // Records why a call is refused and returns -1, the refusal's result.
    int Refuse(const std::string& reason);
    // The reason of the last refusal, "" before any; valid until the next
    // refusal.
    const char* LastError();

private:
    bool Start(const std::string& shareName, DWORD segmentBytes, int maxClients, Refusal& refusal);
    static DWORD WINAPI static_ServiceMain(LPVOID self);
    void ServiceMain();
    void ServeCompletedIo(ClientPipe& pipe);
    void CloseAll();
    void ReopenClosed();
    // Sends the dimensions to one client; 1 when both messages went out.
    int SendDimensions(ClientPipe& pipe);
    // With `lock_` held: stores the dimensions and sends them to every client.
    int SendDimensionsToAll(const DimensionsBlock& dimensions);
    // With `publishLock_` held: the next frame's number and stamp.
    FrameStamp NextStamp(int64_t captureMicroseconds);
    // With `lock_` held: the ImageReady of frame `number` to every client
    // that knows the dimensions.
    int AnnounceFrame(uint32_t number);

    std::string pipePath_;
    platform::ObjectSecurity security_;  // guarded by lock_ once serving
    DWORD maxClients_ = 0;
    SharedFrame frame_;
    platform::CriticalSection lock_;
    std::array<ClientPipe, kMaxClients> pipes_;
    DimensionsBlock dimensions_{};
    bool hasDimensions_ = false;
    platform::CriticalSection publishLock_;
    uint32_t frameNumber_ = 0;  // the last number given; guarded by publishLock_
    std::atomic<int> order_{static_cast<int>(pixels::Order::Rgb)};
    platform::CriticalSection errorLock_;
    std::string lastError_;

    // Wakes the service thread to quit or to drop every client; dropDone_
    // tells the caller of DropClients that it has.
    platform::UniqueEvent wake_;
    platform::UniqueEvent dropDone_;
    std::atomic<bool> quit_{false};
    std::atomic<bool> dropRequested_{false};
    int dropped_ = 0;
    platform::CriticalSection dropLock_;  // one DropClients at a time
    platform::UniqueThread thread_;
};
