#include <algorithm>
#include <array>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "host_e2e.h"
#include "support/child_process.h"

namespace e2e {
namespace {

// Pipe buffers of the pipe-only server: room for hundreds of messages.
constexpr DWORD kPipeBufferBytes = 4096;
// How long a child server waits after its first client attached before it
// streams: ample for the client's request and its answer.
constexpr DWORD kDimensionsGraceMs = 250;

uint8_t PatternByte(uint32_t seed, int row, size_t offset) {
    const uint32_t mixed = seed * 2654435761u ^ static_cast<uint32_t>(row) * 40503u ^ static_cast<uint32_t>(offset) * 97u;
    return static_cast<uint8_t>(mixed ^ mixed >> 8 ^ mixed >> 16);
}

void PutLittleEndian(uint8_t* at, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        at[i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

uint32_t GetLittleEndian(const uint8_t* at) {
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i) {
        value = value << 8 | at[i];
    }
    return value;
}

std::array<PortRecord, kPortCount>& Ports() {
    static std::array<PortRecord, kPortCount> ports;
    return ports;
}

std::string ReadyEventName(const std::string& base) {
    return base + "Ready";
}

// Starts `child` with `arguments` and waits until it sets the named event
// `readyName`, which exists before the child starts.
testing::AssertionResult StartAndAwaitReady(platform::ChildProcess& child, const std::string& outputPath,
                                            const std::string& readyName, const std::vector<std::string>& arguments) {
    platform::UniqueEvent ready(CreateEventA(nullptr, TRUE, FALSE, readyName.c_str()));
    if (!ready) {
        return testing::AssertionFailure() << "cannot create the event " << readyName << ", error " << GetLastError();
    }
    if (!child.Start(testsupport::SelfPath(), arguments, outputPath)) {
        return testing::AssertionFailure() << "cannot start " << testsupport::SelfPath() << " " << arguments[0];
    }
    if (WaitForSingleObject(ready.get(), kWaitMs) != WAIT_OBJECT_0) {
        return testing::AssertionFailure() << "the child " << arguments[0] << " did not get ready within " << kWaitMs
                                           << " ms";
    }
    return testing::AssertionSuccess();
}

bool SignalReady(const std::string& readyName) {
    platform::UniqueEvent ready(OpenEventA(EVENT_MODIFY_STATE, FALSE, readyName.c_str()));
    return ready && SetEvent(ready.get());
}

// Verb "e2e-server": share, width, height, bytes per pixel, period in ms,
// first seed, lifetime in ms.
int ServerChild(const std::vector<std::string>& args) {
    if (args.size() != 7) {
        return 2;
    }
    const std::string& share = args[0];
    const FrameFormat format{std::stoi(args[1]), std::stoi(args[2]), std::stoi(args[3])};
    const DWORD period = static_cast<DWORD>(std::stoul(args[4]));
    uint32_t seed = static_cast<uint32_t>(std::stoul(args[5]));
    const DWORD lifetime = static_cast<DWORD>(std::stoul(args[6]));
    QuorvexServer* server = QuorvexServerCreate(share.c_str(), format.Bytes(), QUORVEX_SERVER_MAX_CLIENTS);
    if (server == nullptr) {
        return 3;
    }
    QuorvexServerSetDimensions(server, format.width, format.height, format.bytesPerPixel);
    if (!SignalReady(ReadyEventName(share))) {
        QuorvexServerDestroy(server);
        return 4;
    }
    // The library sends frames to every attached client, also to one whose
    // request for the dimensions is still unanswered, and a frame before the
    // dimensions ends the client's link. Streaming starts once a client has
    // had time to get them.
    QuorvexServerWaitForClients(server, 1, static_cast<int>(lifetime));
    Sleep(kDimensionsGraceMs);
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < lifetime) {
        const std::vector<uint8_t> frame = MakeFrame(format, seed++);
        QuorvexServerPublishFrame(server, frame.data(), format.Bytes());
        Sleep(period);
    }
    QuorvexServerDestroy(server);
    return 0;
}

// Verb "e2e-hold-mutex": mutex name, lifetime in ms. Ends without releasing
// the mutex, so that it is abandoned.
int MutexHolderChild(const std::vector<std::string>& args) {
    if (args.size() != 2) {
        return 2;
    }
    platform::UniqueMutex mutex(CreateMutexA(nullptr, FALSE, args[0].c_str()));
    if (!mutex) {
        return 3;
    }
    const DWORD taken = WaitForSingleObject(mutex.get(), kWaitMs);
    if (taken != WAIT_OBJECT_0 && taken != WAIT_ABANDONED) {
        return 4;
    }
    if (!SignalReady(ReadyEventName(args[0]))) {
        return 5;
    }
    Sleep(static_cast<DWORD>(std::stoul(args[1])));
    // The handle stays open and the mutex owned until the process ends.
    mutex.release();
    return 0;
}

const bool kServerVerb = testsupport::RegisterChildVerb("e2e-server", ServerChild);
const bool kMutexHolderVerb = testsupport::RegisterChildVerb("e2e-hold-mutex", MutexHolderChild);

}  // namespace

std::string Format(const char* format, ...) {
    char text[1024];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    return text;
}

std::string ShareName() {
    return hosttest::UniqueName("qv-e2e-");
}

std::string ConnectionLine(const char* camera, int port, bool connected, const std::string& shareName) {
    return Format("Camera '%s' on port %d %s share '%s'\n", camera, port, connected ? "connected to" : "disconnected from",
                  shareName.c_str());
}

// ---- Frames ----

std::vector<uint8_t> MakeFrame(const FrameFormat& format, uint32_t seed) {
    const size_t rowBytes = static_cast<size_t>(format.RowBytes());
    std::vector<uint8_t> frame(rowBytes * static_cast<size_t>(format.height));
    if (rowBytes < kRowStampBytes) {
        ADD_FAILURE() << "rows of " << rowBytes << " bytes cannot hold their stamp";
        return frame;
    }
    for (int row = 0; row < format.height; ++row) {
        uint8_t* line = frame.data() + rowBytes * static_cast<size_t>(row);
        PutLittleEndian(line, seed);
        PutLittleEndian(line + 4, static_cast<uint32_t>(row));
        for (size_t offset = kRowStampBytes; offset < rowBytes; ++offset) {
            line[offset] = PatternByte(seed, row, offset);
        }
    }
    return frame;
}

testing::AssertionResult CheckRow(const uint8_t* bytes, size_t count, int row, uint32_t& seed) {
    if (count < kRowStampBytes) {
        return testing::AssertionFailure() << "a row of " << count << " bytes has no stamp";
    }
    seed = GetLittleEndian(bytes);
    const uint32_t stampedRow = GetLittleEndian(bytes + 4);
    if (stampedRow != static_cast<uint32_t>(row)) {
        return testing::AssertionFailure() << "row " << row << " holds the bytes of row " << stampedRow << " (seed "
                                           << seed << ")";
    }
    for (size_t offset = kRowStampBytes; offset < count; ++offset) {
        if (bytes[offset] != PatternByte(seed, row, offset)) {
            return testing::AssertionFailure() << "row " << row << " of frame " << seed << " differs at byte " << offset
                                               << ": mixed from two frames or overwritten";
        }
    }
    return testing::AssertionSuccess();
}

// ---- Server ----

Server::~Server() {
    Destroy();
}

testing::AssertionResult Server::Create(const std::string& shareName, int segmentBytes, int maxClients) {
    Destroy();
    server = QuorvexServerCreate(shareName.c_str(), segmentBytes, maxClients);
    if (server == nullptr) {
        return testing::AssertionFailure() << "QuorvexServerCreate(" << shareName << ", " << segmentBytes << ", "
                                           << maxClients << ") failed, error " << GetLastError();
    }
    return testing::AssertionSuccess();
}

void Server::Destroy() {
    QuorvexServerDestroy(server);
    server = nullptr;
}

int Server::SetDimensions(const FrameFormat& format) {
    return QuorvexServerSetDimensions(server, format.width, format.height, format.bytesPerPixel);
}

int Server::Publish(const std::vector<uint8_t>& frame) {
    return QuorvexServerPublishFrame(server, frame.data(), static_cast<int>(frame.size()));
}

int Server::SendHeader(int type, int param) {
    return QuorvexServerSendHeader(server, type, param);
}

int Server::Clients() {
    return QuorvexServerClientCount(server);
}

bool Server::WaitForClients(int count, DWORD milliseconds) {
    return QuorvexServerWaitForClients(server, count, static_cast<int>(milliseconds)) == 1;
}

bool Server::WaitForNoClients(DWORD milliseconds) {
    return WaitUntil([this] { return Clients() == 0; }, milliseconds);
}

// ---- PipeOnlyServer ----

PipeOnlyServer::~PipeOnlyServer() {
    if (thread) {
        SetEvent(quit.get());
        WaitForSingleObject(thread.get(), INFINITE);
    }
    // Closing the instance ends any I/O still pending on the records below.
    pipe.reset();
}

testing::AssertionResult PipeOnlyServer::Start(const std::string& shareName, const DimensionsBlock& dimensions) {
    path = "\\\\.\\pipe\\" + shareName;
    answer = dimensions;
    pipe.reset(CreateNamedPipeA(path.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
                                PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, kPipeBufferBytes,
                                kPipeBufferBytes, 0, nullptr));
    quit.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    ioEvent.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    writeEvent.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!pipe || !quit || !ioEvent || !writeEvent) {
        return testing::AssertionFailure() << "cannot create the pipe " << path << ", error " << GetLastError();
    }
    thread.reset(CreateThread(nullptr, 0, &PipeOnlyServer::static_Serve, this, 0, nullptr));
    if (!thread) {
        return testing::AssertionFailure() << "cannot start the pipe-only server's thread";
    }
    return testing::AssertionSuccess();
}

DWORD WINAPI PipeOnlyServer::static_Serve(LPVOID self) {
    static_cast<PipeOnlyServer*>(self)->Serve();
    return 0;
}

bool PipeOnlyServer::Finish(OVERLAPPED& overlapped, DWORD& bytes) {
    const HANDLE handles[2] = {overlapped.hEvent, quit.get()};
    if (WaitForMultipleObjects(2, handles, FALSE, INFINITE) != WAIT_OBJECT_0) {
        return false;
    }
    return GetOverlappedResult(pipe.get(), &overlapped, &bytes, FALSE) != FALSE;
}

void PipeOnlyServer::Serve() {
    while (WaitForSingleObject(quit.get(), 0) == WAIT_TIMEOUT) {
        ioOverlapped = OVERLAPPED{};
        ioOverlapped.hEvent = ioEvent.get();
        DWORD bytes = 0;
        if (!ConnectNamedPipe(pipe.get(), &ioOverlapped)) {
            const DWORD error = GetLastError();
            if (error == ERROR_IO_PENDING) {
                if (!Finish(ioOverlapped, bytes)) {
                    return;
                }
            } else if (error != ERROR_PIPE_CONNECTED) {
                return;
            }
        }
        ++connections;
        attached = true;
        for (;;) {
            ioOverlapped = OVERLAPPED{};
            ioOverlapped.hEvent = ioEvent.get();
            if (!ReadFile(pipe.get(), &incoming, sizeof incoming, nullptr, &ioOverlapped) &&
                GetLastError() != ERROR_IO_PENDING) {
                break;
            }
            if (!Finish(ioOverlapped, bytes)) {
                break;
            }
            if (bytes == sizeof incoming && incoming.type == Dimensions) {
                ++requests;
                Answer();
            } else {
                ++otherMessages;
            }
        }
        platform::CriticalSectionLock hold(writeLock);
        attached = false;
        DisconnectNamedPipe(pipe.get());
    }
}

void PipeOnlyServer::Answer() {
    if (answer.width == 0) {
        return;
    }
    SendHeader(Dimensions);
    Send(&answer, sizeof answer);
}

bool PipeOnlyServer::Send(const void* bytes, DWORD count) {
    platform::CriticalSectionLock hold(writeLock);
    if (!attached) {
        return false;
    }
    writeOverlapped = OVERLAPPED{};
    writeOverlapped.hEvent = writeEvent.get();
    const bool started =
        WriteFile(pipe.get(), bytes, count, nullptr, &writeOverlapped) != FALSE || GetLastError() == ERROR_IO_PENDING;
    DWORD written = 0;
    if (started && WaitForSingleObject(writeEvent.get(), kWaitMs) == WAIT_OBJECT_0 &&
        GetOverlappedResult(pipe.get(), &writeOverlapped, &written, FALSE) && written == count) {
        return true;
    }
    // A client that takes nothing: cut it off, which also ends the write.
    DisconnectNamedPipe(pipe.get());
    if (started) {
        GetOverlappedResult(pipe.get(), &writeOverlapped, &written, TRUE);
    }
    return false;
}

bool PipeOnlyServer::SendHeader(int type, int param) {
    const MessageHeader header{HeaderMagic, type, param};
    return Send(&header, sizeof header);
}

// ---- Child processes ----

testing::AssertionResult StartServerProcess(platform::ChildProcess& child, const std::string& outputPath,
                                            const std::string& shareName, const FrameFormat& format, int periodMs,
                                            uint32_t firstSeed, int lifetimeMs) {
    return StartAndAwaitReady(child, outputPath, ReadyEventName(shareName),
                              {"--child=e2e-server", shareName, std::to_string(format.width),
                               std::to_string(format.height), std::to_string(format.bytesPerPixel),
                               std::to_string(periodMs), std::to_string(firstSeed), std::to_string(lifetimeMs)});
}

testing::AssertionResult StartMutexHolder(platform::ChildProcess& child, const std::string& outputPath,
                                          const std::string& mutexName, int lifetimeMs) {
    return StartAndAwaitReady(child, outputPath, ReadyEventName(mutexName),
                              {"--child=e2e-hold-mutex", mutexName, std::to_string(lifetimeMs)});
}

bool StillRunning(platform::ChildProcess& child) {
    int exitCode = 0;
    return child.IsRunning() && !child.Wait(0, exitCode);
}

// ---- The host's callbacks ----

void PortRecord::Clear() {
    frames = 0;
    resets = 0;
    strangeCalls = 0;
    action = static_cast<int>(OnFrame::Count);
    goodFrames = 0;
    badFrames = 0;
    lastSeed = 0;
    lastWidth = 0;
    closedInside = 0;
    callbackThread = 0;
}

PortRecord& Port(int port) {
    return Ports().at(static_cast<size_t>(port));
}

namespace {

// A host reads the frame it was told of: the geometry through getProperty,
// then every row. The frame is good when every row is whole and all rows
// come from one frame.
void ReadFrameInCallback(int port, PortRecord& record) {
    const hosttest::DriverExports& driver = hosttest::HostLibrary::Get().Exports();
    int width = 0;
    int height = 0;
    int bitsPerPixel = 0;
    bool good = driver.getProperty(0, port, "Width", &width) == 1 && driver.getProperty(0, port, "Height", &height) == 1 &&
                driver.getProperty(0, port, "PixelSize", &bitsPerPixel) == 1 && width > 0 && height > 0;
    const size_t rowBytes = static_cast<size_t>(width) * static_cast<size_t>(bitsPerPixel / 8);
    std::vector<uint8_t> line(good ? rowBytes : 0);
    uint32_t frameSeed = 0;
    for (int row = 0; good && row < height; ++row) {
        uint32_t seed = 0;
        good = driver.getCVLGrabRow(0, port, line.data(), row, 0, width - 1) == 1 &&
               CheckRow(line.data(), rowBytes, row, seed) && (row == 0 || seed == frameSeed);
        frameSeed = seed;
    }
    record.lastSeed = frameSeed;
    record.lastWidth = width;
    ++(good ? record.goodFrames : record.badFrames);
}

}  // namespace

void QUORVEX_CALL OnComplete(int grabberNo, int portNo) {
    PortRecord& record = Port(portNo);
    record.callbackThread = GetCurrentThreadId();
    if (grabberNo != 0) {
        ++record.strangeCalls;
    }
    switch (static_cast<OnFrame>(record.action.load())) {
    case OnFrame::Count:
        break;
    case OnFrame::ReadRows:
        ReadFrameInCallback(portNo, record);
        break;
    case OnFrame::ClosePort:
        hosttest::HostLibrary::Get().Exports().closeCVLPort(0, portNo);
        ++record.closedInside;
        break;
    }
    ++record.frames;
}

void QUORVEX_CALL OnCommand(int grabberNo, int portNo, const char* command, const char* argument) {
    PortRecord& record = Port(portNo);
    if (grabberNo == 0 && command != nullptr && argument != nullptr && std::strcmp(command, "Reset") == 0 &&
        argument[0] == '\0') {
        ++record.resets;
    } else {
        ++record.strangeCalls;
    }
}

// ---- The fixture ----

void E2ETest::SetUp() {
    HostTest::SetUp();
    for (PortRecord& record : Ports()) {
        record.Clear();
    }
    ASSERT_EQ(1, Initialize());
}

void E2ETest::TearDown() {
    for (const int port : openPorts) {
        driver.closeCVLPort(0, port);
    }
    openPorts.clear();
    for (int port = 0; port < kPortCount; ++port) {
        EXPECT_EQ(0, Port(port).strangeCalls.load()) << "port " << port << " had callbacks with unexpected arguments";
    }
    HostTest::TearDown();
}

testing::AssertionResult E2ETest::StartStreaming(Server& server, const std::string& share, const FrameFormat& format,
                                                 const char* camera, int port, int logLevel) {
    if (!server.Create(share, format.Bytes())) {
        return testing::AssertionFailure() << "no server on " << share;
    }
    server.SetDimensions(format);
    int dimensions[2];
    testing::AssertionResult opened = OpenCamera(camera, port, share, logLevel, kLongTimeout, dimensions);
    if (!opened) {
        return opened;
    }
    return DeliverAndReadBack(server, port, format, 1);
}

testing::AssertionResult E2ETest::OpenCamera(const char* camera, int port, const std::string& shareName,
                                             int logLevel, int connectionTimeout, int* dimensions,
                                             bool setCallbacks) {
    WriteSection(camera, hosttest::CameraSection{shareName, logLevel, connectionTimeout});
    dimensions[0] = hosttest::kPoison;
    dimensions[1] = hosttest::kPoison;
    if (driver.openCVLPort(0, port, camera, dimensions) != 1) {
        return testing::AssertionFailure() << "openCVLPort(" << camera << ", port " << port << ") failed\n" << Dump();
    }
    openPorts.push_back(port);
    if (setCallbacks && (driver.setCmdCallback(0, port, &OnCommand) != 1 ||
                         driver.setCompleteCallback(0, port, &OnComplete) != 1)) {
        return testing::AssertionFailure() << "cannot set the callbacks of port " << port;
    }
    return testing::AssertionSuccess();
}

void E2ETest::CloseCamera(int port) {
    driver.closeCVLPort(0, port);
    openPorts.erase(std::remove(openPorts.begin(), openPorts.end(), port), openPorts.end());
}

std::string E2ETest::ChildOutput(const std::string& name) const {
    return systemDir.Path() + platform::kPathSeparator + name + ".out";
}

testing::AssertionResult E2ETest::WaitForFrames(int port, int count, DWORD milliseconds) {
    if (!WaitUntil([&] { return Port(port).frames >= count; }, milliseconds)) {
        return testing::AssertionFailure() << "port " << port << " received " << Port(port).frames << " frames, not "
                                           << count << ", within " << milliseconds << " ms\n"
                                           << Dump();
    }
    return testing::AssertionSuccess();
}

testing::AssertionResult E2ETest::DeliverAndReadBack(Server& server, int port, const FrameFormat& format,
                                                     uint32_t seed) {
    const int before = Port(port).frames;
    const std::vector<uint8_t> frame = MakeFrame(format, seed);
    if (server.Publish(frame) < 1) {
        return testing::AssertionFailure() << "the server reached no client with frame " << seed;
    }
    testing::AssertionResult arrived = WaitForFrames(port, before + 1);
    if (!arrived) {
        return arrived;
    }
    const size_t rowBytes = static_cast<size_t>(format.RowBytes());
    constexpr uint8_t kMarker = 0xA5;
    constexpr size_t kGuardBytes = 16;
    for (int row = 0; row < format.height; ++row) {
        std::vector<uint8_t> line(rowBytes + kGuardBytes, kMarker);
        if (driver.getCVLGrabRow(0, port, line.data(), row, 0, format.width - 1) != 1) {
            return testing::AssertionFailure() << "getCVLGrabRow refused row " << row << " of frame " << seed;
        }
        if (std::memcmp(line.data(), frame.data() + rowBytes * static_cast<size_t>(row), rowBytes) != 0) {
            uint32_t found = 0;
            return testing::AssertionFailure() << "row " << row << " of frame " << seed << " differs: "
                                               << CheckRow(line.data(), rowBytes, row, found).message();
        }
        for (size_t i = rowBytes; i < line.size(); ++i) {
            if (line[i] != kMarker) {
                return testing::AssertionFailure() << "getCVLGrabRow wrote past the row's " << rowBytes << " bytes";
            }
        }
    }
    return testing::AssertionSuccess();
}

int E2ETest::Count(const std::string& text) const {
    const std::string expected = !text.empty() && text.back() != '\n' ? text + "\n" : text;
    int count = 0;
    for (const hosttest::LogLine& line : log.Lines()) {
        count += line.message == expected ? 1 : 0;
    }
    return count;
}

int E2ETest::CountStartingWith(const std::string& prefix) const {
    int count = 0;
    for (const hosttest::LogLine& line : log.Lines()) {
        count += line.message.rfind(prefix, 0) == 0 ? 1 : 0;
    }
    return count;
}

testing::AssertionResult E2ETest::WaitForLine(const std::string& text, int count, DWORD milliseconds) const {
    if (!WaitUntil([&] { return Count(text) >= count; }, milliseconds)) {
        return testing::AssertionFailure() << "\"" << text << "\" came " << Count(text) << " times, not " << count
                                           << ", within " << milliseconds << " ms. The log:\n"
                                           << Dump();
    }
    return testing::AssertionSuccess();
}

std::string E2ETest::Dump() const {
    std::ostringstream text;
    for (const hosttest::LogLine& line : log.Lines()) {
        text << "  [" << line.threadId << "] " << line.message;
    }
    return text.str();
}

}  // namespace e2e
