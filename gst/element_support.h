// What both elements' GObject sides need: property flags, their pad, and
// texts out of property values.
#pragma once

#include <gst/gst.h>

#include <string>

namespace quorvexgst {

// A property that takes effect at the next start, so may change up to the
// READY state; or one that may change at any time.
constexpr GParamFlags kUntilReady =
    static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS | GST_PARAM_MUTABLE_READY);
constexpr GParamFlags kAnyTime =
    static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS | GST_PARAM_MUTABLE_PLAYING);

// Adds the element's one always-present pad, of the caps `capsString`.
void AddAlwaysPad(GstElementClass* elementClass, const char* name, GstPadDirection direction, const char* capsString);

// The text of a string value; `unset` when the value holds none.
std::string TextOf(const GValue* value, const char* unset);

}  // namespace quorvexgst
