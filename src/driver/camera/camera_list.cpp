#include "camera/camera_list.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <new>

#include "camera/registry_error.h"
#include "camera/row_reader.h"
#include "platform/immortal.h"
#include "platform/module_reference.h"
#include "platform/unique_handle.h"
#include "support/driver_state.h"
#include "support/log.h"
#include "support/text.h"

namespace {

constexpr int kCameraCount = 32;
constexpr size_t kReservedCameras = 20;

// How often a destruction looks whether the exports still using the
// registry have returned.
constexpr DWORD kUsePollMs = 1;

// The instance, set by GetInstance and cleared by DestroyInstance, and the
// lock that guards its changes and the registries' counts of users. Never
// destroyed: a registry that no finalize destroyed stays, threads and all,
// until the process is gone.
//
// Row reads pin the instance without the lock (RowPin): they count
// themselves in the reader count of the current destruction count's parity.
// A destruction clears the instance, then counts itself, and waits for the
// readers of the parity it ended; a reader that saw the count change while
// it pinned lets go and tries again, so it never counts under a parity whose
// registry it did not find.
struct InstanceSlot {
    platform::CriticalSection lock;
    std::atomic<CameraList*> instance{nullptr};
    std::atomic<uint32_t> destructions{0};
    std::atomic<int32_t> rowReaders[2] = {};
};

InstanceSlot& Slot() {
    static platform::Immortal<InstanceSlot> slot;
    return slot.get();
}

}  // namespace

CameraList::Use::Use() {
    InstanceSlot& slot = Slot();
    platform::CriticalSectionLock hold(slot.lock);
    list = GetInstance();
    ++list->users;
}

CameraList::Use::~Use() {
    platform::CriticalSectionLock hold(Slot().lock);
    --list->users;
}

CameraList::RowPin::RowPin() {
    InstanceSlot& slot = Slot();
    for (;;) {
        const uint32_t destructions = slot.destructions.load();
        readers = &slot.rowReaders[destructions % 2];
        readers->fetch_add(1);
        list = slot.instance.load();
        if (slot.destructions.load() == destructions) {
            return;
        }
        readers->fetch_sub(1);
    }
}

CameraList::RowPin::~RowPin() {
    readers->fetch_sub(1);
}

CameraList::CameraList() {
    cameras.reserve(kReservedCameras);
    BuildConfigNames();
}

CameraList* CameraList::GetInstance() {
    InstanceSlot& slot = Slot();
    CameraList* created = nullptr;
    {
        platform::CriticalSectionLock hold(slot.lock);
        CameraList* instance = slot.instance.load();
        if (instance != nullptr) {
            return instance;
        }
        created = new (std::nothrow) CameraList();
        slot.instance.store(created);
    }
    if (created == nullptr) {
        LogMessage(1, GetDriverState(), "CameraList::GetInstance: ERROR: no valid instance\n");
        ThrowRegistryError();
    }
    return created;
}

void CameraList::DestroyInstance() {
    InstanceSlot& slot = Slot();
    std::unique_ptr<CameraList> detached;
    {
        platform::CriticalSectionLock hold(slot.lock);
        detached.reset(slot.instance.exchange(nullptr));
        // Before the destruction is counted, so that a row read pinned after
        // it finds its remembered camera out of date (see ReadCameraRow).
        PortRoutesChanged();
        const uint32_t ended = slot.destructions.fetch_add(1);
        if (detached) {
            detached->rowReadersParity = ended % 2;
        }
    }
    if (!detached) {
        return;
    }
    if (!detached->IsLinkThread()) {
        detached->WaitUntilUnused();
        detached.reset();
        return;
    }
    // The host's last finalize from inside a camera's callback: that camera's
    // thread cannot join itself, and returns into the camera once the
    // callback is over. A thread of its own destroys the registry, joining
    // that thread too.
    platform::UniqueThread destroyer(
        CreateThread(nullptr, 0, &CameraList::static_DestroyDetached, detached.get(), 0, nullptr));
    if (!destroyer) {
        LogMessage(1, GetDriverState(),
                   "CameraList::DestroyInstance: ERROR: cannot start the thread to destroy the registry\n");
    }
    // Owned by that thread now; without one, the registry is left in place,
    // as at process exit, rather than freed under the callback.
    detached.release();
}

DWORD WINAPI CameraList::static_DestroyDetached(LPVOID list) {
    HMODULE module = platform::PinCodeModule();
    std::unique_ptr<CameraList> detached(static_cast<CameraList*>(list));
    detached->WaitUntilUnused();
    detached.reset();
    return platform::ExitThreadReleasingModule(module, 0);
}

bool CameraList::IsLinkThread() const {
    for (const std::unique_ptr<Camera>& camera : cameras) {
        if (camera && camera->cmdThread.OnOwnThread()) {
            return true;
        }
    }
    return false;
}

// Called on a registry that is no longer the instance, so its count only
// falls.
void CameraList::WaitUntilUnused() {
    for (;;) {
        {
            platform::CriticalSectionLock hold(Slot().lock);
            if (users == 0 && Slot().rowReaders[rowReadersParity].load() == 0) {
                return;
            }
        }
        Sleep(kUsePollMs);
    }
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
    BuildConfigNames();
    PortRoutesChanged();
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
    BuildConfigNames();
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
                LogMessage(
                    1, GetDriverState(),
                    "CameraList::GetByPort: ERROR: found camera on requested port %d, but the camera is closed\n",
                    port);
            }
            return camera;
        }
    }
    LogMessage(1, GetDriverState(), "CameraList::GetByPort: ERROR: could not find camera on port %d\n", port);
    ThrowRegistryError();
}

// Built with the registry and when its cameras change, never on a call:
// hosts on several threads ask for the names at once, and each keeps the
// array it was given.
void CameraList::BuildConfigNames() {
    configNames.reset(new (std::nothrow) const char*[cameras.size() + 1]);
    if (!configNames) {
        return;
    }
    for (size_t i = 0; i < cameras.size(); ++i) {
        configNames[i] = cameras[i]->name.c_str();
    }
    configNames[cameras.size()] = nullptr;
}

const char** CameraList::GetConfigNames() {
    if (!configNames) {
        ThrowRegistryError();
    }
    return configNames.get();
}
