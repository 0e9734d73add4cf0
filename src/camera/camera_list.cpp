#include "camera/camera_list.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "camera/registry_error.h"
#include "support/driver_state.h"
#include "support/log.h"
#include "support/text.h"

namespace {

constexpr int kCameraCount = 32;
constexpr size_t kReservedCameras = 20;

// Set by GetInstance, cleared by DestroyInstance; the host creates it from its
// first call, before any camera thread exists.
std::unique_ptr<CameraList>& Instance() {
    static std::unique_ptr<CameraList> instance;
    return instance;
}

}  // namespace

CameraList::CameraList() {
    cameras.reserve(kReservedCameras);
}

CameraList* CameraList::GetInstance() {
    std::unique_ptr<CameraList>& instance = Instance();
    if (!instance) {
        instance.reset(new (std::nothrow) CameraList());
        if (!instance) {
            LogMessage(1, GetDriverState(), "CameraList::GetInstance: ERROR: no valid instance\n");
            ThrowRegistryError();
        }
    }
    return instance.get();
}

void CameraList::DestroyInstance() {
    Instance().reset();
}

CameraList::~CameraList() {
    LogMessage(2, GetDriverState(), "CameraList::~CameraList: entering\n");
    Destroy();
    LogMessage(2, GetDriverState(), "CameraList::~CameraList: leaving\n");
}

bool CameraList::Init() {
    LogMessage(2, GetDriverState(), "CameraList::Init: entering\n");
    for (int i = 1; i <= kCameraCount; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "Camera %d", i);
        std::unique_ptr<Camera> camera(new (std::nothrow) Camera(name));
        if (!camera) {
            LogMessage(1, GetDriverState(), "CameraList::Init:  ERROR: could not allocate Camera object\n");
            ThrowRegistryError();
        }
        cameras.push_back(std::move(camera));
    }
    LogMessage(2, GetDriverState(), "CameraList::Init: leaving\n");
    initialized = true;
    return true;
}

void CameraList::Destroy() {
    LogMessage(2, GetDriverState(), "CameraList::Destroy: entering\n");
    for (std::unique_ptr<Camera>& camera : cameras) {
        camera.reset();
    }
    cameras.clear();
    configNames.reset();
    LogMessage(2, GetDriverState(), "CameraList::Destroy: leaving\n");
    initialized = false;
}

// A null name cannot equal any camera's name; it is refused with the same
// text exception as a missing one once there is a camera to compare with.
Camera* CameraList::FindByName(const char* name) {
    for (const std::unique_ptr<Camera>& camera : cameras) {
        if (name == nullptr) {
            ThrowRegistryError();
        }
        if (std::strcmp(camera->name.c_str(), name) == 0) {
            return camera.get();
        }
    }
    return nullptr;
}

bool CameraList::IsCameraAvailable(const char* name) {
    LogMessage(3, GetDriverState(), "CameraList::IsCameraAvailable:  name=%s\n", NullSafe(name));
    return FindByName(name) != nullptr;
}

Camera* CameraList::GetByName(const char* name) {
    LogMessage(3, GetDriverState(), "CameraList::GetByName: entering %s\n", NullSafe(name));
    Camera* camera = FindByName(name);
    if (camera == nullptr) {
        LogMessage(1, GetDriverState(), "CameraList::GetByName: ERROR: could not find camera %s\n", NullSafe(name));
        ThrowRegistryError();
    }
    LogMessage(3, GetDriverState(), "CameraList::GetByName: leaving %s\n", name);
    return camera;
}

Camera* CameraList::GetByPort(int port) {
    for (size_t index = 0; index < cameras.size(); ++index) {
        Camera* camera = cameras[index].get();
        if (camera == nullptr) {
            LogMessage(1, GetDriverState(), "CameraList::GetByPort: ERROR: vector contains null pointer at index %d\n",
                       static_cast<int>(index));
            ThrowRegistryError();
        }
        if (camera->port == port) {
            if (!camera->isOpen) {
                LogMessage(1, GetDriverState(),
                           "CameraList::GetByPort: ERROR: found camera on requested port %d, but the camera is closed\n",
                           port);
            }
            return camera;
        }
    }
    LogMessage(1, GetDriverState(), "CameraList::GetByPort: ERROR: could not find camera on port %d\n", port);
    ThrowRegistryError();
}

const char** CameraList::GetConfigNames() {
    configNames.reset();
    configNames.reset(new (std::nothrow) const char*[cameras.size() + 1]);
    if (!configNames) {
        ThrowRegistryError();
    }
    for (size_t i = 0; i < cameras.size(); ++i) {
        configNames[i] = cameras[i]->name.c_str();
    }
    configNames[cameras.size()] = nullptr;
    return configNames.get();
}
