#include "camera/row_reader.h"

#include <atomic>
#include <cstdint>

#include "camera/camera_list.h"

namespace {

// Counts the changes of the ports; a look-up remembered from one count is
// good while the count stays.
std::atomic<uint64_t> routeGeneration{1};

// The camera this thread found last, for which port, at which count, and
// whether this thread is that camera's link thread (it had stored the
// camera's last frame). The count starts above 0, so that the empty route
// matches nothing.
struct Route {
    uint64_t generation = 0;
    int port = 0;
    Camera* camera = nullptr;
    bool linkThread = false;
};

thread_local Route lastRoute;

uint64_t Generation() {
    return routeGeneration.load(std::memory_order_acquire);
}

// The copy always starts at the row's first pixel; `first` only enters
// through the length.
int64_t RowBytes(const Camera& camera, int first, int last) {
    return (int64_t{last} - first + 1) * camera.FrameShape().bytesPerPixel;
}

// A read from a thread other than the link thread, in a pinned registry.
// The count is read after the pin: a registry's destruction counts a change
// before it lets go of its readers, so an unchanged count means that the
// remembered camera is in the pinned registry.
bool ReadPinned(CameraList& registry, Route& route, int port, void* dest, int row, int first, int last) {
    const uint64_t generation = Generation();
    Camera* camera = route.generation == generation && route.port == port ? route.camera : registry.GetByPort(port);
    // A closed camera is looked up (and logged) each time.
    if (camera->isOpen) {
        route = Route{generation, port, camera, camera->imageBuffer.WrittenOnThisThread()};
    }
    return camera->imageBuffer.CopyRow(row, dest, RowBytes(*camera, first, last));
}

}  // namespace

void PortRoutesChanged() {
    routeGeneration.fetch_add(1, std::memory_order_acq_rel);
}

bool ReadCameraRow(int port, void* dest, int row, int first, int last) {
    Route& route = lastRoute;
    if (route.linkThread && route.generation == Generation() && route.port == port) {
        return route.camera->imageBuffer.CopyRowAsWriter(row, dest, RowBytes(*route.camera, first, last));
    }
    const CameraList::RowPin pin;
    if (pin.get() != nullptr) {
        return ReadPinned(*pin.get(), route, port, dest, row, first, last);
    }
    // No registry yet: one is made, as by any other export.
    CameraList::Use registry;
    return ReadPinned(*registry, route, port, dest, row, first, last);
}
