// The process-wide registry of the driver's 32 cameras.
#pragma once

#include <memory>
#include <vector>

#include "camera/camera.h"

// Owns its cameras. Created, filled and destroyed by the host's initialize
// and finalize; read by the host's per-name and per-port calls. The link
// threads never touch it. Lookups scan in creation order; the first match
// wins. Failures log and throw the registry's text exception.
class CameraList {
public:
    // The instance; creates an empty registry when there is none.
    static CameraList* GetInstance();
    // Destroys the instance (closing open cameras); the next GetInstance
    // builds a fresh, empty one.
    static void DestroyInstance();

    ~CameraList();
    CameraList(const CameraList&) = delete;
    CameraList& operator=(const CameraList&) = delete;

    // Appends Camera 1 ... Camera 32.
    bool Init();
    void Destroy();

    bool IsCameraAvailable(const char* name);
    Camera* GetByName(const char* name);
    Camera* GetByPort(int port);
    // A null-terminated array of the cameras' names, valid until the next
    // call or the registry's destruction.
    const char** GetConfigNames();
    int Count() const { return static_cast<int>(cameras.size()); }

private:
    CameraList();
    Camera* FindByName(const char* name);

    std::vector<std::unique_ptr<Camera>> cameras;
    bool initialized = false;
    std::unique_ptr<const char*[]> configNames;
};
