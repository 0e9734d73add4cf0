// The server child writes every frame into its segment under the named
// mutex, stamps it with the shared clock just before announcing it, and
// announces it twice over: first through the camera-server library to the
// driver, then, with no driver, as a bare 12-byte message on a pipe of its
// own, to a reader that takes the mutex and copies the frame once.
#include "delivery_bench.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <new>

#include "platform/clock.h"
#include "platform/process.h"
#include "platform/unique_handle.h"
#include "platform/win32.h"
#include "quorvex_server.h"
#include "wire/messages.h"

namespace bench {
namespace {

constexpr int kPort = 0;
constexpr const char* kCamera = "Camera 1";
constexpr int kRowsRead = 16;  // a set of rows that stays in the cache
// The floor is taken twice in a row, the two telling the noise.
constexpr int kFloorPasses = 2;
constexpr int kRowCallsPerBatch = 1000;
constexpr int kRowBatches = 31;  // per shift of the destinations

// The first bytes of every frame: its number and when it was announced.
struct Stamp {
    int64_t announcedNs;
    int32_t number;
    int32_t unused;
};
static_assert(sizeof(Stamp) == 16, "the stamp fills the first 16 bytes of a frame");

std::string FloorPipe(const std::string& share) {
    return "\\\\.\\pipe\\" + share + "Floor";
}

// The events by which host and server take turns; the host creates them.
struct Turns {
    platform::UniqueEvent ready;       // server: set up
    platform::UniqueEvent go;          // host: camera open, send frames
    platform::UniqueEvent consumed;    // host: the last latency frame was taken
    platform::UniqueEvent driverDone;  // host: every driver frame arrived
    platform::UniqueEvent floorDone;   // host: every floor frame arrived

    static std::string Name(const std::string& share, const char* purpose) { return share + purpose; }

    void Create(const std::string& share) {
        ready.reset(CreateEventA(nullptr, TRUE, FALSE, Name(share, "Ready").c_str()));
        go.reset(CreateEventA(nullptr, TRUE, FALSE, Name(share, "Go").c_str()));
        consumed.reset(CreateEventA(nullptr, FALSE, FALSE, Name(share, "Consumed").c_str()));
        driverDone.reset(CreateEventA(nullptr, TRUE, FALSE, Name(share, "DriverDone").c_str()));
        floorDone.reset(CreateEventA(nullptr, TRUE, FALSE, Name(share, "FloorDone").c_str()));
    }
    bool Open(const std::string& share) {
        ready.reset(OpenEventA(EVENT_MODIFY_STATE, FALSE, Name(share, "Ready").c_str()));
        go.reset(OpenEventA(SYNCHRONIZE, FALSE, Name(share, "Go").c_str()));
        consumed.reset(OpenEventA(SYNCHRONIZE, FALSE, Name(share, "Consumed").c_str()));
        driverDone.reset(OpenEventA(SYNCHRONIZE, FALSE, Name(share, "DriverDone").c_str()));
        floorDone.reset(OpenEventA(SYNCHRONIZE, FALSE, Name(share, "FloorDone").c_str()));
        return ready && go && consumed && driverDone && floorDone;
    }
};

bool Await(const platform::UniqueEvent& event) {
    return WaitForSingleObject(event.get(), kWaitMs) == WAIT_OBJECT_0;
}

// The segment's view and its mutex, as either side opens them.
struct SegmentAccess {
    platform::UniqueMapping mapping;
    platform::UniqueView view;
    platform::UniqueMutex mutex;

    bool Open(const std::string& share) {
        mapping.reset(OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, share.c_str()));
        view.reset(mapping ? MapViewOfFile(mapping.get(), FILE_MAP_ALL_ACCESS, 0, 0, 0) : nullptr);
        mutex.reset(CreateMutexA(nullptr, FALSE, (share + "Mutex").c_str()));
        return view && mutex;
    }
    uint8_t* Bytes() const { return static_cast<uint8_t*>(view.get()); }
};

// ---- The server child ----

class FrameWriter {
public:
    FrameWriter(const FrameCase& test, SegmentAccess& segment)
        : segment_(segment), pixels_(static_cast<size_t>(test.Bytes())) {
        for (size_t i = 0; i < pixels_.size(); ++i) {
            pixels_[i] = static_cast<uint8_t>(i * 7);
        }
    }
    void Write(int number) {
        WaitForSingleObject(segment_.mutex.get(), INFINITE);
        std::memcpy(segment_.Bytes(), pixels_.data(), pixels_.size());
        const Stamp stamp{platform::MonotonicNanoseconds(), number, 0};
        std::memcpy(segment_.Bytes(), &stamp, sizeof stamp);
        ReleaseMutex(segment_.mutex.get());
    }

private:
    SegmentAccess& segment_;
    std::vector<uint8_t> pixels_;
};

// Announces the latency frames one at a time, then the throughput frames
// back to back; false when the host stops answering.
template <typename Announce>
bool Serve(const FrameCase& test, const Turns& turns, Announce announce) {
    for (int number = 1; number <= test.latencyFrames; ++number) {
        if (!announce(number) || !Await(turns.consumed)) {
            return false;
        }
    }
    for (int number = 1; number <= test.throughputFrames; ++number) {
        if (!announce(test.latencyFrames + number)) {
            return false;
        }
    }
    return true;
}

// ---- The host ----

// What the complete callback records, on the camera's thread.
struct Delivery {
    host::DriverLibrary* driver = nullptr;
    std::vector<int64_t> latencyNs;  // sized before the run
    std::vector<int64_t> arrivalNs;
    std::atomic<int> count{0};
    int stampLast = 0;  // the last pixel of row 0 that the stamp needs
    HANDLE consumed = nullptr;
    int latencyFrames = 0;
    // Row reads timed inside the callback of the last frame, when set.
    std::function<void(int portNo)> inLastCallback;

    void Prepare(const FrameCase& test, HANDLE consumedEvent) {
        const int total = test.latencyFrames + test.throughputFrames;
        latencyNs.assign(static_cast<size_t>(total), 0);
        arrivalNs.assign(static_cast<size_t>(total), 0);
        count = 0;
        stampLast = (static_cast<int>(sizeof(Stamp)) + test.bytesPerPixel - 1) / test.bytesPerPixel - 1;
        consumed = consumedEvent;
        latencyFrames = test.latencyFrames;
    }
    // Records the frame whose stamp is in `head`, taken at `now`.
    void Record(const uint8_t* head, int64_t now) {
        Stamp stamp;
        std::memcpy(&stamp, head, sizeof stamp);
        const int index = count;
        if (index < static_cast<int>(latencyNs.size())) {
            latencyNs[static_cast<size_t>(index)] = now - stamp.announcedNs;
            arrivalNs[static_cast<size_t>(index)] = now;
        }
        ++count;
        if (index < latencyFrames) {
            SetEvent(consumed);
        }
    }
    PathFigures Figures(const FrameCase& test) const {
        std::vector<double> latencies;
        for (int i = 0; i < test.latencyFrames; ++i) {
            latencies.push_back(static_cast<double>(latencyNs[static_cast<size_t>(i)]) / 1000.0);
        }
        PathFigures figures;
        figures.p50Us = Percentile(latencies, 0.5);
        figures.p99Us = Percentile(latencies, 0.99);
        const int64_t first = arrivalNs[static_cast<size_t>(test.latencyFrames)];
        const int64_t last = arrivalNs[arrivalNs.size() - 1];
        figures.framesPerSecond =
            (test.throughputFrames - 1) * 1e9 / static_cast<double>(std::max<int64_t>(last - first, 1));
        return figures;
    }
};

Delivery delivery;

void QUORVEX_CALL OnFrame(int, int portNo) {
    const int64_t now = platform::MonotonicNanoseconds();
    uint8_t head[sizeof(Stamp) + 8];
    delivery.driver->getCVLGrabRow(0, portNo, head, 0, 0, delivery.stampLast);
    const bool last = delivery.count + 1 == static_cast<int>(delivery.latencyNs.size());
    if (last && delivery.inLastCallback) {
        delivery.inLastCallback(portNo);
    }
    delivery.Record(head, now);
}

// Fails only when no frame arrives for kWaitMs: a slow machine (wine, a
// busy one) may take longer than that for all of them.
bool WaitForCount(int count) {
    DWORD lastProgress = GetTickCount();
    int seen = delivery.count;
    while (seen < count) {
        Sleep(1);
        const int now = delivery.count;
        if (now != seen) {
            seen = now;
            lastProgress = GetTickCount();
        } else if (GetTickCount() - lastProgress > kWaitMs) {
            return false;
        }
    }
    return true;
}

// Nanoseconds per call of `measured` and of `reference`, each the tenth
// percentile over batches of calls: the batches that nothing else
// interrupted, on a machine that is busy with other work. The batches of the
// two alternate, so that what remains slows both alike.
struct CallPair {
    double measuredNs;
    double referenceNs;
};

template <typename Measured, typename Reference>
CallPair NsPerCall(Measured measured, Reference reference) {
    std::vector<double> measuredPerCall;
    std::vector<double> referencePerCall;
    const auto batch = [](auto& call, std::vector<double>& perCall) {
        const int64_t start = platform::MonotonicNanoseconds();
        for (int i = 0; i < kRowCallsPerBatch; ++i) {
            call(i % kRowsRead);
        }
        perCall.push_back(static_cast<double>(platform::MonotonicNanoseconds() - start) / kRowCallsPerBatch);
    };
    for (int i = 0; i < kRowBatches; ++i) {
        batch(measured, measuredPerCall);
        batch(reference, referencePerCall);
    }
    return CallPair{Percentile(measuredPerCall, 0.1), Percentile(referencePerCall, 0.1)};
}

// The rows a row timing reads and where each goes. A copy between buffers
// whose addresses differ by a multiple of 4096 plus a few bytes pays for 4 KiB
// aliasing (loads and earlier stores that agree in their low 12 bits) and
// runs at a third of its speed; the driver's block may stand anywhere in its
// page. So each row goes to a place of its own, and the timing is taken with
// the places shifted by a quarter page at a time, keeping for either copy
// its best shift: one at least is far from aliasing for both.
class RowTimer {
public:
    explicit RowTimer(const FrameCase& test)
        : rows_(std::min(kRowsRead, test.height)),
          rowBytes_(static_cast<size_t>(test.RowBytes())),
          source_(static_cast<size_t>(test.Bytes()), 1),
          targets_(static_cast<size_t>(rows_) * Slot() + kPage) {}

    // Nanoseconds per getCVLGrabRow of a whole row, beside a memcpy of the
    // same rows to the same places on the same thread.
    CallPair RowRead(host::DriverLibrary& driver, int port, int width) {
        // Through a pointer the compiler cannot see through, as the driver's
        // export is reached, so that no copy is optimised away.
        static void* (*volatile const copy)(void*, const void*, size_t) = std::memcpy;
        CallPair best{1e300, 1e300};
        for (size_t shift = 0; shift < kPage; shift += kPage / 4) {
            const CallPair pair = NsPerCall(
                [&](int row) { driver.getCVLGrabRow(0, port, Target(row % rows_, shift), row % rows_, 0, width - 1); },
                [&](int row) { copy(Target(row % rows_, shift), Source(row % rows_), rowBytes_); });
            best.measuredNs = std::min(best.measuredNs, pair.measuredNs);
            best.referenceNs = std::min(best.referenceNs, pair.referenceNs);
        }
        return best;
    }

private:
    static constexpr size_t kPage = 4096;
    size_t Slot() const { return (rowBytes_ + 2 * kPage - 1) / kPage * kPage; }
    const uint8_t* Source(int row) const { return source_.data() + rowBytes_ * static_cast<size_t>(row); }
    // The row's place: `shift` bytes after the row's source's offset in its
    // page, 64 bytes aligned.
    uint8_t* Target(int row, size_t shift) {
        const uintptr_t base = reinterpret_cast<uintptr_t>(targets_.data()) + Slot() * static_cast<size_t>(row);
        const uintptr_t wanted = (reinterpret_cast<uintptr_t>(Source(row)) + shift) % kPage / 64 * 64;
        return reinterpret_cast<uint8_t*>(base + (wanted + kPage - base % kPage) % kPage);
    }

    const int rows_;
    const size_t rowBytes_;
    std::vector<uint8_t> source_;
    std::vector<uint8_t> targets_;
};

bool RunDriverPath(host::DriverLibrary& driver, const FrameCase& test, const Turns& turns, DeliveryFigures& figures) {
    const int total = test.latencyFrames + test.throughputFrames;
    int dimensions[2] = {0, 0};
    if (driver.openCVLPort(0, kPort, kCamera, dimensions) != 1 || dimensions[0] != test.width) {
        std::fprintf(stderr, "%s: the camera did not connect\n", test.Name().c_str());
        return false;
    }
    RowTimer rows(test);
    delivery.inLastCallback = [&](int port) {
        const CallPair pair = rows.RowRead(driver, port, test.width);
        figures.rowInCallbackNs = pair.measuredNs;
        figures.rowCopyInCallbackNs = pair.referenceNs;
    };
    driver.setCompleteCallback(0, kPort, &OnFrame);
    SetEvent(turns.go.get());
    const bool delivered = WaitForCount(total);
    if (delivered) {
        figures.driver = delivery.Figures(test);
        const CallPair pair = rows.RowRead(driver, kPort, test.width);
        figures.rowOtherThreadNs = pair.measuredNs;
        figures.rowCopyNs = pair.referenceNs;
    } else {
        std::fprintf(stderr, "%s: %d of %d frames reached the driver's host\n", test.Name().c_str(),
                     delivery.count.load(), total);
    }
    driver.closeCVLPort(0, kPort);
    delivery.inLastCallback = nullptr;
    return delivered;
}

platform::UniqueFile ConnectFloorPipe(const std::string& share) {
    const DWORD start = GetTickCount();
    for (;;) {
        platform::UniqueFile pipe(CreateFileA(FloorPipe(share).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD mode = PIPE_READMODE_MESSAGE;
        if (pipe && SetNamedPipeHandleState(pipe.get(), &mode, nullptr, nullptr)) {
            return pipe;
        }
        if (GetTickCount() - start > kWaitMs) {
            return platform::UniqueFile();
        }
        Sleep(1);
    }
}

// A block that starts a page, filled with zeros. The cheapest copy of a
// frame goes from the page-aligned segment to such a block: between
// addresses a few bytes past a multiple of 4096 apart (where a large new[]
// lands) a copy runs at a third of its speed.
class PageBlock {
public:
    explicit PageBlock(size_t size)
        : bytes_(static_cast<uint8_t*>(::operator new[](size, std::align_val_t{kPage}))), size_(size) {
        std::memset(bytes_.get(), 0, size_);
    }
    uint8_t* data() { return bytes_.get(); }
    size_t size() const { return size_; }

private:
    static constexpr size_t kPage = 4096;
    struct Delete {
        void operator()(uint8_t* block) const { ::operator delete[](block, std::align_val_t{kPage}); }
    };
    std::unique_ptr<uint8_t[], Delete> bytes_;
    size_t size_;
};

// The floor: wake on the pipe, take the mutex, copy the frame once.
bool RunFloorPath(const std::string& share, const FrameCase& test, const Turns& turns, DeliveryFigures& figures) {
    SegmentAccess segment;
    const platform::UniqueFile pipe = ConnectFloorPipe(share);
    if (!segment.Open(share) || !pipe) {
        std::fprintf(stderr, "%s: the floor's pipe or segment did not open\n", test.Name().c_str());
        return false;
    }
    // Page-aligned, as the segment is (see PageBlock), and filled, so that
    // its pages are there before the first frame.
    PageBlock frame(static_cast<size_t>(test.Bytes()));
    const int total = test.latencyFrames + test.throughputFrames;
    PathFigures passes[kFloorPasses];
    SetEvent(turns.driverDone.get());
    for (PathFigures& pass : passes) {
        delivery.Prepare(test, turns.consumed.get());
        for (int i = 0; i < total; ++i) {
            MessageHeader header{};
            DWORD got = 0;
            if (!ReadFile(pipe.get(), &header, sizeof header, &got, nullptr) || got != sizeof header) {
                std::fprintf(stderr, "%s: the floor's pipe failed after %d frames\n", test.Name().c_str(), i);
                return false;
            }
            WaitForSingleObject(segment.mutex.get(), INFINITE);
            std::memcpy(frame.data(), segment.Bytes(), frame.size());
            ReleaseMutex(segment.mutex.get());
            delivery.Record(frame.data(), platform::MonotonicNanoseconds());
        }
        pass = delivery.Figures(test);
    }
    // The floor is the better pass; how far the two lie apart is the noise
    // of this machine now, within which a path may come below the floor.
    const PathFigures& first = passes[0];
    const PathFigures& second = passes[1];
    figures.floor.p50Us = std::min(first.p50Us, second.p50Us);
    figures.floor.p99Us = std::min(first.p99Us, second.p99Us);
    figures.floor.framesPerSecond = std::max(first.framesPerSecond, second.framesPerSecond);
    figures.floorNoise = std::abs(first.p50Us - second.p50Us) / std::max(figures.floor.p50Us, 1e-9);
    return true;
}

int CaseCounter() {
    static int counter = 0;
    return ++counter;
}

}  // namespace

std::string FrameCase::Name() const {
    return std::to_string(width) + "x" + std::to_string(height) + "x" + std::to_string(bytesPerPixel);
}

int DeliveryServerMain(const std::vector<std::string>& args) {
    if (args.size() != 6) {
        return 2;
    }
    const std::string& share = args[0];
    const FrameCase test{std::stoi(args[1]), std::stoi(args[2]), std::stoi(args[3]), std::stoi(args[4]),
                         std::stoi(args[5])};
    QuorvexServer* server = QuorvexServerCreate(share.c_str(), test.Bytes(), 1);
    if (server == nullptr) {
        return 3;
    }
    SegmentAccess segment;
    Turns turns;
    const platform::UniqueFile floorPipe(CreateNamedPipeA(FloorPipe(share).c_str(), PIPE_ACCESS_DUPLEX,
                                                          PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1,
                                                          4096, 4096, 0, nullptr));
    int result = 0;
    if (!segment.Open(share) || !turns.Open(share) || !floorPipe) {
        result = 4;
    } else {
        QuorvexServerSetDimensions(server, test.width, test.height, test.bytesPerPixel);
        SetEvent(turns.ready.get());
        FrameWriter writer(test, segment);
        const auto toDriver = [&](int number) {
            writer.Write(number);
            return QuorvexServerSendHeader(server, ImageReady, number) >= 0;
        };
        const auto toFloor = [&](int number) {
            writer.Write(number);
            const MessageHeader header{HeaderMagic, ImageReady, number};
            DWORD written = 0;
            return WriteFile(floorPipe.get(), &header, sizeof header, &written, nullptr) && written == sizeof header;
        };
        if (!Await(turns.go) || !Serve(test, turns, toDriver)) {
            result = 5;
        } else if (!Await(turns.driverDone) ||
                   (!ConnectNamedPipe(floorPipe.get(), nullptr) && GetLastError() != ERROR_PIPE_CONNECTED) ||
                   !Serve(test, turns, toFloor) || !Serve(test, turns, toFloor)) {
            result = 6;
        }
        // The host may still be reading what was announced.
        Await(turns.floorDone);
    }
    QuorvexServerDestroy(server);
    return result;
}

bool RunDelivery(HostDriver& host, const FrameCase& test, DeliveryFigures& figures) {
    const std::string share = "quorvex-bench-" + RunToken() + "-" + std::to_string(CaseCounter());
    std::string error;
    if (!host.WriteShare(kCamera, share, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return false;
    }
    Turns turns;
    turns.Create(share);
    delivery.driver = &host.Exports();
    delivery.Prepare(test, turns.consumed.get());

    platform::ChildProcess server;
    if (!server.Start(platform::ProgramPath(),
                      {"--delivery-server", share, std::to_string(test.width), std::to_string(test.height),
                       std::to_string(test.bytesPerPixel), std::to_string(test.latencyFrames),
                       std::to_string(test.throughputFrames)},
                      host.Folder() + "/server.out") ||
        !Await(turns.ready)) {
        std::fprintf(stderr, "%s: the server process did not start\n", test.Name().c_str());
        return false;
    }
    bool ok = RunDriverPath(host.Exports(), test, turns, figures) && RunFloorPath(share, test, turns, figures);
    SetEvent(turns.driverDone.get());
    SetEvent(turns.floorDone.get());
    int exitCode = -1;
    if (!server.Wait(kWaitMs, exitCode) || exitCode != 0) {
        std::fprintf(stderr, "%s: the server ended with %d\n", test.Name().c_str(), exitCode);
        ok = false;
    }
    return ok;
}

}  // namespace bench
