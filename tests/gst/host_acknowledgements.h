// The signal by which a test's host tells a lockstep pipeline in another
// process that it has read a frame: a named auto-reset event, set once per
// frame. Kept apart from the code that speaks GStreamer, whose headers
// define TRUE and FALSE their own way.
#pragma once

#include <memory>
#include <string>

namespace gsttest {

class HostAcknowledgements {
public:
    HostAcknowledgements();
    ~HostAcknowledgements();
    HostAcknowledgements(const HostAcknowledgements&) = delete;
    HostAcknowledgements& operator=(const HostAcknowledgements&) = delete;

    // Creates the event of this name, or opens it when the other side has.
    bool Open(const std::string& name);
    // The host: one frame read.
    void Acknowledge();
    // The pipeline: waits for the next acknowledgement; false after
    // `timeoutMs` without one.
    bool Wait(unsigned timeoutMs);

private:
    struct Event;
    std::unique_ptr<Event> event_;
};

}  // namespace gsttest
