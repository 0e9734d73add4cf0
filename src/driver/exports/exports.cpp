// The driver's exported C interface. Every export that does work runs its
// body inside a fence that turns any exception into one level-1 line and a
// failure result, so nothing ever unwinds into the host.
#include <cstdarg>
#include <exception>
#include <stdexcept>

#include "camera/camera_list.h"
#include "camera/row_reader.h"
#include "platform/win32.h"
#include "quorvex.h"
#include "support/driver_state.h"
#include "support/log.h"
#include "support/text.h"

namespace {

constexpr const char* kVersionText = QUORVEX_VERSION_COMMAS;
constexpr int kMaxGrabbers = 1;
constexpr int kMaxPorts = 20;

bool IsUndefinedCameraName(const char* name) {
    return name == nullptr || *name == '\0' || EqualsIgnoringCase(name, "Undefined") ||
           EqualsIgnoringCase(name, "Udefinert");
}

// An export's fence: returns what `body` returns, or, when it throws, logs
// the export's own fence text (a format and its arguments) at level 1 and
// returns `failure`. The body is a named lambda, so that the fence text stands
// in a statement of its own, where the log-text check finds it.
template <typename Result, typename Body>
QUORVEX_PRINTF_FORMAT(4, 5)
Result Fenced(DriverState* state, Result failure, const Body& body, const char* fenceText, ...) {
    try {
        return body();
    } catch (...) {
        va_list args;
        va_start(args, fenceText);
        LogMessageV(1, state, fenceText, args);
        va_end(args);
        return failure;
    }
}

// A fence that logs nothing, for the exports that answer "none" on failure.
template <typename Result, typename Body>
Result Fenced(Result failure, const Body& body) {
    try {
        return body();
    } catch (...) {
        return failure;
    }
}

}  // namespace

extern "C" {

int initialize(const char* systemPath, DebugMsgProc proc) {
    DriverState* state = GetDriverState();
    const auto body = [&] {
        if (systemPath != nullptr && *systemPath != '\0') {
            state->SetSystemPath(systemPath);
        }
        state->debugMsgProc = proc;
        LogMessage(2, state, "===============\ninitialize: \n");
        if (state->refCount == 0) {
            CameraList::Use registry;
            registry->Init();
        }
        const int refCount = ++state->refCount;
        SYSTEMTIME now;
        GetLocalTime(&now);
        LogMessage(1, state, "initialize: Shared Memory camera driver V%s, refcount=%d, %d-%d-%d %d:%d:%d\n",
                   kVersionText, refCount, now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond);
        return 1;
    };
    return Fenced(state, 0, body, "initialize: Shared Memory camera driver -- EXCEPTION occured\n");
}

int finalize(void) {
    DriverState* state = GetDriverState();
    const auto body = [state] {
        LogMessage(2, state, "finalize: entering, refcount=%d\n", state->refCount.load());
        const int refCount = --state->refCount;
        if (refCount == 0) {
            CameraList::DestroyInstance();
        }
        LogMessage(2, state, "finalize: leaving, refcount=%d\n", refCount);
        return 1;
    };
    return Fenced(state, 0, body, "finalize: --EXCEPTION occured \n");
}

void setDebugMsgProc(DebugMsgProc proc) {
    GetDriverState()->debugMsgProc = proc;
}

int setSystemPath(const char* path) {
    if (path == nullptr || *path == '\0') {
        return 0;
    }
    GetDriverState()->SetSystemPath(path);
    return 1;
}

int getCVLMaxNoOfGrabbers(void) {
    return kMaxGrabbers;
}

int getCVLMaxNoOfPorts(void) {
    return kMaxPorts;
}

// Without a fence text of their own, these two answer "none" when the
// registry cannot be created rather than let the failure reach the host.
int getCVLNoOfSupportedCameras(void) {
    const auto body = [] {
        CameraList::Use registry;
        return registry->Count();
    };
    return Fenced(0, body);
}

const char** getCVLCameraConfigNames(void) {
    const auto body = [] {
        CameraList::Use registry;
        return registry->GetConfigNames();
    };
    return Fenced<const char**>(nullptr, body);
}

int configureCamera(QuorvexWindow parent, const char* cameraName) {
    DriverState* state = GetDriverState();
    int result = 1;
    try {
        LogMessage(2, state, "configureCamera: entering cameraName=%s\n", NullSafe(cameraName));
        CameraList::Use cameras;
        if (!cameras->IsCameraAvailable(cameraName)) {
            LogMessage(1, state, "configureCamera: ERROR: cannot find camera by name: %s\n", NullSafe(cameraName));
            return 0;
        }
        if (cameras->GetByName(cameraName)->Configure(parent)) {
            result = 0;
        }
    } catch (...) {
        LogMessage(1, state, "configureCamera --EXCEPTION , cameraName=%s\n", NullSafe(cameraName));
    }
    LogMessage(2, state, "configureCamera: leaving cameraName=%s\n", NullSafe(cameraName));
    return result;
}

int openCVLPort(int grabberNo, int portNo, const char* cameraName, int* dimensions) {
    DriverState* state = GetDriverState();
    if (dimensions != nullptr) {
        dimensions[0] = 0;
        dimensions[1] = 0;
    }
    const auto body = [&] {
        LogMessage(2, state, "openCVLPort: entering grabberNo=%d, portNo=%d, cameraName=%s\n", grabberNo, portNo,
                   NullSafe(cameraName));
        if (IsUndefinedCameraName(cameraName)) {
            LogMessage(1, state, "openCVLPort: ERROR: undefined camera, grabberNo=%d, portNo=%d, cameraName=%s\n",
                       grabberNo, portNo, NullSafe(cameraName));
            return 0;
        }
        CameraList::Use cameras;
        if (!cameras->IsCameraAvailable(cameraName)) {
            LogMessage(1, state, "openCVLPort: ERROR: cannot find camera by name:%s\n", cameraName);
            return 0;
        }
        // The frame size has nowhere to go: refused like any other failure
        // to open, before the camera changes.
        if (dimensions == nullptr) {
            throw std::invalid_argument("openCVLPort: dimensions missing");
        }
        Camera* camera = cameras->GetByName(cameraName);
        camera->Open(portNo, dimensions);
        LogMessage(2, state, "openCVLPort: leaving -- Camera %s OPENED on port %d\n", camera->name.c_str(), portNo);
        return 1;
    };
    return Fenced(state, 0, body, "openCVLPort: --EXCEPTION caught grabberNo=%d, portNo=%d, cameraName=%s\n", grabberNo,
                  portNo, NullSafe(cameraName));
}

int closeCVLPort(int grabberNo, int portNo) {
    DriverState* state = GetDriverState();
    int result = 1;
    try {
        LogMessage(2, state, "closeCVLPort: entering grabberNo=%d, portNo=%d\n", grabberNo, portNo);
        CameraList::Use registry;
        registry->GetByPort(portNo)->Close();
    } catch (...) {
        LogMessage(1, state, "closeCVLPort: --EXCEPTION caught  grabberNo=%d, portNo=%d\n", grabberNo, portNo);
        result = 0;
    }
    LogMessage(2, state, "closeCVLPort: leaving grabberNo=%d, portNo=%d\n", grabberNo, portNo);
    return result;
}

int doCVLGrab(int grabberNo, int portNo) {
    DriverState* state = GetDriverState();
    const auto body = [&] {
        LogMessage(2, state, "doCVLGrab entering grabberNo=%d portNo=%d\n", grabberNo, portNo);
        LogMessage(2, state, "doCVLGrab: leaving grabberNo=%d portNo=%d\n", grabberNo, portNo);
        return 1;
    };
    return Fenced(state, 0, body, "doCVLGrab: --EXCEPTION caught  grabberNo=%d portNo=%d\n", grabberNo, portNo);
}

int getCVLGrabRow(int grabberNo, int portNo, void* dest, int row, int first, int last) {
    DriverState* state = GetDriverState();
    const auto body = [&] {
        // Once per row of every frame: the lines cost no call while the level
        // filters them out.
        if (state->Passes(4)) {
            LogMessage(4, state, "getCVLGrabRow: entering row=%d  grabberNo=%d  portNo=%d\n", row, grabberNo, portNo);
        }
        if (!ReadCameraRow(portNo, dest, row, first, last)) {
            return 0;
        }
        if (state->Passes(4)) {
            LogMessage(4, state, "getCVLGrabRow: leaving row=%d  grabberNo=%d  portNo=%d\n", row, grabberNo, portNo);
        }
        return 1;
    };
    return Fenced(state, 0, body, "getCVLGrabRow: --EXCEPTION caught \n");
}

int setCompleteCallback(int grabberNo, int portNo, CompleteCallback cb) {
    DriverState* state = GetDriverState();
    const auto body = [&] {
        LogMessage(2, state, "setCompleteCallback: entering grabberNo=%d   portNo=%d\n", grabberNo, portNo);
        CameraList::Use registry;
        registry->GetByPort(portNo)->SetCompleteCB(cb);
        LogMessage(2, state, "setCompleteCallback: leaving grabberNo=%d   portNo=%d\n", grabberNo, portNo);
        return 1;
    };
    return Fenced(state, 0, body, "setCompleteCallback: --EXCEPTION caught \n");
}

int setCmdCallback(int grabberNo, int portNo, CmdCallback cb) {
    DriverState* state = GetDriverState();
    // A standard exception's text goes into a line of its own; anything else
    // ends at the fence.
    const auto body = [&] {
        try {
            LogMessage(3, state, "setCmdCallback: portNo=%d\n", portNo);
            CameraList::Use registry;
            registry->GetByPort(portNo)->SetCmdCallback(cb);
            return 1;
        } catch (const std::exception& error) {
            LogMessage(1, state, "setCmdCallback: --EXCEPTION caught grabberNo=%d, portNo=%d: %s\n", grabberNo, portNo,
                       error.what());
            return 0;
        }
    };
    return Fenced(state, 0, body, "setCmdCallback: --EXCEPTION caught \n");
}

int getProperty(int grabberNo, int portNo, const char* name, int* value) {
    (void)grabberNo;
    DriverState* state = GetDriverState();
    const auto body = [&] {
        LogMessage(3, state, "getProperty: portNo=%d, prop=%s\n", portNo, NullSafe(name));
        CameraList::Use registry;
        return registry->GetByPort(portNo)->GetProperty(name, value) ? 1 : 0;
    };
    return Fenced(state, 0, body, "--EXCEPTION caught at getProperty\n");
}

int getPropertyRange(int grabberNo, int portNo, ...) {
    DriverState* state = GetDriverState();
    const auto body = [&] {
        LogMessage(2, state, "getPropertyRange: entering grabberNo=%d   portNo=%d\n", grabberNo, portNo);
        LogMessage(2, state, "getPropertyRange: leaving grabberNo=%d   portNo=%d\n", grabberNo, portNo);
        return 0;
    };
    return Fenced(state, 0, body, "getPropertyRange: --EXCEPTION caught \n");
}

int setProperty(int grabberNo, int portNo, ...) {
    (void)grabberNo;
    DriverState* state = GetDriverState();
    const auto body = [&] {
        LogMessage(3, state, "setProperty: portNo=%d\n", portNo);
        return 0;
    };
    return Fenced(state, 0, body, "setProperty: --EXCEPTION caught \n");
}

int setHWTrigger(int, int, ...) {
    return 0;
}

}  // extern "C"
