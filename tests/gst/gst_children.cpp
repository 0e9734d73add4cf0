#include "gst_children.h"

#include <gst/app/gstappsrc.h>
#include <gst/gst.h>

#include <cstdio>
#include <string>
#include <vector>

#include "host_acknowledgements.h"
#include "support/child_process.h"

namespace gsttest {
namespace {

constexpr int kFps = 50;
constexpr guint64 kEndWaitSeconds = 60;
constexpr unsigned kAckWaitMs = 30000;

// Plays the pipeline to its end; true at the end of the stream.
bool PlayToEnd(GstElement* pipeline) {
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    GstBus* bus = gst_element_get_bus(pipeline);
    GstMessage* message = gst_bus_timed_pop_filtered(bus, kEndWaitSeconds * GST_SECOND,
                                                     static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    const bool ended = message != nullptr && GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS;
    if (message != nullptr && !ended) {
        GError* failure = nullptr;
        gst_message_parse_error(message, &failure, nullptr);
        std::fprintf(stderr, "pipeline error: %s\n", failure->message);
        g_error_free(failure);
    }
    if (message != nullptr) {
        gst_message_unref(message);
    }
    gst_object_unref(bus);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    return ended;
}

GstElement* Parse(const std::string& description) {
    GError* error = nullptr;
    GstElement* pipeline = gst_parse_launch(description.c_str(), &error);
    if (error != nullptr) {
        std::fprintf(stderr, "%s\n", error->message);
        g_error_free(error);
    }
    return pipeline;
}

GstCaps* Gray8Caps(Size size) {
    return gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "GRAY8", "width", G_TYPE_INT, size.width,
                               "height", G_TYPE_INT, size.height, "framerate", GST_TYPE_FRACTION, kFps, 1, nullptr);
}

void PushFrames(GstAppSrc* feed, Size size, int seed, int& number) {
    GstCaps* caps = Gray8Caps(size);
    gst_app_src_set_caps(feed, caps);
    gst_caps_unref(caps);
    const GstClockTime period = GST_SECOND / kFps;
    const gsize bytes = static_cast<gsize>(size.width) * static_cast<gsize>(size.height);
    for (int i = 0; i < kFramesPerSize; ++i, ++number) {
        GstBuffer* buffer = gst_buffer_new_allocate(nullptr, bytes, nullptr);
        gst_buffer_memset(buffer, 0, static_cast<guint8>(seed + i), bytes);
        GST_BUFFER_PTS(buffer) = static_cast<GstClockTime>(number) * period;
        GST_BUFFER_DURATION(buffer) = period;
        gst_app_src_push_buffer(feed, buffer);
    }
}

int CapsChangeChild(const std::vector<std::string>& args) {
    if (args.size() != 1) {
        return 2;
    }
    gst_init(nullptr, nullptr);
    GstElement* pipeline =
        Parse("appsrc name=feed format=time ! quorvexsink share=" + args[0] + " wait-for-hosts=1 max-lateness=-1");
    if (pipeline == nullptr) {
        return 3;
    }
    GstElement* feed = gst_bin_get_by_name(GST_BIN(pipeline), "feed");
    int number = 0;
    PushFrames(GST_APP_SRC(feed), kFirstSize, 0, number);
    PushFrames(GST_APP_SRC(feed), kSecondSize, kSecondSeed, number);
    gst_app_src_end_of_stream(GST_APP_SRC(feed));
    const bool ended = PlayToEnd(pipeline);
    gst_object_unref(feed);
    gst_object_unref(pipeline);
    return ended ? 0 : 1;
}

// Holds each frame that reaches the sink until the host has acknowledged
// the one before it.
struct Lockstep {
    HostAcknowledgements acknowledgements;
    bool first = true;

    static GstPadProbeReturn OnBuffer(GstPad*, GstPadProbeInfo*, gpointer self) {
        static_cast<Lockstep*>(self)->WaitForHost();
        return GST_PAD_PROBE_OK;
    }

    void WaitForHost() {
        if (!first && !acknowledgements.Wait(kAckWaitMs)) {
            std::fprintf(stderr, "the host acknowledged no frame for %u ms\n", kAckWaitMs);
        }
        first = false;
    }
};

int LockstepChild(const std::vector<std::string>& args) {
    if (args.size() != 2) {
        return 2;
    }
    gst_init(nullptr, nullptr);
    GstElement* pipeline = Parse(args[1]);
    GstElement* sink = pipeline != nullptr ? gst_bin_get_by_name(GST_BIN(pipeline), "sink") : nullptr;
    if (sink == nullptr) {
        return 3;
    }
    Lockstep lockstep;
    if (!lockstep.acknowledgements.Open(args[0])) {
        return 4;
    }
    GstPad* pad = gst_element_get_static_pad(sink, "sink");
    gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, &Lockstep::OnBuffer, &lockstep, nullptr);
    gst_object_unref(pad);
    const bool ended = PlayToEnd(pipeline);
    gst_object_unref(sink);
    gst_object_unref(pipeline);
    return ended ? 0 : 1;
}

}  // namespace

const char* const kCapsChangeVerb = "caps-change";
const bool kCapsChangeRegistered = testsupport::RegisterChildVerb(kCapsChangeVerb, CapsChangeChild);
const char* const kLockstepVerb = "lockstep";
const bool kLockstepRegistered = testsupport::RegisterChildVerb(kLockstepVerb, LockstepChild);

}  // namespace gsttest
