// One GenICam camera, opened and streaming through Aravis.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <arv.h>

#include "image_files.h"
#include "sensor_format.h"

namespace tools {

struct GObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
template <typename T>
using GObjectPtr = std::unique_ptr<T, GObjectUnref>;

// Owns the camera and, once started, its stream and the buffers in it.
// Used by one thread; Aravis reports a lost camera on a thread of its own,
// which only sets `lost_`.
class GenicamCamera {
public:
    enum class Next {
        Frame,  // `frame` holds a new frame
        None,   // nothing within the time-out, or a frame that came incomplete
        Lost,   // the camera no longer answers
    };

    ~GenicamCamera();
    GenicamCamera(const GenicamCamera&) = delete;
    GenicamCamera& operator=(const GenicamCamera&) = delete;

    // Opens the camera with this id, address or name, or the first one found
    // for an empty `device`; null with `error`.
    static std::unique_ptr<GenicamCamera> Open(const std::string& device, std::string& error);

    // One line per camera found: its id, vendor, model, address, protocol.
    static std::vector<std::string> List();

    // Sets a feature from "NAME=VALUE"; false with `error`.
    bool SetFeature(const std::string& assignment, std::string& error);

    // Checks that the server publishes the camera's pixel format and starts
    // streaming; false with `error` (for a format: the ones the camera
    // offers).
    bool Start(std::string& error);

    // Waits up to `timeout` for the next frame and converts it into `frame`;
    // `captureMicroseconds` is when the frame reached this machine, on the
    // system's real-time clock (0 when Aravis does not say).
    Next Wait(std::chrono::milliseconds timeout, Image& frame, int64_t& captureMicroseconds, std::string& error);

    // The most bytes a frame of the camera can take once published: the
    // sensor at 3 bytes per pixel.
    int64_t LargestFrameBytes() const;

    // What finds the camera again: its Aravis device id, or the address it
    // was opened by.
    const std::string& Id() const { return id_; }

    // "vendor model (id), WxH PixelFormat", once started.
    std::string Describe() const;

private:
    GenicamCamera(ArvCamera* camera, std::string id);
    static void OnControlLost(ArvDevice* device, gpointer self);
    std::string PixelFormatChoices();

    GObjectPtr<ArvCamera> camera_;
    std::string id_;
    GObjectPtr<ArvStream> stream_;
    std::string formatName_;
    SensorFormat format_ = SensorFormat::Mono8;
    std::atomic<bool> lost_{false};
    gulong lostHandler_ = 0;
};

}  // namespace tools
