// A whole camera server written on ScriptedServer: its pipe, its segment and
// mutex, and a thread that publishes frames, with the faults a server may
// have switched on one by one, so that a test can show each caught.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

#include "platform/unique_handle.h"
#include "scripted_server.h"

namespace testsupport {

struct ServerFaults {
    DimensionsBlock dimensions{32, 8, 1};
    DWORD segmentBytes = 0;               // 0: the frame and a stamp fit
    bool answerInOneMessage = false;      // header and block run together
    bool frameBeforeDimensions = false;   // an ImageReady before a connection's first answer
    bool answerFirstRequestOnly = false;  // one answer per connection
    bool serveOneConnection = false;      // a host that comes back is not answered
    bool keepMutex = false;               // the mutex taken once and never given back
    bool writeWithoutMutex = false;       // frame bytes changed without the mutex
    bool stamps = false;                  // frames numbered and stamped
    bool numbersGoBack = false;           // with stamps: the numbers count down
    bool announceTwice = false;           // every frame announced twice, as a late link reads it
    // With stamps: the third frame, once announced, is overwritten by one
    // twice as tall before a host can read it, as a server that resizes
    // between two frames does to a slow reader.
    bool growOverThirdFrame = false;
};

// Owns the scripted pipe, the segment, the mutex and the publishing thread,
// which announces a frame every 20 ms until the object goes.
class ScriptedCamera {
public:
    ScriptedCamera(const std::string& shareName, const ServerFaults& faults);
    ~ScriptedCamera();
    ScriptedCamera(const ScriptedCamera&) = delete;
    ScriptedCamera& operator=(const ScriptedCamera&) = delete;

    // Makes the segment and the mutex, serves the pipe and starts publishing.
    testing::AssertionResult Start();

private:
    void OnRequest(ScriptedServer& server);
    void Publish();
    void WriteFrame(uint32_t number);
    DimensionsBlock Dimensions() const;
    void Grow();

    const std::string shareName_;
    const ServerFaults faults_;
    ScriptedServer server_;
    platform::UniqueMapping mapping_;
    platform::UniqueView view_;
    platform::UniqueMutex mutex_;
    DWORD viewBytes_ = 0;
    std::atomic<bool> grown_{false};
    std::atomic<int> answeredConnection_{0};
    std::atomic<bool> quit_{false};
    std::thread publisher_;
};

}  // namespace testsupport
