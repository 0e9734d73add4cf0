#include "format_table.h"

#include "quorvex_server.h"

namespace quorvexgst {
namespace {

struct SinkFormat {
    GstVideoFormat video;
    int layout;
};

constexpr SinkFormat kSinkFormats[] = {
    {GST_VIDEO_FORMAT_GRAY8, QUORVEX_FORMAT_GRAY8}, {GST_VIDEO_FORMAT_RGB, QUORVEX_FORMAT_RGB24},
    {GST_VIDEO_FORMAT_BGR, QUORVEX_FORMAT_BGR24},   {GST_VIDEO_FORMAT_RGBA, QUORVEX_FORMAT_RGBA32},
    {GST_VIDEO_FORMAT_BGRA, QUORVEX_FORMAT_BGRA32}, {GST_VIDEO_FORMAT_RGBx, QUORVEX_FORMAT_RGBA32},
    {GST_VIDEO_FORMAT_BGRx, QUORVEX_FORMAT_BGRA32},
};

struct HostFormat {
    int bytesPerPixel;
    GstVideoFormat video;
};

constexpr HostFormat kHostFormats[] = {
    {1, GST_VIDEO_FORMAT_GRAY8},
    {3, GST_VIDEO_FORMAT_RGB},
    {4, GST_VIDEO_FORMAT_RGBA},
};

}  // namespace

int ServerLayoutOf(GstVideoFormat format) {
    for (const SinkFormat& row : kSinkFormats) {
        if (row.video == format) {
            return row.layout;
        }
    }
    return 0;
}

const char* SinkCapsString() {
    return GST_VIDEO_CAPS_MAKE("{ GRAY8, RGB, BGR, RGBA, BGRA, RGBx, BGRx }");
}

GstVideoFormat HostFormatOf(int bytesPerPixel) {
    for (const HostFormat& row : kHostFormats) {
        if (row.bytesPerPixel == bytesPerPixel) {
            return row.video;
        }
    }
    return GST_VIDEO_FORMAT_UNKNOWN;
}

const char* SourceCapsString() {
    return "video/x-raw, format = (string) { GRAY8, RGB, RGBA }, width = " GST_VIDEO_SIZE_RANGE
           ", height = " GST_VIDEO_SIZE_RANGE ", framerate = (fraction) 0/1";
}

}  // namespace quorvexgst
