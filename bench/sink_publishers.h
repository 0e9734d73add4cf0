// The two publishers gst_sink_bench compares: the camera-server library
// called directly, and quorvexsink fed from a pad on the same thread. Kept apart from the host's
// side, which speaks Win32, because GStreamer's headers define TRUE and
// FALSE their own way.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace bench {

// The stamp at the start of every frame: the time the publisher was handed
// the frame (just before the SDK call, or the push to the sink) and its
// number.
struct Stamp {
    int64_t publishedNs;
    int32_t number;
    int32_t unused;
};
static_assert(sizeof(Stamp) == 16, "the stamp fills the first 16 bytes of a frame");

// Publishes GRAY8 frames of one size on a share, as fast as asked.
class SinkPublisher {
public:
    virtual ~SinkPublisher() = default;
    // Serves the share; returns once one host is attached.
    virtual bool Start(const std::string& share, int width, int height) = 0;
    // Publishes frame `number`, stamped as it is taken up.
    virtual bool Publish(int32_t number) = 0;
    // Returns once every frame handed over is published.
    virtual bool Flush() = 0;
};

std::unique_ptr<SinkPublisher> MakeSdkPublisher();
// quorvexsink from the plugin in `pluginDir`.
std::unique_ptr<SinkPublisher> MakeGstPublisher(const std::string& pluginDir);

}  // namespace bench
