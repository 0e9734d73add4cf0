#include "element_support.h"

namespace quorvexgst {

void AddAlwaysPad(GstElementClass* elementClass, const char* name, GstPadDirection direction, const char* capsString) {
    GstCaps* caps = gst_caps_from_string(capsString);
    gst_element_class_add_pad_template(elementClass, gst_pad_template_new(name, direction, GST_PAD_ALWAYS, caps));
    gst_caps_unref(caps);
}

std::string TextOf(const GValue* value, const char* unset) {
    const gchar* text = g_value_get_string(value);
    return text != nullptr ? text : unset;
}

}  // namespace quorvexgst
