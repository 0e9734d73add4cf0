// quorvexsrc: a GStreamer live source that is a host of the Quorvex driver.
// It opens one of the driver's cameras and produces the frames the camera
// receives, as a host application would receive them.
#pragma once

#include <gst/gst.h>

G_BEGIN_DECLS

GType gst_quorvex_src_get_type(void);
#define GST_TYPE_QUORVEX_SRC (gst_quorvex_src_get_type())

G_END_DECLS
