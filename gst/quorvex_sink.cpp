// The element's GObject side: its properties, pads and the GstBaseSink and
// GstVideoSink steps, each handing the work to the SharePublisher.
#include "quorvex_sink.h"

#include <gst/video/gstvideosink.h>
#include <gst/video/video.h>

#include <new>
#include <string>

#include "element_support.h"
#include "format_table.h"
#include "share_publisher.h"

GST_DEBUG_CATEGORY_STATIC(quorvex_sink_debug);
#define GST_CAT_DEFAULT quorvex_sink_debug

namespace {

constexpr const char* kDefaultShare = "Camera Share";
constexpr int kDefaultMaxClients = 4;
constexpr int kDefaultWaitTimeoutMs = 10000;

enum Property {
    PROP_0,
    PROP_SHARE,
    PROP_MAX_CLIENTS,
    PROP_ORDER,
    PROP_WAIT_FOR_HOSTS,
    PROP_WAIT_TIMEOUT,
};

// Everything the element holds besides its GObject parent. The properties
// are guarded by the object lock; the rest belongs to the state changes and
// the streaming thread, which GStreamer never runs at once.
struct SinkState {
    quorvexgst::ShareSettings settings{kDefaultShare, kDefaultMaxClients, QUORVEX_ORDER_RGB};
    int waitForHosts = 0;
    int waitTimeoutMs = kDefaultWaitTimeoutMs;

    quorvexgst::SharePublisher publisher;
    GstVideoInfo info{};
    int layout = 0;
    bool waited = false;  // the first frame has waited for the hosts
    // The offset of the last buffer rendered: a source that counts its
    // frames there shows the ones lost on the way by a jump.
    guint64 lastOffset = GST_BUFFER_OFFSET_NONE;
};

GType OrderType() {
    static GType type = 0;
    if (g_once_init_enter(&type)) {
        static const GEnumValue kOrders[] = {
            {QUORVEX_ORDER_RGB, "Red, green, blue (, alpha)", "rgb"},
            {QUORVEX_ORDER_BGR, "Blue, green, red (, alpha)", "bgr"},
            {0, nullptr, nullptr},
        };
        g_once_init_leave(&type, g_enum_register_static("GstQuorvexSinkOrder", kOrders));
    }
    return type;
}

}  // namespace

struct GstQuorvexSink {
    GstVideoSink parent;
    SinkState state;
};

struct GstQuorvexSinkClass {
    GstVideoSinkClass parent_class;
};

G_DEFINE_TYPE(GstQuorvexSink, gst_quorvex_sink, GST_TYPE_VIDEO_SINK)

namespace {

GstQuorvexSink* Self(gpointer object) {
    return reinterpret_cast<GstQuorvexSink*>(object);
}

void SetProperty(GObject* object, guint id, const GValue* value, GParamSpec* paramSpec) {
    SinkState& state = Self(object)->state;
    GST_OBJECT_LOCK(object);
    switch (id) {
    case PROP_SHARE:
        state.settings.share = quorvexgst::TextOf(value, kDefaultShare);
        break;
    case PROP_MAX_CLIENTS:
        state.settings.maxClients = g_value_get_int(value);
        break;
    case PROP_ORDER:
        state.settings.order = g_value_get_enum(value);
        break;
    case PROP_WAIT_FOR_HOSTS:
        state.waitForHosts = g_value_get_int(value);
        break;
    case PROP_WAIT_TIMEOUT:
        state.waitTimeoutMs = g_value_get_int(value);
        break;
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, paramSpec);
        break;
    }
    GST_OBJECT_UNLOCK(object);
}

void GetProperty(GObject* object, guint id, GValue* value, GParamSpec* paramSpec) {
    const SinkState& state = Self(object)->state;
    GST_OBJECT_LOCK(object);
    switch (id) {
    case PROP_SHARE:
        g_value_set_string(value, state.settings.share.c_str());
        break;
    case PROP_MAX_CLIENTS:
        g_value_set_int(value, state.settings.maxClients);
        break;
    case PROP_ORDER:
        g_value_set_enum(value, state.settings.order);
        break;
    case PROP_WAIT_FOR_HOSTS:
        g_value_set_int(value, state.waitForHosts);
        break;
    case PROP_WAIT_TIMEOUT:
        g_value_set_int(value, state.waitTimeoutMs);
        break;
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, paramSpec);
        break;
    }
    GST_OBJECT_UNLOCK(object);
}

void Finalize(GObject* object) {
    Self(object)->state.~SinkState();
    G_OBJECT_CLASS(gst_quorvex_sink_parent_class)->finalize(object);
}

gboolean Start(GstBaseSink* sink) {
    SinkState& state = Self(sink)->state;
    GST_OBJECT_LOCK(sink);
    const quorvexgst::ShareSettings settings = state.settings;
    GST_OBJECT_UNLOCK(sink);
    std::string error;
    if (!state.publisher.Start(settings, error)) {
        GST_ELEMENT_ERROR(sink, RESOURCE, BUSY, ("%s", error.c_str()), ("QuorvexServerCreate returned no server"));
        return FALSE;
    }
    state.waited = false;
    state.layout = 0;
    state.lastOffset = GST_BUFFER_OFFSET_NONE;
    GST_INFO_OBJECT(sink, "serving \"%s\" for up to %d hosts", settings.share.c_str(), settings.maxClients);
    return TRUE;
}

gboolean Stop(GstBaseSink* sink) {
    Self(sink)->state.publisher.Stop();
    GST_INFO_OBJECT(sink, "share released");
    return TRUE;
}

gboolean Unlock(GstBaseSink* sink) {
    Self(sink)->state.publisher.Cancel();
    return TRUE;
}

gboolean UnlockStop(GstBaseSink* sink) {
    Self(sink)->state.publisher.Resume();
    return TRUE;
}

gboolean SetInfo(GstVideoSink* sink, GstCaps*, const GstVideoInfo* info) {
    SinkState& state = Self(sink)->state;
    const int layout = quorvexgst::ServerLayoutOf(GST_VIDEO_INFO_FORMAT(info));
    if (layout == 0) {
        GST_ERROR_OBJECT(sink, "%s is not a format the sink takes", GST_VIDEO_INFO_NAME(info));
        return FALSE;
    }
    std::string error;
    if (!state.publisher.SetFrameSize(GST_VIDEO_INFO_WIDTH(info), GST_VIDEO_INFO_HEIGHT(info),
                                      GST_VIDEO_INFO_COMP_PSTRIDE(info, 0), error)) {
        GST_ELEMENT_ERROR(sink, RESOURCE, NO_SPACE_LEFT, ("%s", error.c_str()), (nullptr));
        return FALSE;
    }
    state.info = *info;
    state.layout = layout;
    GST_INFO_OBJECT(sink, "frames of %dx%d %s", GST_VIDEO_INFO_WIDTH(info), GST_VIDEO_INFO_HEIGHT(info),
                    GST_VIDEO_INFO_NAME(info));
    return TRUE;
}

// With wait-for-hosts set, the first frame waits until that many hosts are
// attached, so that they see every frame from the first.
GstFlowReturn WaitForHosts(GstQuorvexSink* self) {
    SinkState& state = self->state;
    GST_OBJECT_LOCK(self);
    const int count = state.waitForHosts;
    const int timeoutMs = state.waitTimeoutMs;
    GST_OBJECT_UNLOCK(self);
    state.waited = true;
    if (count == 0) {
        return GST_FLOW_OK;
    }
    GST_INFO_OBJECT(self, "the first frame waits for %d host(s)", count);
    switch (state.publisher.WaitForHosts(count, timeoutMs)) {
    case quorvexgst::SharePublisher::WaitResult::Attached:
        GST_INFO_OBJECT(self, "%d host(s) attached", count);
        return GST_FLOW_OK;
    case quorvexgst::SharePublisher::WaitResult::Cancelled:
        state.waited = false;
        return GST_FLOW_FLUSHING;
    case quorvexgst::SharePublisher::WaitResult::TimedOut:
        break;
    }
    GST_ELEMENT_ERROR(self, RESOURCE, OPEN_WRITE, ("No %d host(s) attached within %d ms", count, timeoutMs), (nullptr));
    return GST_FLOW_ERROR;
}

// The first frame waits here, before the pipeline plays: its clock starts
// once the hosts are there, so the frames after the wait are not late.
// Nothing is published at preroll: a frame goes out once, when it is
// rendered.
GstFlowReturn Preroll(GstBaseSink* sink, GstBuffer*) {
    GstQuorvexSink* self = Self(sink);
    return self->state.waited ? GST_FLOW_OK : WaitForHosts(self);
}

// When the buffer was captured, on the server library's clock: its
// timestamp as a time of the pipeline's clock, moved by how far that clock
// lies from the library's now. 0 (the time of publishing) for a buffer
// without a timestamp or a pipeline without a clock.
int64_t CaptureMicroseconds(GstBaseSink* sink, GstBuffer* buffer) {
    const GstClockTime timestamp = GST_BUFFER_PTS(buffer);
    if (!GST_CLOCK_TIME_IS_VALID(timestamp)) {
        return 0;
    }
    const guint64 runningTime = gst_segment_to_running_time(&sink->segment, GST_FORMAT_TIME, timestamp);
    GstClock* clock = gst_element_get_clock(GST_ELEMENT(sink));
    if (clock == nullptr || !GST_CLOCK_TIME_IS_VALID(runningTime)) {
        if (clock != nullptr) {
            gst_object_unref(clock);
        }
        return 0;
    }
    const GstClockTime clockNow = gst_clock_get_time(clock);
    const int64_t libraryNow = QuorvexServerClockMicroseconds();
    gst_object_unref(clock);
    const GstClockTime captured = gst_element_get_base_time(GST_ELEMENT(sink)) + runningTime;
    const int64_t agoMicroseconds =
        (static_cast<int64_t>(clockNow) - static_cast<int64_t>(captured)) / static_cast<int64_t>(GST_USECOND);
    return libraryNow - agoMicroseconds;
}

GstFlowReturn ShowFrame(GstVideoSink* sink, GstBuffer* buffer) {
    GstQuorvexSink* self = Self(sink);
    SinkState& state = self->state;
    if (state.layout == 0) {
        return GST_FLOW_NOT_NEGOTIATED;
    }
    GST_LOG_OBJECT(self, "publishing a frame");
    const guint64 offset = GST_BUFFER_OFFSET(buffer);
    if (offset != GST_BUFFER_OFFSET_NONE && state.lastOffset != GST_BUFFER_OFFSET_NONE &&
        offset > state.lastOffset + 1) {
        // Hosts count the frames lost upstream as lost, as the numbers
        // the server leaves out tell them.
        const guint64 lost = offset - state.lastOffset - 1;
        state.publisher.SkipFrames(lost > G_MAXINT32 ? G_MAXINT32 : static_cast<int>(lost));
    }
    state.lastOffset = offset;
    GstVideoFrame frame;
    if (!gst_video_frame_map(&frame, &state.info, buffer, GST_MAP_READ)) {
        GST_ELEMENT_ERROR(self, STREAM, FAILED, ("Cannot read a frame's pixels"), (nullptr));
        return GST_FLOW_ERROR;
    }
    std::string error;
    const bool published = state.publisher.Publish(
        GST_VIDEO_FRAME_PLANE_DATA(&frame, 0), GST_VIDEO_FRAME_WIDTH(&frame), GST_VIDEO_FRAME_HEIGHT(&frame),
        GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0), state.layout, CaptureMicroseconds(GST_BASE_SINK(sink), buffer), error);
    gst_video_frame_unmap(&frame);
    if (!published) {
        // A host that holds the segment too long costs this frame, not the
        // pipeline.
        GST_ELEMENT_WARNING(self, RESOURCE, WRITE, ("A frame was not published: %s", error.c_str()), (nullptr));
    }
    return GST_FLOW_OK;
}

}  // namespace

static void gst_quorvex_sink_class_init(GstQuorvexSinkClass* klass) {
    GObjectClass* objectClass = G_OBJECT_CLASS(klass);
    GstElementClass* elementClass = GST_ELEMENT_CLASS(klass);
    GstBaseSinkClass* baseSinkClass = GST_BASE_SINK_CLASS(klass);
    GstVideoSinkClass* videoSinkClass = GST_VIDEO_SINK_CLASS(klass);

    GST_DEBUG_CATEGORY_INIT(quorvex_sink_debug, "quorvexsink", 0, "Quorvex camera-server sink");

    objectClass->set_property = SetProperty;
    objectClass->get_property = GetProperty;
    objectClass->finalize = Finalize;

    g_object_class_install_property(
        objectClass, PROP_SHARE,
        g_param_spec_string("share", "Share", "The share name the Quorvex cameras connect to (their PipeName setting)",
                            kDefaultShare, quorvexgst::kUntilReady));
    g_object_class_install_property(
        objectClass, PROP_MAX_CLIENTS,
        g_param_spec_int("max-clients", "Max clients", "The most hosts attached at once", 1, QUORVEX_SERVER_MAX_CLIENTS,
                         kDefaultMaxClients, quorvexgst::kUntilReady));
    g_object_class_install_property(
        objectClass, PROP_ORDER,
        g_param_spec_enum("order", "Order", "The channel order hosts receive for 3 and 4 bytes per pixel", OrderType(),
                          QUORVEX_ORDER_RGB, quorvexgst::kUntilReady));
    g_object_class_install_property(
        objectClass, PROP_WAIT_FOR_HOSTS,
        g_param_spec_int("wait-for-hosts", "Wait for hosts",
                         "Hold the first frame until this many hosts are attached (0: do not wait)", 0,
                         QUORVEX_SERVER_MAX_CLIENTS, 0, quorvexgst::kAnyTime));
    g_object_class_install_property(
        objectClass, PROP_WAIT_TIMEOUT,
        g_param_spec_int("wait-timeout", "Wait timeout",
                         "How long the first frame waits for the hosts, in milliseconds, before the sink fails", 0,
                         G_MAXINT, kDefaultWaitTimeoutMs, quorvexgst::kAnyTime));
    gst_type_mark_as_plugin_api(OrderType(), static_cast<GstPluginAPIFlags>(0));

    gst_element_class_set_static_metadata(
        elementClass, "Quorvex camera server", "Sink/Video",
        "Serves the video as a Quorvex camera server: hosts that open a Quorvex camera on the share receive every "
        "frame (GRAY8 as 1 byte per pixel, RGB/BGR as 3, RGBA/BGRA/RGBx/BGRx as 4, in the chosen channel order); a "
        "change of size reaches them as a Reset",
        "Quorvex project");
    quorvexgst::AddAlwaysPad(elementClass, "sink", GST_PAD_SINK, quorvexgst::SinkCapsString());

    baseSinkClass->start = Start;
    baseSinkClass->stop = Stop;
    baseSinkClass->preroll = Preroll;
    baseSinkClass->unlock = Unlock;
    baseSinkClass->unlock_stop = UnlockStop;
    videoSinkClass->set_info = SetInfo;
    videoSinkClass->show_frame = ShowFrame;
}

static void gst_quorvex_sink_init(GstQuorvexSink* self) {
    new (&self->state) SinkState();
}
