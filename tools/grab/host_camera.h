// The host's side of one camera of a loaded driver, as quorvex-grab and
// quorvex-view drive it: settings written, the driver initialised, the
// camera found, opened on a port, and every announced frame read row by row.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "driver_library.h"
#include "host_options.h"
#include "status_console.h"
#include "test_pattern.h"

namespace tools {

// Told what the camera delivers, on the camera's thread.
class FrameListener {
public:
    virtual ~FrameListener() = default;
    // A whole frame, read inside the complete callback; `arrivedUs` is the
    // shared clock when the callback began.
    virtual void OnFrame(const FrameGeometry& geometry, const uint8_t* pixels, int64_t arrivedUs) = 0;
    // The driver asked for a reset: the next frame may have another size.
    virtual void OnReset() = 0;
    // A frame whose rows could not all be read: `rows` of them were missing.
    virtual void OnRowsMissing(int64_t rows) = 0;
};

// Owns the driver's initialisation (finalised when the object goes) and the
// open camera. Threads: the public calls come from one thread; the driver's
// callbacks run on its threads (the camera's thread for frames and
// commands, any thread for log lines) and reach the listener. The frame
// buffer and the geometry belong to the camera's thread while the camera is
// open. The driver's callbacks carry no context, so one camera at a time is
// reachable through `current_`.
class HostCamera {
public:
    // `tool` prefixes the lines said on `console`.
    HostCamera(DriverLibrary& driver, const HostOptions& options, StatusConsole& console, std::string tool);
    ~HostCamera();
    HostCamera(const HostCamera&) = delete;
    HostCamera& operator=(const HostCamera&) = delete;

    // Writes the settings given, initialises the driver and looks the camera
    // up (listing the cameras with --list). False when any step fails;
    // `exitCode` then says how the tool ends.
    bool Prepare(int& exitCode);

    // Opens the camera and sets both callbacks; frames reach `listener`
    // until Close. `dimensions` receives what openCVLPort answered.
    bool Open(FrameListener& listener, int dimensions[2]);

    // Closes the camera: its thread is joined, so no callback runs after.
    void Close();

    // Calls configureCamera for the camera and says what it answered.
    void Configure();

    void Say(const std::string& text);

private:
    static void QUORVEX_CALL OnComplete(int grabberNo, int portNo);
    static void QUORVEX_CALL OnCommand(int grabberNo, int portNo, const char* command, const char* argument);
    static void QUORVEX_CALL OnLog(const char* text);

    bool PrepareSettings();
    bool FindCamera();
    void HandleFrame();
    void HandleCommand(const char* command);
    void HandleLog(const char* text);
    void ReadDimensions();
    bool ReadRows();

    static std::atomic<HostCamera*> current_;

    DriverLibrary& driver_;
    const HostOptions& options_;
    StatusConsole& console_;
    const std::string tool_;
    bool initialized_ = false;
    bool open_ = false;
    FrameListener* listener_ = nullptr;

    // The camera's thread.
    FrameGeometry geometry_;
    std::vector<uint8_t> frame_;
    std::atomic<bool> resetPending_{true};
    // Log lines come as a timestamp, then the message; the driver's lock
    // keeps the two calls of a line together.
    std::string logTimestamp_;
    bool logHasTimestamp_ = false;
};

}  // namespace tools
