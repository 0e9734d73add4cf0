// The pixel layouts the elements accept and produce, in one table: the
// GStreamer video format, its bytes per pixel and the camera-server layout
// that publishes it.
#pragma once

#include <gst/video/video.h>

namespace quorvexgst {

// The server layout (QUORVEX_FORMAT_*) that publishes frames of `format`,
// or 0 for a format the sink does not take. RGBx and BGRx go out as four
// bytes per pixel, their padding byte in the alpha place.
int ServerLayoutOf(GstVideoFormat format);

// The caps string of every format quorvexsink takes, any size and rate.
const char* SinkCapsString();

// The format a host's frame of `bytesPerPixel` bytes arrives in (GRAY8, RGB
// or RGBA), or GST_VIDEO_FORMAT_UNKNOWN.
GstVideoFormat HostFormatOf(int bytesPerPixel);

// The caps string of every format quorvexsrc produces.
const char* SourceCapsString();

}  // namespace quorvexgst
