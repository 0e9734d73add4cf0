// The storm's camera server: one thread per pipe instance reads what its
// client sends and answers dimension requests; the main thread publishes
// frames and, when hostile, does whatever a faulty server might.
#include "storm_server.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <random>
#include <vector>

#include "platform/critical_section.h"
#include "platform/unique_handle.h"
#include "platform/win32.h"
#include "storm_frame.h"
#include "support/child_process.h"
#include "wire/messages.h"

namespace storm {
namespace {

constexpr int kSlots = 6;
constexpr DWORD kPipeBufferBytes = 4096;
constexpr DWORD kReadyWaitMs = 10000;
// A client that does not take a message within this time is dropped.
constexpr DWORD kWriteWaitMs = 300;
// Every segment holds at least this many bytes, and every frame the server
// writes fits in it, whatever segment an earlier server left behind.
constexpr int kSmallestSegment = 64 * 1024;
constexpr int kLargestSegment = 1024 * 1024;
// Rows the host reads one call each inside its callback, which a close
// waits for: kept few enough for a slow (sanitized) build.
constexpr int kTallestFrame = 256;
constexpr Geometry kCalmGeometry{128, 48, 2};
constexpr DWORD kCalmPeriodMs = 10;
constexpr DWORD kCalmHoldMs = 3;

std::string ReadyName(const std::string& share) {
    return share + "StormReady";
}

platform::UniqueEvent ManualEvent(bool signalled = false) {
    return platform::UniqueEvent(CreateEventA(nullptr, TRUE, signalled, nullptr));
}

// One pipe instance and its client.
class Slot {
public:
    Slot(std::string pipePath, HANDLE quit) : path(std::move(pipePath)), quitEvent(quit) {}
    Slot(const Slot&) = delete;
    Slot& operator=(const Slot&) = delete;

    // The instance's thread: listens, serves one client, listens again.
    template <typename OnRequest>
    void Run(OnRequest onRequest, std::atomic<int>& listening) {
        while (WaitForSingleObject(quitEvent, 0) == WAIT_TIMEOUT) {
            platform::UniqueFile instance(CreateNamedPipeA(path.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                                           PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT,
                                                           PIPE_UNLIMITED_INSTANCES, kPipeBufferBytes, kPipeBufferBytes,
                                                           0, nullptr));
            if (!instance) {
                Sleep(50);
                continue;
            }
            ++listening;
            const bool attached = AwaitClient(instance.get());
            {
                platform::CriticalSectionLock guard(lock);
                pipe = std::move(instance);
                connected = attached;
                knowsDimensions = false;
                ResetEvent(dropEvent.get());
            }
            if (attached) {
                Serve(onRequest);
            }
            Close();
        }
    }

    // Sends one message; false when there is no client or it does not take
    // the message in time (then it is dropped).
    bool Send(const void* bytes, DWORD count) {
        platform::CriticalSectionLock guard(lock);
        return SendLocked(bytes, count);
    }

    bool SendDimensions(const Geometry& geometry) {
        const MessageHeader header{HeaderMagic, Dimensions, 0};
        const DimensionsBlock block{geometry.width, geometry.height, geometry.bytesPerPixel};
        platform::CriticalSectionLock guard(lock);
        knowsDimensions = SendLocked(&header, sizeof header) && SendLocked(&block, sizeof block);
        return knowsDimensions;
    }

    // Sends one message only if this slot's client has been sent the
    // dimensions. Asked and sent under one hold of the lock: asked apart,
    // the answer could be the last client's, and a client that took the
    // slot's new instance in between would be sent a frame before its
    // dimensions, and end its link.
    bool SendIfInformed(const void* bytes, DWORD count) {
        platform::CriticalSectionLock guard(lock);
        return knowsDimensions && SendLocked(bytes, count);
    }

    void Drop() { SetEvent(dropEvent.get()); }

private:
    bool AwaitClient(HANDLE instance) {
        connectOverlapped = OVERLAPPED{};
        connectOverlapped.hEvent = connectEvent.get();
        ResetEvent(connectEvent.get());
        if (ConnectNamedPipe(instance, &connectOverlapped)) {
            return true;
        }
        const DWORD error = GetLastError();
        if (error == ERROR_PIPE_CONNECTED) {
            return true;
        }
        if (error != ERROR_IO_PENDING) {
            return false;
        }
        const HANDLE handles[] = {connectEvent.get(), quitEvent};
        // On quit the caller's close of the instance ends the wait for a client.
        return WaitForMultipleObjects(2, handles, FALSE, INFINITE) == WAIT_OBJECT_0;
    }

    template <typename OnRequest>
    void Serve(OnRequest onRequest) {
        for (;;) {
            std::array<uint8_t, 64> message{};
            {
                platform::CriticalSectionLock guard(lock);
                readOverlapped = OVERLAPPED{};
                readOverlapped.hEvent = readEvent.get();
                readPending =
                    !ReadFile(pipe.get(), message.data(), static_cast<DWORD>(message.size()), nullptr, &readOverlapped);
                if (readPending && GetLastError() != ERROR_IO_PENDING) {
                    readPending = false;
                    if (GetLastError() != ERROR_MORE_DATA) {
                        return;
                    }
                }
            }
            const HANDLE handles[] = {readEvent.get(), quitEvent, dropEvent.get()};
            if (WaitForMultipleObjects(3, handles, FALSE, INFINITE) != WAIT_OBJECT_0) {
                return;
            }
            DWORD bytes = 0;
            if (!GetOverlappedResult(pipe.get(), &readOverlapped, &bytes, FALSE) && GetLastError() != ERROR_MORE_DATA) {
                return;
            }
            MessageHeader header{};
            std::copy_n(message.data(), sizeof header, reinterpret_cast<uint8_t*>(&header));
            if (bytes == sizeof header && header.type == Dimensions) {
                onRequest(*this);
            }
        }
    }

    // A write that does not end in time stays pending: its record is the
    // system's until the close of the instance ends it.
    bool SendLocked(const void* bytes, DWORD count) {
        if (!connected || writePending) {
            return false;
        }
        writeOverlapped = OVERLAPPED{};
        writeOverlapped.hEvent = writeEvent.get();
        if (WriteFile(pipe.get(), bytes, count, nullptr, &writeOverlapped)) {
            return true;
        }
        if (GetLastError() != ERROR_IO_PENDING) {
            return false;
        }
        if (WaitForSingleObject(writeEvent.get(), kWriteWaitMs) != WAIT_OBJECT_0) {
            writePending = true;
            connected = false;
            SetEvent(dropEvent.get());
            return false;
        }
        return true;
    }

    // Ends the connection; closing the instance ends its pending I/O.
    void Close() {
        platform::CriticalSectionLock guard(lock);
        connected = false;
        pipe.reset();
        if (readPending) {
            WaitForSingleObject(readEvent.get(), kWriteWaitMs);
        }
        if (writePending) {
            WaitForSingleObject(writeEvent.get(), kWriteWaitMs);
        }
        readPending = false;
        writePending = false;
    }

    const std::string path;
    const HANDLE quitEvent;
    platform::UniqueEvent readEvent{ManualEvent()};
    platform::UniqueEvent writeEvent{ManualEvent()};
    platform::UniqueEvent connectEvent{ManualEvent()};
    platform::UniqueEvent dropEvent{ManualEvent()};
    OVERLAPPED readOverlapped{};
    OVERLAPPED writeOverlapped{};
    OVERLAPPED connectOverlapped{};
    platform::CriticalSection lock;
    platform::UniqueFile pipe;     // guarded by lock
    bool connected = false;        // guarded by lock
    bool readPending = false;      // guarded by lock
    bool writePending = false;     // guarded by lock
    bool knowsDimensions = false;  // guarded by lock
};

// The segment and its mutex, as the server holds them.
class Segment {
public:
    bool Create(const std::string& share, int bytes) {
        view.reset();
        mapping.reset(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, static_cast<DWORD>(bytes),
                                         share.c_str()));
        if (!mapping) {
            return false;
        }
        // An older segment that a client still holds may come back: it is
        // at least kSmallestSegment long all the same.
        view.reset(MapViewOfFile(mapping.get(), FILE_MAP_ALL_ACCESS, 0, 0, 0));
        return static_cast<bool>(view);
    }

    uint8_t* Bytes() const { return static_cast<uint8_t*>(view.get()); }

private:
    platform::UniqueMapping mapping;
    platform::UniqueView view;
};

class Server;

// What a slot's thread needs: its slot, and the server that answers requests.
struct SlotStart {
    Server* server;
    Slot* slot;
};

class Server {
public:
    Server(std::string shareName, uint32_t seed, ServerMode serverMode)
        : share(std::move(shareName)), random(seed), mode(serverMode) {}

    int Run(DWORD lifetimeMs) {
        mutex.reset(CreateMutexA(nullptr, FALSE, (share + "Mutex").c_str()));
        if (!quit || !mutex || !segment.Create(share, SegmentSize())) {
            return 3;
        }
        for (int i = 0; i < kSlots; ++i) {
            slots.push_back(std::make_unique<Slot>("\\\\.\\pipe\\" + share, quit.get()));
        }
        std::vector<SlotStart> starts;
        for (auto& slot : slots) {
            starts.push_back(SlotStart{this, slot.get()});
        }
        std::vector<platform::UniqueThread> threads;
        for (auto& start : starts) {
            threads.emplace_back(CreateThread(nullptr, 0, &Server::static_Serve, &start, 0, nullptr));
        }
        Publish(0);
        const DWORD start = GetTickCount();
        while (listening < kSlots && GetTickCount() - start < kReadyWaitMs) {
            Sleep(1);
        }
        platform::UniqueEvent ready(OpenEventA(EVENT_MODIFY_STATE, FALSE, ReadyName(share).c_str()));
        if (!ready || !SetEvent(ready.get())) {
            return 4;
        }
        while (GetTickCount() - start < lifetimeMs) {
            if (mode == ServerMode::Calm) {
                Publish(kCalmHoldMs);
                Sleep(kCalmPeriodMs);
            } else {
                Storm();
            }
        }
        SetEvent(quit.get());
        for (auto& thread : threads) {
            WaitForSingleObject(thread.get(), INFINITE);
        }
        return 0;
    }

private:
    static DWORD WINAPI static_Serve(LPVOID parameter) {
        const SlotStart* start = static_cast<const SlotStart*>(parameter);
        Server* server = start->server;
        start->slot->Run([server](Slot& slot) { slot.SendDimensions(server->Current()); }, server->listening);
        return 0;
    }

    Geometry Current() {
        platform::CriticalSectionLock guard(geometryLock);
        return geometry;
    }

    void SetCurrent(const Geometry& next) {
        platform::CriticalSectionLock guard(geometryLock);
        geometry = next;
    }

    int Uniform(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); }
    bool Chance(int percent) { return Uniform(0, 99) < percent; }

    int SegmentSize() {
        return mode == ServerMode::Calm ? kSmallestSegment : Uniform(kSmallestSegment, kLargestSegment);
    }

    Geometry RandomGeometry() {
        static constexpr int kBytesPerPixel[] = {1, 2, 3, 4};
        Geometry next;
        next.bytesPerPixel = kBytesPerPixel[Uniform(0, 3)];
        next.width = Uniform((kStampBytes + next.bytesPerPixel - 1) / next.bytesPerPixel, 400);
        next.height = Uniform(1, std::min(kTallestFrame, kSmallestSegment / next.RowBytes()));
        return next;
    }

    Geometry AbsurdGeometry() {
        static constexpr Geometry kAbsurd[] = {{0, 0, 0},      {0, 100, 1},        {-16, 100, 1},     {100, -1, 1},
                                               {100, 100, -3}, {65536, 65536, 1},  {46341, 46341, 1}, {40, 40, 12},
                                               {64, 64, 16},   {4096, 4096, 4},    {2000, 2000, 3},   {1, 1, 1},
                                               {3, 1, 1},      {2147483647, 1, 1}, {1024, 1024, 1}};
        if (Chance(20)) {
            return Geometry{Uniform(-100000, 100000), Uniform(-100000, 100000), Uniform(-20, 20)};
        }
        return kAbsurd[Uniform(0, static_cast<int>(std::size(kAbsurd)) - 1)];
    }

    // Writes the next frame under the mutex, holding it `holdMs` longer,
    // and tells the clients that know the dimensions.
    void Publish(DWORD holdMs) {
        WaitForSingleObject(mutex.get(), INFINITE);
        if (segment.Bytes() != nullptr) {
            WriteFrame(segment.Bytes(), Current(), ++frameId);
        }
        Sleep(holdMs);
        ReleaseMutex(mutex.get());
        const MessageHeader header{HeaderMagic, ImageReady, 0};
        for (auto& slot : slots) {
            slot->SendIfInformed(&header, sizeof header);
        }
    }

    template <typename Which>
    void Broadcast(int type, Which which) {
        const MessageHeader header{HeaderMagic, type, 0};
        for (auto& slot : slots) {
            if (which(*slot)) {
                slot->Send(&header, sizeof header);
            }
        }
    }

    void AnnounceToAll(const Geometry& announced) {
        for (auto& slot : slots) {
            slot->SendDimensions(announced);
        }
    }

    Slot& AnySlot() { return *slots[static_cast<size_t>(Uniform(0, kSlots - 1))]; }

    // A message of 1 to 64 random bytes, or a header of a random type.
    void SendGarbage() {
        std::array<uint8_t, 64> bytes{};
        for (auto& byte : bytes) {
            byte = static_cast<uint8_t>(Uniform(0, 255));
        }
        const DWORD count = static_cast<DWORD>(Uniform(1, 64));
        if (Chance(50)) {
            const MessageHeader header{HeaderMagic, Chance(20) ? Dimensions : Uniform(-5, 9), Uniform(-9, 9)};
            std::copy_n(reinterpret_cast<const uint8_t*>(&header), sizeof header, bytes.begin());
        }
        AnySlot().Send(bytes.data(), Chance(50) ? static_cast<DWORD>(sizeof(MessageHeader)) : count);
    }

    void Storm() {
        const int action = Uniform(0, 999);
        if (action < 600) {
            Publish(Chance(10) ? static_cast<DWORD>(Uniform(1, 60)) : 0);
            Sleep(static_cast<DWORD>(Uniform(0, 8)));
        } else if (action < 700) {
            SetCurrent(RandomGeometry());
            AnnounceToAll(Current());
            Publish(0);
        } else if (action < 760) {
            const Geometry absurd = AbsurdGeometry();
            AnySlot().SendDimensions(absurd);
            if (Chance(70)) {
                Broadcast(ImageReady, [](Slot&) { return true; });
            }
            Sleep(static_cast<DWORD>(Uniform(0, 20)));
            AnnounceToAll(Current());
        } else if (action < 900) {
            SendGarbage();
        } else if (action < 930) {
            // A frame announced to every client, told or not.
            Broadcast(ImageReady, [](Slot&) { return true; });
        } else if (action < 950) {
            WaitForSingleObject(mutex.get(), INFINITE);
            Sleep(static_cast<DWORD>(Chance(10) ? Uniform(200, 1500) : Uniform(10, 100)));
            ReleaseMutex(mutex.get());
        } else if (action < 965) {
            segment.Create(share, SegmentSize());
            Publish(0);
        } else if (action < 980) {
            AnySlot().Drop();
        } else if (action < 990) {
            const MessageHeader stop{HeaderMagic, Stop, 0};
            AnySlot().Send(&stop, sizeof stop);
        } else if (action < 993) {
            // Whole frames only, so that what a client copies after the
            // abandoned mutex is still a frame of the server's.
            WaitForSingleObject(mutex.get(), INFINITE);
            if (segment.Bytes() != nullptr) {
                WriteFrame(segment.Bytes(), Current(), ++frameId);
            }
            std::_Exit(kDiedHoldingMutex);
        } else {
            Sleep(static_cast<DWORD>(Uniform(50, 400)));
        }
    }

    const std::string share;
    std::mt19937 random;
    const ServerMode mode;
    platform::UniqueEvent quit{ManualEvent()};
    platform::UniqueMutex mutex;
    Segment segment;
    std::vector<std::unique_ptr<Slot>> slots;
    std::atomic<int> listening{0};
    platform::CriticalSection geometryLock;
    Geometry geometry = kCalmGeometry;  // guarded by geometryLock
    uint32_t frameId = 0;
};

// Args: share, seed, mode ("calm" or "hostile"), lifetime in milliseconds.
int ServerChild(const std::vector<std::string>& args) {
    if (args.size() != 4) {
        return 2;
    }
    const ServerMode mode = args[2] == "calm" ? ServerMode::Calm : ServerMode::Hostile;
    Server server(args[0], static_cast<uint32_t>(std::stoul(args[1])), mode);
    return server.Run(static_cast<DWORD>(std::stoul(args[3])));
}

const bool kServerVerb = testsupport::RegisterChildVerb("storm-server", ServerChild);

}  // namespace

testing::AssertionResult ServerProcess::Start(const std::string& share, uint32_t seed, ServerMode mode,
                                              const std::string& outputPath) {
    platform::UniqueEvent ready(CreateEventA(nullptr, TRUE, FALSE, ReadyName(share).c_str()));
    if (!ready) {
        return testing::AssertionFailure() << "no ready event: " << GetLastError();
    }
    const std::vector<std::string> args{"--child=storm-server", share, std::to_string(seed),
                                        mode == ServerMode::Calm ? "calm" : "hostile", "3600000"};
    if (!child.Start(testsupport::SelfPath(), args, outputPath)) {
        return testing::AssertionFailure() << "cannot start the server";
    }
    if (WaitForSingleObject(ready.get(), kReadyWaitMs) != WAIT_OBJECT_0) {
        return testing::AssertionFailure() << "the server with seed " << seed << " did not get ready";
    }
    return testing::AssertionSuccess();
}

void ServerProcess::Kill() {
    child.Kill();
}

bool ServerProcess::Running() {
    return child.IsRunning();
}

}  // namespace storm
