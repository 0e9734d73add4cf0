// What the in-process tests of the elements share: a harness around one
// element (GStreamer's check harness), its output taken with time-outs, and
// a caller that bounds how long an element may block the test.
#pragma once

#include <gst/check/gstharness.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "support/background_call.h"

namespace gsttest {

// How long an element may take to start, stop, flush or deliver a frame.
constexpr unsigned kElementMs = 20000;

// Stops the element first, on a thread of its own: an element that cannot
// stop ends the run, naming it, instead of hanging it.
struct HarnessTeardown {
    void operator()(GstHarness* harness) const noexcept;
};
using UniqueHarness = std::unique_ptr<GstHarness, HarnessTeardown>;

struct BufferUnref {
    void operator()(GstBuffer* buffer) const noexcept { gst_buffer_unref(buffer); }
};
using UniqueBuffer = std::unique_ptr<GstBuffer, BufferUnref>;

struct CapsUnref {
    void operator()(GstCaps* caps) const noexcept { gst_caps_unref(caps); }
};
using UniqueCaps = std::unique_ptr<GstCaps, CapsUnref>;

// Starts GStreamer once per process, with the built plugin in reach.
testing::AssertionResult StartGStreamer();

// A new element of `factory`; null when GStreamer does not know it.
GstElement* MakeElement(const char* factory);

// A harness feeding a sink's "sink" pad or fed by a source's "src" pad, on
// the system clock; takes over the caller's reference to `element`. A sink
// starts playing at once, a source when the test plays it.
UniqueHarness HarnessOf(GstElement* element, bool isSink);

// The next buffer out of a source's harness; null when none came in time.
UniqueBuffer PullWithin(GstHarness* harness, unsigned timeoutMs);

// The caps of the next caps event out of a source's harness (other events
// are passed over); null when none came in time.
UniqueCaps NextCapsWithin(GstHarness* harness, unsigned timeoutMs);

struct MessageUnref {
    void operator()(GstMessage* message) const noexcept { gst_message_unref(message); }
};
using UniqueMessage = std::unique_ptr<GstMessage, MessageUnref>;

// A bus of its own for an element outside a pipeline (as in a harness),
// where the element's errors and warnings can be read.
class BusWatch {
public:
    explicit BusWatch(GstElement* element);
    ~BusWatch();
    BusWatch(const BusWatch&) = delete;
    BusWatch& operator=(const BusWatch&) = delete;

    // The next message of `types`; null when none came in time.
    UniqueMessage Next(GstMessageType types, unsigned timeoutMs);

private:
    GstBus* bus_;
};

// The text of an error or a warning message (its GError's); empty for
// other messages.
std::string TextOf(GstMessage* message);

// Sets the element's state; fails when the change fails or takes longer
// than kElementMs. A sink that still has to preroll completes the change
// later, with its first frame.
testing::AssertionResult ChangeState(GstElement* element, GstState state);

// Sends `event` to the element, as an application does; fails when the
// element refuses it or takes longer than kElementMs.
testing::AssertionResult SendEvent(GstElement* element, GstEvent* event);

}  // namespace gsttest
