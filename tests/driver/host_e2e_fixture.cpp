// The end-to-end tests' host: its callbacks, which read every frame back as
// a host does, and the fixture around the loaded driver.
#include <array>
#include <cstring>
#include <sstream>

#include "host_e2e.h"

namespace e2e {
namespace {

std::array<PortRecord, kPortCount>& Ports() {
    static std::array<PortRecord, kPortCount> ports;
    return ports;
}

}  // namespace

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
    testsupport::FrameShape shape;
    std::vector<uint8_t> pixels;
    bool good = testsupport::ReadShape(driver, port, shape) && testsupport::ReadRows(driver, port, shape, pixels);
    uint32_t frameSeed = 0;
    for (int row = 0; good && row < shape.height; ++row) {
        uint32_t seed = 0;
        const size_t rowBytes = static_cast<size_t>(shape.RowBytes());
        good = CheckRow(pixels.data() + rowBytes * static_cast<size_t>(row), rowBytes, row, seed) &&
               (row == 0 || seed == frameSeed);
        frameSeed = seed;
    }
    record.lastSeed = frameSeed;
    record.lastWidth = shape.width;
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

testing::AssertionResult E2ETest::OpenCamera(const char* camera, int port, const std::string& shareName, int logLevel,
                                             int connectionTimeout, int* dimensions, bool setCallbacks) {
    WriteSection(camera, hosttest::CameraSection{shareName, logLevel, connectionTimeout});
    dimensions[0] = hosttest::kPoison;
    dimensions[1] = hosttest::kPoison;
    if (driver.openCVLPort(0, port, camera, dimensions) != 1) {
        return testing::AssertionFailure() << "openCVLPort(" << camera << ", port " << port << ") failed\n" << Dump();
    }
    openPorts.push_back(port);
    if (setCallbacks &&
        (driver.setCmdCallback(0, port, &OnCommand) != 1 || driver.setCompleteCallback(0, port, &OnComplete) != 1)) {
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
            return testing::AssertionFailure() << "row " << row << " of frame " << seed
                                               << " differs: " << CheckRow(line.data(), rowBytes, row, found).message();
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
