// A frame of the host library's queue as a GStreamer buffer, laid out as the
// negotiated caps say.
#pragma once

#include <gst/video/video.h>

#include <memory>

#include "quorvex_host.h"

namespace quorvexgst {

struct BufferUnref {
    void operator()(GstBuffer* buffer) const noexcept { gst_buffer_unref(buffer); }
};
using UniqueBuffer = std::unique_ptr<GstBuffer, BufferUnref>;

// A buffer of `info`'s size holding the frame's rows at `info`'s stride: one
// copy when the frame's rows lie that far apart already, else a copy per row.
// Null when the frame is not of `info`'s width, height and pixel size.
UniqueBuffer BufferOf(const QuorvexHostFrame& frame, const GstVideoInfo& info);

}  // namespace quorvexgst
