#include "sink_publishers.h"

#include <gst/gst.h>

#include <array>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "quorvex_server.h"

namespace bench {
namespace {

constexpr int kHostWaitMs = 10000;
constexpr guint64 kFlushWaitSeconds = 30;

void FillPixels(std::vector<uint8_t>& pixels) {
    for (size_t i = 0; i < pixels.size(); ++i) {
        pixels[i] = static_cast<uint8_t>(i * 7);
    }
}

void WriteStamp(uint8_t* pixels, int32_t number) {
    const Stamp stamp{platform::MonotonicNanoseconds(), number, 0};
    std::memcpy(pixels, &stamp, sizeof stamp);
}

class SdkPublisher : public SinkPublisher {
public:
    ~SdkPublisher() override {
        if (server_ != nullptr) {
            QuorvexServerDestroy(server_);
        }
    }

    bool Start(const std::string& share, int width, int height) override {
        width_ = width;
        height_ = height;
        pixels_.resize(static_cast<size_t>(width) * static_cast<size_t>(height));
        FillPixels(pixels_);
        server_ = QuorvexServerCreate(share.c_str(), static_cast<int>(pixels_.size()), 1);
        return server_ != nullptr && QuorvexServerSetDimensions(server_, width, height, 1) >= 0 &&
               QuorvexServerWaitForClients(server_, 1, kHostWaitMs) == 1;
    }

    bool Publish(int32_t number) override {
        WriteStamp(pixels_.data(), number);
        return QuorvexServerPublishFrameEx(server_, pixels_.data(), width_, height_, width_, QUORVEX_FORMAT_GRAY8) >= 0;
    }

    bool Flush() override { return true; }

private:
    QuorvexServer* server_ = nullptr;
    int width_ = 0;
    int height_ = 0;
    std::vector<uint8_t> pixels_;
};

// quorvexsink fed from a pad of the benchmark's own, on the calling thread,
// as an upstream element's streaming thread feeds it. The frames live in a
// ring of blocks that the buffers wrap; a block is used again once the sink
// has let go of its buffer, and is stamped just before it is pushed.
class GstPublisher : public SinkPublisher {
public:
    explicit GstPublisher(const std::string& pluginDir) {
        g_setenv("GST_PLUGIN_PATH", pluginDir.c_str(), TRUE);
        gst_init(nullptr, nullptr);
    }

    ~GstPublisher() override {
        if (pipeline_ != nullptr) {
            gst_element_set_state(pipeline_, GST_STATE_NULL);
            gst_object_unref(pipeline_);
        }
        if (feed_ != nullptr) {
            gst_pad_set_active(feed_, FALSE);
            gst_object_unref(feed_);
        }
        for (GstBuffer* buffer : buffers_) {
            if (buffer != nullptr) {
                gst_buffer_unref(buffer);
            }
        }
    }

    bool Start(const std::string& share, int width, int height) override {
        GstElement* sink = gst_element_factory_make("quorvexsink", "sink");
        if (sink == nullptr) {
            return false;
        }
        g_object_set(sink, "sync", FALSE, "wait-for-hosts", 1, "share", share.c_str(), nullptr);
        pipeline_ = gst_pipeline_new("bench");
        gst_bin_add(GST_BIN(pipeline_), sink);
        GstPad* sinkPad = gst_element_get_static_pad(sink, "sink");
        feed_ = gst_pad_new("feed", GST_PAD_SRC);
        const bool linked = gst_pad_link(feed_, sinkPad) == GST_PAD_LINK_OK;
        gst_object_unref(sinkPad);
        if (!linked || !gst_pad_set_active(feed_, TRUE) ||
            gst_element_set_state(pipeline_, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
            return false;
        }
        const size_t bytes = static_cast<size_t>(width) * static_cast<size_t>(height);
        for (size_t i = 0; i < kRing; ++i) {
            blocks_[i].resize(bytes);
            FillPixels(blocks_[i]);
            buffers_[i] = gst_buffer_new_wrapped_full(GST_MEMORY_FLAG_READONLY, blocks_[i].data(), bytes, 0, bytes,
                                                      nullptr, nullptr);
        }
        GstCaps* caps =
            gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "GRAY8", "width", G_TYPE_INT, width, "height",
                                G_TYPE_INT, height, "framerate", GST_TYPE_FRACTION, 0, 1, nullptr);
        GstSegment segment;
        gst_segment_init(&segment, GST_FORMAT_TIME);
        const bool started = gst_pad_push_event(feed_, gst_event_new_stream_start("gst_sink_bench")) &&
                             gst_pad_push_event(feed_, gst_event_new_caps(caps)) &&
                             gst_pad_push_event(feed_, gst_event_new_segment(&segment));
        gst_caps_unref(caps);
        // The sink holds the first frame until the host is attached.
        return started;
    }

    bool Publish(int32_t number) override {
        const size_t slot = static_cast<size_t>(number) % kRing;
        // The sink keeps the last buffer it rendered.
        while (GST_MINI_OBJECT_REFCOUNT_VALUE(buffers_[slot]) > 1) {
            std::this_thread::yield();
        }
        WriteStamp(blocks_[slot].data(), number);
        return gst_pad_push(feed_, gst_buffer_ref(buffers_[slot])) == GST_FLOW_OK;
    }

    bool Flush() override {
        gst_pad_push_event(feed_, gst_event_new_eos());
        GstBus* bus = gst_element_get_bus(pipeline_);
        GstMessage* message = gst_bus_timed_pop_filtered(
            bus, kFlushWaitSeconds * GST_SECOND, static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
        const bool ended = message != nullptr && GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS;
        if (message != nullptr) {
            gst_message_unref(message);
        }
        gst_object_unref(bus);
        return ended;
    }

private:
    static constexpr size_t kRing = 4;

    GstElement* pipeline_ = nullptr;
    GstPad* feed_ = nullptr;
    std::array<std::vector<uint8_t>, kRing> blocks_;
    std::array<GstBuffer*, kRing> buffers_{};
};

}  // namespace

std::unique_ptr<SinkPublisher> MakeSdkPublisher() {
    return std::make_unique<SdkPublisher>();
}

std::unique_ptr<SinkPublisher> MakeGstPublisher(const std::string& pluginDir) {
    return std::make_unique<GstPublisher>(pluginDir);
}

}  // namespace bench
