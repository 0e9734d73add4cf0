#include "harness_support.h"

#include <chrono>
#include <thread>

namespace gsttest {
namespace {

constexpr auto kPollPause = std::chrono::milliseconds(5);

// Polls `take` until it gives something or the time is up.
template <typename Take>
auto PollWithin(unsigned timeoutMs, Take take) -> decltype(take()) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        auto taken = take();
        if (taken || std::chrono::steady_clock::now() > until) {
            return taken;
        }
        std::this_thread::sleep_for(kPollPause);
    }
}

}  // namespace

void HarnessTeardown::operator()(GstHarness* harness) const noexcept {
    GstElement* element = harness->element;
    {
        testsupport::BackgroundCall<GstStateChangeReturn> stop(
            std::string("stopping ") + GST_ELEMENT_NAME(element),
            [element] { return gst_element_set_state(element, GST_STATE_NULL); });
    }
    gst_harness_teardown(harness);
}

testing::AssertionResult StartGStreamer() {
    gst_init(nullptr, nullptr);
    for (const char* factory : {"quorvexsrc", "quorvexsink"}) {
        GstElementFactory* found = gst_element_factory_find(factory);
        if (found == nullptr) {
            return testing::AssertionFailure()
                   << "GStreamer does not find " << factory << " in " << g_getenv("GST_PLUGIN_PATH");
        }
        gst_object_unref(found);
    }
    return testing::AssertionSuccess();
}

GstElement* MakeElement(const char* factory) {
    GstElement* element = gst_element_factory_make(factory, nullptr);
    EXPECT_NE(element, nullptr) << factory;
    return element;
}

UniqueHarness HarnessOf(GstElement* element, bool isSink) {
    UniqueHarness harness(gst_harness_new_with_element(element, isSink ? "sink" : nullptr, isSink ? nullptr : "src"));
    gst_object_unref(element);
    // The elements stamp and sync with real time, as in a pipeline.
    gst_harness_use_systemclock(harness.get());
    return harness;
}

UniqueBuffer PullWithin(GstHarness* harness, unsigned timeoutMs) {
    return PollWithin(timeoutMs, [harness] { return UniqueBuffer(gst_harness_try_pull(harness)); });
}

UniqueCaps NextCapsWithin(GstHarness* harness, unsigned timeoutMs) {
    return PollWithin(timeoutMs, [harness] {
        UniqueCaps caps;
        while (GstEvent* event = gst_harness_try_pull_event(harness)) {
            if (GST_EVENT_TYPE(event) == GST_EVENT_CAPS) {
                GstCaps* carried = nullptr;
                gst_event_parse_caps(event, &carried);
                caps.reset(gst_caps_ref(carried));
            }
            gst_event_unref(event);
            if (caps) {
                break;
            }
        }
        return caps;
    });
}

BusWatch::BusWatch(GstElement* element) : bus_(gst_bus_new()) {
    gst_element_set_bus(element, bus_);
}

BusWatch::~BusWatch() {
    gst_object_unref(bus_);
}

UniqueMessage BusWatch::Next(GstMessageType types, unsigned timeoutMs) {
    return UniqueMessage(gst_bus_timed_pop_filtered(bus_, static_cast<GstClockTime>(timeoutMs) * GST_MSECOND, types));
}

std::string TextOf(GstMessage* message) {
    GError* failure = nullptr;
    if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) {
        gst_message_parse_error(message, &failure, nullptr);
    } else if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_WARNING) {
        gst_message_parse_warning(message, &failure, nullptr);
    }
    if (failure == nullptr) {
        return std::string();
    }
    std::string text = failure->message;
    g_error_free(failure);
    return text;
}

testing::AssertionResult ChangeState(GstElement* element, GstState state) {
    testsupport::BackgroundCall<GstStateChangeReturn> change(
        std::string("the change to ") + gst_element_state_get_name(state),
        [element, state] { return gst_element_set_state(element, state); });
    const auto returned = change.Wait(kElementMs);
    if (!returned) {
        return testing::AssertionFailure()
               << "the change to " << gst_element_state_get_name(state) << " took longer than " << kElementMs << " ms";
    }
    if (*returned == GST_STATE_CHANGE_FAILURE) {
        return testing::AssertionFailure() << "the change to " << gst_element_state_get_name(state) << " failed";
    }
    return testing::AssertionSuccess();
}

testing::AssertionResult SendEvent(GstElement* element, GstEvent* event) {
    const std::string name = GST_EVENT_TYPE_NAME(event);
    testsupport::BackgroundCall<bool> send("the " + name + " event",
                                           [element, event] { return gst_element_send_event(element, event) != 0; });
    const auto handled = send.Wait(kElementMs);
    if (!handled) {
        return testing::AssertionFailure() << "the " << name << " event took longer than " << kElementMs << " ms";
    }
    if (!*handled) {
        return testing::AssertionFailure() << "the element refused the " << name << " event";
    }
    return testing::AssertionSuccess();
}

}  // namespace gsttest
