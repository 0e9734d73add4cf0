// The element's GObject side: its properties, its pad and the GstBaseSrc
// and GstPushSrc steps, each handing the work to the SourceCamera, which
// reads the camera through the host library.
#include "quorvex_src.h"

#include <gst/base/gstpushsrc.h>
#include <gst/video/video.h>

#include <chrono>
#include <new>
#include <string>

#include "element_support.h"
#include "format_table.h"
#include "frame_buffer.h"
#include "source_camera.h"

GST_DEBUG_CATEGORY_STATIC(quorvex_src_debug);
#define GST_CAT_DEFAULT quorvex_src_debug

namespace {

constexpr const char* kDefaultCamera = "Camera 1";
constexpr int kDefaultPort = 1;

struct FrameSize {
    int width = 0;
    int height = 0;
    int bytesPerPixel = 0;

    bool operator==(const FrameSize& other) const {
        return width == other.width && height == other.height && bytesPerPixel == other.bytesPerPixel;
    }
    bool operator!=(const FrameSize& other) const { return !(*this == other); }
};

enum Property {
    PROP_0,
    PROP_CAMERA,
    PROP_SHARE,
    PROP_SYSTEM_DIR,
    PROP_PORT,
    PROP_TIMESTAMPS,
};

// Which time a buffer's PTS tells.
enum SrcTimestamps {
    TIMESTAMPS_ARRIVAL,  // when the camera took the frame
    TIMESTAMPS_CAPTURE,  // when the server's source captured it, where the server says
};

GType TimestampsType() {
    static const GType type = [] {
        static const GEnumValue values[] = {
            {TIMESTAMPS_ARRIVAL, "When the camera received the frame", "arrival"},
            {TIMESTAMPS_CAPTURE,
             "When the server's source captured the frame, where the server stamps it (else its arrival)", "capture"},
            {0, nullptr, nullptr},
        };
        return g_enum_register_static("GstQuorvexSrcTimestamps", values);
    }();
    return type;
}

// Everything the element holds besides its GObject parent. The settings and
// the negotiated size are guarded by the object lock: queries read the size
// from any thread.
struct SrcState {
    quorvexgst::SourceSettings settings;
    SrcTimestamps timestamps = TIMESTAMPS_ARRIVAL;
    quorvexgst::SourceCamera camera;
    FrameSize negotiated;
    // The streaming thread's own, from Start on: the last buffer's PTS, and
    // whether the next buffer follows a caps change.
    GstClockTime lastPts = GST_CLOCK_TIME_NONE;
    guint64 lastOffset = GST_BUFFER_OFFSET_NONE;
    bool capsChanged = false;
};

// The layout of frames of `size`, GStreamer's default for their format: the
// caps promise it, and the buffers have it.
GstVideoInfo InfoOf(const FrameSize& size) {
    GstVideoInfo info;
    gst_video_info_set_format(&info, quorvexgst::HostFormatOf(size.bytesPerPixel), static_cast<guint>(size.width),
                              static_cast<guint>(size.height));
    GST_VIDEO_INFO_FPS_N(&info) = 0;
    GST_VIDEO_INFO_FPS_D(&info) = 1;
    return info;
}

GstCaps* CapsOf(const FrameSize& size) {
    const GstVideoInfo info = InfoOf(size);
    return gst_video_info_to_caps(&info);
}

FrameSize SizeOf(const QuorvexHostFrame& frame) {
    return FrameSize{frame.width, frame.height, frame.bytesPerPixel};
}

// The running time at which a frame arrived, its steady-clock time carried
// over to the element's clock; none without a clock, or for a frame that
// came before the element started playing: such a frame is nobody's.
GstClockTime RunningTimeOf(GstElement* element, long long arrivedUs) {
    GstClock* clock = gst_element_get_clock(element);
    if (clock == nullptr) {
        return GST_CLOCK_TIME_NONE;
    }
    const GstClockTime now = gst_clock_get_time(clock);
    gst_object_unref(clock);
    const long long nowUs =
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count();
    const GstClockTime age = nowUs > arrivedUs ? static_cast<GstClockTime>(nowUs - arrivedUs) * GST_USECOND : 0;
    const GstClockTime base = gst_element_get_base_time(element);
    if (now < age || now - age < base) {
        return GST_CLOCK_TIME_NONE;
    }
    return now - age - base;
}

// The running time at which the server's source captured the frame, on the
// element's clock. The capture time is on the system's real-time clock,
// which neither the element's clock nor the steady clock follows exactly;
// so the frame's age at arrival (arrivedRealUs - captureUs, both read on the
// real-time clock) is taken back from its running time of arrival: the
// offset between the two clocks is the one at the frame's arrival, and a
// step of the real-time clock moves no PTS by more than the step within one
// frame. An age below zero (a server on a clock ahead of ours) counts as
// none; the PTS never goes before the previous buffer's, nor before 0.
GstClockTime CaptureRunningTime(const QuorvexHostFrame& frame, GstClockTime arrived, GstClockTime lastPts) {
    if (frame.captureUs <= 0) {
        return arrived;
    }
    const long long ageUs = frame.arrivedRealUs > frame.captureUs ? frame.arrivedRealUs - frame.captureUs : 0;
    const GstClockTime age = static_cast<GstClockTime>(ageUs) * GST_USECOND;
    GstClockTime captured = arrived > age ? arrived - age : 0;
    if (GST_CLOCK_TIME_IS_VALID(lastPts) && captured < lastPts) {
        captured = lastPts;
    }
    return captured;
}

}  // namespace

struct GstQuorvexSrc {
    GstPushSrc parent;
    SrcState state;
};

struct GstQuorvexSrcClass {
    GstPushSrcClass parent_class;
};

G_DEFINE_TYPE(GstQuorvexSrc, gst_quorvex_src, GST_TYPE_PUSH_SRC)

namespace {

GstQuorvexSrc* Self(gpointer object) {
    return reinterpret_cast<GstQuorvexSrc*>(object);
}

void SetProperty(GObject* object, guint id, const GValue* value, GParamSpec* paramSpec) {
    quorvexgst::SourceSettings& settings = Self(object)->state.settings;
    GST_OBJECT_LOCK(object);
    switch (id) {
    case PROP_CAMERA:
        settings.camera = quorvexgst::TextOf(value, "");
        break;
    case PROP_SHARE:
        settings.share = quorvexgst::TextOf(value, "");
        break;
    case PROP_SYSTEM_DIR:
        settings.systemDir = quorvexgst::TextOf(value, "");
        break;
    case PROP_PORT:
        settings.port = g_value_get_int(value);
        break;
    case PROP_TIMESTAMPS:
        Self(object)->state.timestamps = static_cast<SrcTimestamps>(g_value_get_enum(value));
        break;
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, paramSpec);
        break;
    }
    GST_OBJECT_UNLOCK(object);
}

void GetProperty(GObject* object, guint id, GValue* value, GParamSpec* paramSpec) {
    const quorvexgst::SourceSettings& settings = Self(object)->state.settings;
    const auto setText = [value](const std::string& text) {
        g_value_set_string(value, text.empty() ? nullptr : text.c_str());
    };
    GST_OBJECT_LOCK(object);
    switch (id) {
    case PROP_CAMERA:
        setText(settings.camera);
        break;
    case PROP_SHARE:
        setText(settings.share);
        break;
    case PROP_SYSTEM_DIR:
        setText(settings.systemDir);
        break;
    case PROP_PORT:
        g_value_set_int(value, settings.port);
        break;
    case PROP_TIMESTAMPS:
        g_value_set_enum(value, Self(object)->state.timestamps);
        break;
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, paramSpec);
        break;
    }
    GST_OBJECT_UNLOCK(object);
}

void Finalize(GObject* object) {
    Self(object)->state.~SrcState();
    G_OBJECT_CLASS(gst_quorvex_src_parent_class)->finalize(object);
}

FrameSize Negotiated(GstBaseSrc* src) {
    GST_OBJECT_LOCK(src);
    const FrameSize size = Self(src)->state.negotiated;
    GST_OBJECT_UNLOCK(src);
    return size;
}

void SetNegotiated(GstBaseSrc* src, const FrameSize& size) {
    GST_OBJECT_LOCK(src);
    Self(src)->state.negotiated = size;
    GST_OBJECT_UNLOCK(src);
}

gboolean Start(GstBaseSrc* src) {
    SrcState& state = Self(src)->state;
    GST_OBJECT_LOCK(src);
    quorvexgst::SourceSettings settings = state.settings;
    GST_OBJECT_UNLOCK(src);
    if (settings.systemDir.empty()) {
        gchar* here = g_get_current_dir();
        settings.systemDir = here;
        g_free(here);
    }
    SetNegotiated(src, FrameSize{});
    state.lastPts = GST_CLOCK_TIME_NONE;
    state.lastOffset = GST_BUFFER_OFFSET_NONE;
    state.capsChanged = false;
    std::string error;
    if (!state.camera.Open(settings, error)) {
        GST_ELEMENT_ERROR(src, RESOURCE, OPEN_READ, ("%s", error.c_str()),
                          ("%s in the system folder %s", settings.camera.c_str(), settings.systemDir.c_str()));
        return FALSE;
    }
    return TRUE;
}

gboolean Stop(GstBaseSrc* src) {
    Self(src)->state.camera.Close();
    return TRUE;
}

gboolean Unlock(GstBaseSrc* src) {
    Self(src)->state.camera.SetFlushing(true);
    return TRUE;
}

gboolean UnlockStop(GstBaseSrc* src) {
    Self(src)->state.camera.SetFlushing(false);
    return TRUE;
}

// The caps are known once a frame has come: until then there is nothing to
// agree on, and the first frame brings its caps.
gboolean Negotiate(GstBaseSrc* src) {
    const FrameSize size = Negotiated(src);
    if (size.width == 0) {
        return TRUE;
    }
    GstCaps* caps = CapsOf(size);
    const gboolean set = gst_base_src_set_caps(src, caps);
    gst_caps_unref(caps);
    return set;
}

GstCaps* GetCaps(GstBaseSrc* src, GstCaps* filter) {
    const FrameSize size = Negotiated(src);
    GstCaps* caps = size.width == 0 ? gst_pad_get_pad_template_caps(GST_BASE_SRC_PAD(src)) : CapsOf(size);
    if (filter == nullptr) {
        return caps;
    }
    GstCaps* both = gst_caps_intersect_full(filter, caps, GST_CAPS_INTERSECT_FIRST);
    gst_caps_unref(caps);
    return both;
}

// Waits for a frame that arrived while the element was playing; anything
// but GST_FLOW_OK ends the wait without one. While no server answers, a
// warning on the bus says so every few seconds and the wait goes on; a
// stream the server ended is the end of this one.
GstFlowReturn WaitForFrame(GstPushSrc* src, quorvexgst::LentFrame& frame, GstClockTime& arrived) {
    using quorvexgst::Waited;
    std::string why;
    for (;;) {
        switch (Self(src)->state.camera.Wait(frame, why)) {
        case Waited::kFrame:
            arrived = RunningTimeOf(GST_ELEMENT(src), frame.Get().arrivedUs);
            if (GST_CLOCK_TIME_IS_VALID(arrived)) {
                return GST_FLOW_OK;
            }
            break;
        case Waited::kFlushing:
            return GST_FLOW_FLUSHING;
        case Waited::kNoServer:
            GST_ELEMENT_WARNING(src, RESOURCE, NOT_FOUND, ("%s", why.c_str()), (nullptr));
            break;
        case Waited::kEnded:
            GST_INFO_OBJECT(src, "%s", why.c_str());
            return GST_FLOW_EOS;
        case Waited::kFailed:
            GST_ELEMENT_ERROR(src, RESOURCE, READ, ("%s", why.c_str()), (nullptr));
            return GST_FLOW_ERROR;
        }
    }
}

GstFlowReturn Create(GstPushSrc* src, GstBuffer** out) {
    quorvexgst::LentFrame frame;
    GstClockTime arrived = GST_CLOCK_TIME_NONE;
    const GstFlowReturn waited = WaitForFrame(src, frame, arrived);
    if (waited != GST_FLOW_OK) {
        return waited;
    }
    SrcState& state = Self(src)->state;
    const QuorvexHostFrame& got = frame.Get();
    const FrameSize size = SizeOf(got);
    if (size != Negotiated(GST_BASE_SRC(src))) {
        state.capsChanged = true;
        GST_INFO_OBJECT(src, "the camera's frames are now %dx%d, %d bytes per pixel", size.width, size.height,
                        size.bytesPerPixel);
        SetNegotiated(GST_BASE_SRC(src), size);
        if (!Negotiate(GST_BASE_SRC(src))) {
            GST_ELEMENT_ERROR(src, STREAM, FORMAT,
                              ("Downstream does not take %dx%d frames of %d bytes per pixel", size.width, size.height,
                               size.bytesPerPixel),
                              (nullptr));
            return GST_FLOW_NOT_NEGOTIATED;
        }
    }
    quorvexgst::UniqueBuffer buffer = quorvexgst::BufferOf(frame.Get(), InfoOf(size));
    if (!buffer) {
        GST_ELEMENT_ERROR(
            src, RESOURCE, NO_SPACE_LEFT,
            ("No buffer for a frame of %dx%d, %d bytes per pixel", size.width, size.height, size.bytesPerPixel),
            (nullptr));
        return GST_FLOW_ERROR;
    }
    GST_OBJECT_LOCK(src);
    const SrcTimestamps timestamps = state.timestamps;
    GST_OBJECT_UNLOCK(src);
    const GstClockTime pts =
        timestamps == TIMESTAMPS_CAPTURE ? CaptureRunningTime(got, arrived, state.lastPts) : arrived;
    GST_BUFFER_PTS(buffer.get()) = pts;
    state.lastPts = pts;
    // The offset is the server's frame number where the server numbers its
    // frames, so that a jump in it is a frame lost on the way; else the
    // camera's count from 0, whose gaps are frames dropped before they were
    // read.
    const guint64 offset = static_cast<guint64>(got.serverNumber > 0 ? got.serverNumber : got.number - 1);
    GST_BUFFER_OFFSET(buffer.get()) = offset;
    // GstBaseSrc marks the first buffer after a start or a flush; the
    // element marks those of new caps and those after frames lost on the
    // way (a gap in the server's numbers) or dropped from the camera's queue
    // (an offset that jumps).
    const bool jumped = state.lastOffset != GST_BUFFER_OFFSET_NONE && offset > state.lastOffset + 1;
    if (got.gap > 0 || jumped || state.capsChanged) {
        GST_BUFFER_FLAG_SET(buffer.get(), GST_BUFFER_FLAG_DISCONT);
    }
    state.lastOffset = offset;
    state.capsChanged = false;
    *out = buffer.release();
    return GST_FLOW_OK;
}

}  // namespace

static void gst_quorvex_src_class_init(GstQuorvexSrcClass* klass) {
    GObjectClass* objectClass = G_OBJECT_CLASS(klass);
    GstElementClass* elementClass = GST_ELEMENT_CLASS(klass);
    GstBaseSrcClass* baseSrcClass = GST_BASE_SRC_CLASS(klass);
    GstPushSrcClass* pushSrcClass = GST_PUSH_SRC_CLASS(klass);

    GST_DEBUG_CATEGORY_INIT(quorvex_src_debug, "quorvexsrc", 0, "Quorvex camera source");

    objectClass->set_property = SetProperty;
    objectClass->get_property = GetProperty;
    objectClass->finalize = Finalize;

    g_object_class_install_property(objectClass, PROP_CAMERA,
                                    g_param_spec_string("camera", "Camera", "The driver's camera to open",
                                                        kDefaultCamera, quorvexgst::kUntilReady));
    g_object_class_install_property(
        objectClass, PROP_SHARE,
        g_param_spec_string("share", "Share",
                            "The share to connect to, written into the camera's settings (PipeName) before it opens; "
                            "unset: the camera keeps the share of its settings",
                            nullptr, quorvexgst::kUntilReady));
    g_object_class_install_property(
        objectClass, PROP_SYSTEM_DIR,
        g_param_spec_string("system-dir", "System folder",
                            "The folder of the driver's settings file (Quorvex.ini) and log; unset: the current folder",
                            nullptr, quorvexgst::kUntilReady));
    g_object_class_install_property(objectClass, PROP_PORT,
                                    g_param_spec_int("port", "Port", "The port number the camera is opened on", 0,
                                                     G_MAXINT, kDefaultPort, quorvexgst::kUntilReady));
    g_object_class_install_property(
        objectClass, PROP_TIMESTAMPS,
        g_param_spec_enum("timestamps", "Timestamps",
                          "What the buffers' PTS tell: the frames' arrival, or their capture by the server's source "
                          "(from a server that stamps its frames; else their arrival)",
                          TimestampsType(), TIMESTAMPS_ARRIVAL,
                          static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS)));

    gst_element_class_set_static_metadata(
        elementClass, "Quorvex camera", "Source/Video",
        "Receives a Quorvex camera's frames through the Quorvex driver, as a host does: GRAY8, RGB or RGBA at the "
        "size the camera server sends, stamped with their arrival or capture time, numbered as the server numbers "
        "them, renegotiated when the camera resets",
        "Quorvex project");
    quorvexgst::AddAlwaysPad(elementClass, "src", GST_PAD_SRC, quorvexgst::SourceCapsString());

    baseSrcClass->start = Start;
    baseSrcClass->stop = Stop;
    baseSrcClass->unlock = Unlock;
    baseSrcClass->unlock_stop = UnlockStop;
    baseSrcClass->negotiate = Negotiate;
    baseSrcClass->get_caps = GetCaps;
    pushSrcClass->create = Create;
}

static void gst_quorvex_src_init(GstQuorvexSrc* self) {
    new (&self->state) SrcState();
    self->state.settings.camera = kDefaultCamera;
    self->state.settings.port = kDefaultPort;
    gst_base_src_set_live(GST_BASE_SRC(self), TRUE);
    gst_base_src_set_format(GST_BASE_SRC(self), GST_FORMAT_TIME);
}
