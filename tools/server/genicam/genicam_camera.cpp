#include "genicam_camera.h"

#include <algorithm>

namespace tools {
namespace {

// Buffers in the stream: enough for the server to fall a few frames behind
// without the camera losing any.
constexpr int kStreamBuffers = 8;
constexpr int kBytesPerPublishedPixel = 3;

struct GErrorFree {
    void operator()(GError* error) const { g_error_free(error); }
};
using ErrorPtr = std::unique_ptr<GError, GErrorFree>;

// Catches the GError of one Aravis call.
class Failure {
public:
    GError** Out() { return &raw_; }
    explicit operator bool() const { return raw_ != nullptr; }
    std::string Text() const { return raw_ != nullptr ? raw_->message : "unknown error"; }
    ~Failure() { ErrorPtr owner(raw_); }

private:
    GError* raw_ = nullptr;
};

std::string Text(const char* text) {
    return text != nullptr ? text : "?";
}

// A GigE Vision camera at `address`, talked to from the local address that
// the system sends from to reach it. Aravis's discovery may pick another
// interface that also sees the camera (one on the loopback interface answers
// a broadcast on every interface), and then the camera's answers never
// reach it.
ArvDevice* OpenGigEVision(GInetAddress* address, GError** error) {
    constexpr guint16 kControlPort = 3956;
    GObjectPtr<GSocket> probe(
        g_socket_new(g_inet_address_get_family(address), G_SOCKET_TYPE_DATAGRAM, G_SOCKET_PROTOCOL_UDP, error));
    if (!probe) {
        return nullptr;
    }
    GObjectPtr<GSocketAddress> remote(g_inet_socket_address_new(address, kControlPort));
    if (!g_socket_connect(probe.get(), remote.get(), nullptr, error)) {
        return nullptr;
    }
    GObjectPtr<GSocketAddress> local(g_socket_get_local_address(probe.get(), error));
    if (!local) {
        return nullptr;
    }
    return arv_gv_device_new(g_inet_socket_address_get_address(G_INET_SOCKET_ADDRESS(local.get())), address, error);
}

}  // namespace

GenicamCamera::GenicamCamera(ArvCamera* camera, std::string id) : camera_(camera), id_(std::move(id)) {
    lostHandler_ = g_signal_connect(arv_camera_get_device(camera_.get()), "control-lost",
                                    G_CALLBACK(&GenicamCamera::OnControlLost), this);
}

GenicamCamera::~GenicamCamera() {
    if (stream_) {
        Failure ignored;
        arv_camera_stop_acquisition(camera_.get(), ignored.Out());
    }
    stream_.reset();
    g_signal_handler_disconnect(arv_camera_get_device(camera_.get()), lostHandler_);
}

void GenicamCamera::OnControlLost(ArvDevice*, gpointer self) {
    static_cast<GenicamCamera*>(self)->lost_ = true;
}

std::unique_ptr<GenicamCamera> GenicamCamera::Open(const std::string& device, std::string& error) {
    Failure failure;
    std::string id = device;
    GObjectPtr<GInetAddress> address(g_inet_address_new_from_string(device.c_str()));
    if (!address) {
        arv_update_device_list();
        const unsigned count = arv_get_n_devices();
        unsigned index = 0;
        while (index < count && !device.empty() && device != Text(arv_get_device_id(index))) {
            ++index;
        }
        if (index == count) {
            error = device.empty() ? "no GenICam camera found" : "no GenICam camera \"" + device + "\" found";
            return nullptr;
        }
        id = Text(arv_get_device_id(index));
        if (Text(arv_get_device_protocol(index)) == "GigEVision") {
            address.reset(g_inet_address_new_from_string(Text(arv_get_device_address(index)).c_str()));
        }
    }
    ArvCamera* camera = nullptr;
    if (address) {
        GObjectPtr<ArvDevice> gvDevice(OpenGigEVision(address.get(), failure.Out()));
        if (gvDevice) {
            camera = arv_camera_new_with_device(gvDevice.get(), failure.Out());
        }
    } else {
        camera = arv_camera_new(id.c_str(), failure.Out());
    }
    if (camera == nullptr) {
        error = "cannot open the GenICam camera \"" + id + "\": " + failure.Text();
        return nullptr;
    }
    return std::unique_ptr<GenicamCamera>(new GenicamCamera(camera, id));
}

std::vector<std::string> GenicamCamera::List() {
    arv_update_device_list();
    std::vector<std::string> lines;
    for (unsigned i = 0; i < arv_get_n_devices(); ++i) {
        lines.push_back(Text(arv_get_device_id(i)) + ": " + Text(arv_get_device_vendor(i)) + " " +
                        Text(arv_get_device_model(i)) + ", " + Text(arv_get_device_protocol(i)) + " at " +
                        Text(arv_get_device_address(i)));
    }
    return lines;
}

bool GenicamCamera::SetFeature(const std::string& assignment, std::string& error) {
    const size_t equals = assignment.find('=');
    const std::string name = assignment.substr(0, equals);
    const std::string value = assignment.substr(equals + 1);
    ArvGcNode* node = arv_device_get_feature(arv_camera_get_device(camera_.get()), name.c_str());
    if (node == nullptr || !ARV_IS_GC_FEATURE_NODE(node)) {
        error = "the camera has no feature " + name;
        return false;
    }
    Failure failure;
    arv_gc_feature_node_set_value_from_string(ARV_GC_FEATURE_NODE(node), value.c_str(), failure.Out());
    if (failure) {
        error = "cannot set " + assignment + ": " + failure.Text();
        return false;
    }
    return true;
}

std::string GenicamCamera::PixelFormatChoices() {
    Failure failure;
    guint count = 0;
    const char** names = arv_camera_dup_available_pixel_formats_as_strings(camera_.get(), &count, failure.Out());
    std::string choices;
    for (guint i = 0; names != nullptr && i < count; ++i) {
        choices += (i == 0 ? "" : ", ") + Text(names[i]);
    }
    g_free(static_cast<gpointer>(names));
    return choices.empty() ? "none that it names" : choices;
}

bool GenicamCamera::Start(std::string& error) {
    Failure failure;
    formatName_ = Text(arv_camera_get_pixel_format_as_string(camera_.get(), failure.Out()));
    if (failure) {
        // A camera that does not answer in time is not one whose format
        // the server cannot publish.
        error = "cannot read the camera's pixel format: " + failure.Text();
        return false;
    }
    const std::optional<SensorFormat> format = SensorFormatFromName(formatName_);
    if (!format) {
        error = "the camera's pixel format " + formatName_ + " cannot be published; the camera offers " +
                PixelFormatChoices() + "; the server publishes " + PublishedFormatNames() +
                " (choose one with --feature PixelFormat=NAME)";
        return false;
    }
    format_ = *format;
    const guint payload = arv_camera_get_payload(camera_.get(), failure.Out());
    if (!failure) {
        stream_.reset(arv_camera_create_stream(camera_.get(), nullptr, nullptr, failure.Out()));
    }
    if (!failure && stream_) {
        for (int i = 0; i < kStreamBuffers; ++i) {
            arv_stream_push_buffer(stream_.get(), arv_buffer_new(payload, nullptr));
        }
        arv_camera_set_acquisition_mode(camera_.get(), ARV_ACQUISITION_MODE_CONTINUOUS, failure.Out());
    }
    if (!failure && stream_) {
        arv_camera_start_acquisition(camera_.get(), failure.Out());
    }
    if (failure || !stream_) {
        error = "cannot start streaming: " + failure.Text();
        stream_.reset();
        return false;
    }
    return true;
}

GenicamCamera::Next GenicamCamera::Wait(std::chrono::milliseconds timeout, Image& frame, int64_t& captureMicroseconds,
                                        std::string& error) {
    const auto microseconds = std::chrono::duration_cast<std::chrono::microseconds>(timeout).count();
    ArvBuffer* buffer = arv_stream_timeout_pop_buffer(stream_.get(), static_cast<guint64>(microseconds));
    if (buffer == nullptr) {
        return lost_ ? Next::Lost : Next::None;
    }
    Next next = Next::None;
    if (arv_buffer_get_status(buffer) == ARV_BUFFER_STATUS_SUCCESS) {
        size_t size = 0;
        const auto* data = static_cast<const uint8_t*>(arv_buffer_get_data(buffer, &size));
        if (ConvertSensorFrame(format_, arv_buffer_get_image_width(buffer), arv_buffer_get_image_height(buffer), data,
                               size, frame, error)) {
            // Aravis stamps a buffer with the real-time clock as its last
            // packet arrives, in nanoseconds.
            captureMicroseconds = static_cast<int64_t>(arv_buffer_get_system_timestamp(buffer) / 1000);
            next = Next::Frame;
        }
    }
    arv_stream_push_buffer(stream_.get(), buffer);
    return next;
}

int64_t GenicamCamera::LargestFrameBytes() const {
    Failure failure;
    gint width = 0;
    gint height = 0;
    arv_camera_get_sensor_size(camera_.get(), &width, &height, failure.Out());
    gint minimum = 0;
    gint maximum = 0;
    // A region wider than the sensor (binning off, padding) must fit too.
    arv_camera_get_width_bounds(camera_.get(), &minimum, &maximum, nullptr);
    width = std::max(width, maximum);
    arv_camera_get_height_bounds(camera_.get(), &minimum, &maximum, nullptr);
    height = std::max(height, maximum);
    return int64_t{width} * height * kBytesPerPublishedPixel;
}

std::string GenicamCamera::Describe() const {
    Failure failure;
    gint x = 0;
    gint y = 0;
    gint width = 0;
    gint height = 0;
    arv_camera_get_region(camera_.get(), &x, &y, &width, &height, failure.Out());
    return Text(arv_camera_get_vendor_name(camera_.get(), nullptr)) + " " +
           Text(arv_camera_get_model_name(camera_.get(), nullptr)) + " (" + id_ + "), " + std::to_string(width) + "x" +
           std::to_string(height) + " " + formatName_;
}

}  // namespace tools
