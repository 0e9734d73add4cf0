// quorvexsink: a GStreamer video sink that is a Quorvex camera server. Every
// frame that reaches it is published on its share, where the Quorvex
// driver's cameras (in any host on the machine) receive it.
#pragma once

#include <gst/gst.h>

G_BEGIN_DECLS

GType gst_quorvex_sink_get_type(void);
#define GST_TYPE_QUORVEX_SINK (gst_quorvex_sink_get_type())

G_END_DECLS
