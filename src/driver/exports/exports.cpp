// The driver's exported C interface. Every export that does work runs its
// body inside a fence that turns any exception into one level-1 line and a
// failure result, so nothing ever unwinds into the host.
#include <exception>
#include <stdexcept>

#include "camera/camera_list.h"
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

}  // namespace

extern "C" {

int initialize(const char* systemPath, DebugMsgProc proc) {
    DriverState* state = GetDriverState();
    try {
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
    } catch (...) {
        LogMessage(1, state, "initialize: Shared Memory camera driver -- EXCEPTION occured\n");
        return 0;
    }
}

int finalize(void) {
    DriverState* state = GetDriverState();
    try {
        LogMessage(2, state, "finalize: entering, refcount=%d\n", state->refCount.load());
        const int refCount = --state->refCount;
        if (refCount == 0) {
            CameraList::DestroyInstance();
        }
        LogMessage(2, state, "finalize: leaving, refcount=%d\n", refCount);
        return 1;
    } catch (...) {
        LogMessage(1, state, "finalize: --EXCEPTION occured \n");
        return 0;
    }
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

// Without a fence of their own, these two answer "none" when the registry
// cannot be created rather than let the failure reach the host.
int getCVLNoOfSupportedCameras(void) {
    try {
        CameraList::Use registry;
        return registry->Count();
    } catch (...) {
        return 0;
    }
}

const char** getCVLCameraConfigNames(void) {
    try {
        CameraList::Use registry;
        return registry->GetConfigNames();
    } catch (...) {
        return nullptr;
    }
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
    try {
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
    } catch (...) {
        LogMessage(1, state, "openCVLPort: --EXCEPTION caught grabberNo=%d, portNo=%d, cameraName=%s\n", grabberNo,
                   portNo, NullSafe(cameraName));
        return 0;
    }
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
    try {
        LogMessage(2, state, "doCVLGrab entering grabberNo=%d portNo=%d\n", grabberNo, portNo);
        LogMessage(2, state, "doCVLGrab: leaving grabberNo=%d portNo=%d\n", grabberNo, portNo);
        return 1;
    } catch (...) {
        LogMessage(1, state, "doCVLGrab: --EXCEPTION caught  grabberNo=%d portNo=%d\n", grabberNo, portNo);
        return 0;
    }
}

int getCVLGrabRow(int grabberNo, int portNo, void* dest, int row, int first, int last) {
    DriverState* state = GetDriverState();
    try {
        LogMessage(4, state, "getCVLGrabRow: entering row=%d  grabberNo=%d  portNo=%d\n", row, grabberNo, portNo);
        CameraList::Use registry;
        Camera* camera = registry->GetByPort(portNo);
        // The copy always starts at the row's first pixel; `first` only
        // enters through the length.
        const int64_t byteCount = (int64_t{last} - first + 1) * camera->FrameShape().bytesPerPixel;
        if (!camera->imageBuffer.CopyRow(row, dest, byteCount)) {
            return 0;
        }
        LogMessage(4, state, "getCVLGrabRow: leaving row=%d  grabberNo=%d  portNo=%d\n", row, grabberNo, portNo);
        return 1;
    } catch (...) {
        LogMessage(1, state, "getCVLGrabRow: --EXCEPTION caught \n");
        return 0;
    }
}

int setCompleteCallback(int grabberNo, int portNo, CompleteCallback cb) {
    DriverState* state = GetDriverState();
    try {
        LogMessage(2, state, "setCompleteCallback: entering grabberNo=%d   portNo=%d\n", grabberNo, portNo);
        CameraList::Use registry;
        registry->GetByPort(portNo)->SetCompleteCB(cb);
        LogMessage(2, state, "setCompleteCallback: leaving grabberNo=%d   portNo=%d\n", grabberNo, portNo);
        return 1;
    } catch (...) {
        LogMessage(1, state, "setCompleteCallback: --EXCEPTION caught \n");
        return 0;
    }
}

int setCmdCallback(int grabberNo, int portNo, CmdCallback cb) {
    DriverState* state = GetDriverState();
    try {
        LogMessage(3, state, "setCmdCallback: portNo=%d\n", portNo);
        CameraList::Use registry;
        registry->GetByPort(portNo)->SetCmdCallback(cb);
        return 1;
    } catch (const std::exception& error) {
        LogMessage(1, state, "setCmdCallback: --EXCEPTION caught grabberNo=%d, portNo=%d: %s\n", grabberNo, portNo,
                   error.what());
        return 0;
    } catch (...) {
        LogMessage(1, state, "setCmdCallback: --EXCEPTION caught \n");
        return 0;
    }
}

int getProperty(int grabberNo, int portNo, const char* name, int* value) {
    (void)grabberNo;
    DriverState* state = GetDriverState();
    try {
        LogMessage(3, state, "getProperty: portNo=%d, prop=%s\n", portNo, NullSafe(name));
        CameraList::Use registry;
        return registry->GetByPort(portNo)->GetProperty(name, value) ? 1 : 0;
    } catch (...) {
        LogMessage(1, state, "--EXCEPTION caught at getProperty\n");
        return 0;
    }
}

int getPropertyRange(int grabberNo, int portNo, ...) {
    DriverState* state = GetDriverState();
    try {
        LogMessage(2, state, "getPropertyRange: entering grabberNo=%d   portNo=%d\n", grabberNo, portNo);
        LogMessage(2, state, "getPropertyRange: leaving grabberNo=%d   portNo=%d\n", grabberNo, portNo);
        return 0;
    } catch (...) {
        LogMessage(1, state, "getPropertyRange: --EXCEPTION caught \n");
        return 0;
    }
}

int setProperty(int grabberNo, int portNo, ...) {
    (void)grabberNo;
    DriverState* state = GetDriverState();
    try {
        LogMessage(3, state, "setProperty: portNo=%d\n", portNo);
        return 0;
    } catch (...) {
        LogMessage(1, state, "setProperty: --EXCEPTION caught \n");
        return 0;
    }
}

int setHWTrigger(int, int, ...) {
    return 0;
}

}  // extern "C"
