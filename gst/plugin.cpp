// The plugin's entry point: registers quorvexsink and quorvexsrc.
#include <gst/gst.h>

#include "quorvex_sink.h"
#include "quorvex_src.h"

namespace {

gboolean PluginInit(GstPlugin* plugin) {
    return gst_element_register(plugin, "quorvexsink", GST_RANK_NONE, GST_TYPE_QUORVEX_SINK) &&
           gst_element_register(plugin, "quorvexsrc", GST_RANK_NONE, GST_TYPE_QUORVEX_SRC);
}

}  // namespace

#define PACKAGE "quorvex"
GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, quorvex,
                  "Quorvex cameras in GStreamer: a camera server as a video sink, and a host's camera as a source",
                  PluginInit, QUORVEX_VERSION, "Proprietary", "Quorvex", "Quorvex project")
