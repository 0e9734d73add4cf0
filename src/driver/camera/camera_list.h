// The process-wide registry of the driver's 32 cameras.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "camera/camera.h"

// Owns its cameras. Created, filled and destroyed by the host's initialize
// and finalize; read by the host's per-name and per-port calls, which may
// come from the cameras' link threads (a host calling back from its
// callbacks). Lookups scan in creation order; the first match wins. Failures
// log and throw the registry's text exception.
//
// The instance is never destroyed at unload or at process exit, only by the
// last finalize. That destruction waits until no export uses the registry
// (see Use and RowPin) and joins every camera thread; when the finalize runs
// on one of those threads (inside a host callback), a thread of its own does
// it once the callback has returned.
class CameraList {
public:
    // The instance, held for the length of one export: a registry is
    // destroyed only once nothing uses it any more.
    class Use {
    public:
        // Creates an empty registry when there is none; throws as
        // GetInstance does.
        Use();
        ~Use();
        Use(const Use&) = delete;
        Use& operator=(const Use&) = delete;
        CameraList* operator->() const { return list; }
        CameraList& operator*() const { return *list; }

    private:
        CameraList* list;
    };

    // The instance, held for one row read from a thread other than the
    // camera's link thread: two atomic counts where Use takes a lock twice.
    // Null when there is no registry; the read then takes Use, which makes
    // one.
    class RowPin {
    public:
        RowPin();
        ~RowPin();
        RowPin(const RowPin&) = delete;
        RowPin& operator=(const RowPin&) = delete;
        CameraList* get() const { return list; }

    private:
        std::atomic<int32_t>* readers;
        CameraList* list;
    };

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
    // A null-terminated array of the cameras' names, the same one for every
    // call until the set of cameras changes or the registry goes.
    const char** GetConfigNames();
    int Count() const { return static_cast<int>(cameras.size()); }

private:
    CameraList();
    Camera* FindByName(const char* name);
    // True when the calling thread is the link thread of one of the cameras.
    bool IsLinkThread() const;
    void WaitUntilUnused();
    // The names array for the cameras there are now (built with the registry
    // and at each change of its cameras); empty when it cannot be allocated.
    void BuildConfigNames();
    static DWORD WINAPI static_DestroyDetached(LPVOID list);

    // Exports using this registry now; guarded by the instance's lock.
    int users = 0;
    // Which of the row readers' counts its destruction waits for; set when
    // it stops being the instance.
    size_t rowReadersParity = 0;

    std::vector<std::unique_ptr<Camera>> cameras;
    bool initialized = false;
    std::unique_ptr<const char*[]> configNames;
};
