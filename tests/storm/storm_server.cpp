// The storm's camera server: scripted pipe servers, one thread each, read
// what their clients send and answer dimension requests; the main thread publishes
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
#include "platform/process.h"
#include "platform/unique_handle.h"
#include "platform/win32.h"
#include "storm_frame.h"
#include "support/child_process.h"
#include "support/scripted_server.h"
#include "wire/messages.h"

namespace storm {
namespace {

constexpr int kSlots = 6;
constexpr DWORD kReadyWaitMs = 10000;
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

using testsupport::ScriptedServer;

// Pipe instances on one share, each serving one client at a time; a client
// that does not take a message within 300 ms is cut off.
const ScriptedServer::Options kSlotOptions{4096, PIPE_UNLIMITED_INSTANCES, 300};

std::string ReadyName(const std::string& share) {
    return share + "StormReady";
}

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

class Server {
public:
    Server(std::string shareName, uint32_t seed, ServerMode serverMode)
        : share(std::move(shareName)), random(seed), mode(serverMode) {}

    int Run(DWORD lifetimeMs) {
        mutex.reset(CreateMutexA(nullptr, FALSE, (share + "Mutex").c_str()));
        if (!mutex || !segment.Create(share, SegmentSize())) {
            return 3;
        }
        for (int i = 0; i < kSlots; ++i) {
            slots.push_back(std::make_unique<ScriptedServer>(share, kSlotOptions));
            if (!slots.back()->Serve([this](ScriptedServer& slot) { slot.SendDimensions(Block(Current())); })) {
                return 3;
            }
        }
        Publish(0);
        const DWORD start = GetTickCount();
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
        // The slots' threads end before what they use.
        slots.clear();
        return 0;
    }

private:
    static DimensionsBlock Block(const Geometry& geometry) {
        return DimensionsBlock{geometry.width, geometry.height, geometry.bytesPerPixel};
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
        for (auto& slot : slots) {
            slot->SendHeaderIfTold(ImageReady);
        }
    }

    template <typename Which>
    void Broadcast(int type, Which which) {
        for (auto& slot : slots) {
            if (which(*slot)) {
                slot->SendHeader(type);
            }
        }
    }

    void AnnounceToAll(const Geometry& announced) {
        for (auto& slot : slots) {
            slot->SendDimensions(Block(announced));
        }
    }

    ScriptedServer& AnySlot() { return *slots[static_cast<size_t>(Uniform(0, kSlots - 1))]; }

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
            AnySlot().SendDimensions(Block(absurd));
            if (Chance(70)) {
                Broadcast(ImageReady, [](ScriptedServer&) { return true; });
            }
            Sleep(static_cast<DWORD>(Uniform(0, 20)));
            AnnounceToAll(Current());
        } else if (action < 900) {
            SendGarbage();
        } else if (action < 930) {
            // A frame announced to every client, told or not.
            Broadcast(ImageReady, [](ScriptedServer&) { return true; });
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
            AnySlot().SendHeader(Stop);
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
    platform::UniqueMutex mutex;
    Segment segment;
    std::vector<std::unique_ptr<ScriptedServer>> slots;
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
    if (!child.Start(platform::ProgramPath(), args, outputPath)) {
        return testing::AssertionFailure() << "cannot start the server " << testsupport::WhyNotStarted();
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
