#include "frame_buffer.h"

#include <cstring>

namespace quorvexgst {

UniqueBuffer BufferOf(const QuorvexHostFrame& frame, const GstVideoInfo& info) {
    if (frame.width != static_cast<int>(GST_VIDEO_INFO_WIDTH(&info)) ||
        frame.height != static_cast<int>(GST_VIDEO_INFO_HEIGHT(&info)) ||
        frame.bytesPerPixel != GST_VIDEO_INFO_COMP_PSTRIDE(&info, 0)) {
        return nullptr;
    }
    const gsize size = GST_VIDEO_INFO_SIZE(&info);
    UniqueBuffer buffer(gst_buffer_new_allocate(nullptr, size, nullptr));
    if (!buffer) {
        return nullptr;
    }
    const gsize frameBytes = static_cast<gsize>(frame.rowPitch) * static_cast<gsize>(frame.height);
    if (frame.rowPitch == GST_VIDEO_INFO_PLANE_STRIDE(&info, 0) && frameBytes == size) {
        gst_buffer_fill(buffer.get(), 0, frame.pixels, frameBytes);
        return buffer;
    }
    GstVideoFrame video;
    if (!gst_video_frame_map(&video, &info, buffer.get(), GST_MAP_WRITE)) {
        return nullptr;
    }
    const gsize rowBytes = static_cast<gsize>(frame.width) * static_cast<gsize>(frame.bytesPerPixel);
    auto* rows = static_cast<guint8*>(GST_VIDEO_FRAME_PLANE_DATA(&video, 0));
    const gsize stride = static_cast<gsize>(GST_VIDEO_FRAME_PLANE_STRIDE(&video, 0));
    for (gsize row = 0; row < static_cast<gsize>(frame.height); ++row) {
        std::memcpy(rows + row * stride, frame.pixels + row * static_cast<gsize>(frame.rowPitch), rowBytes);
    }
    gst_video_frame_unmap(&video);
    return buffer;
}

}  // namespace quorvexgst
