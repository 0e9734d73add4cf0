#include "host_acknowledgements.h"

#include "platform/unique_handle.h"
#include "platform/win32.h"

namespace gsttest {

struct HostAcknowledgements::Event {
    platform::UniqueEvent handle;
};

HostAcknowledgements::HostAcknowledgements() : event_(std::make_unique<Event>()) {}

HostAcknowledgements::~HostAcknowledgements() = default;

bool HostAcknowledgements::Open(const std::string& name) {
    event_->handle.reset(CreateEventA(nullptr, FALSE, FALSE, name.c_str()));
    return static_cast<bool>(event_->handle);
}

void HostAcknowledgements::Acknowledge() {
    if (event_->handle) {
        SetEvent(event_->handle.get());
    }
}

bool HostAcknowledgements::Wait(unsigned timeoutMs) {
    return event_->handle && WaitForSingleObject(event_->handle.get(), timeoutMs) == WAIT_OBJECT_0;
}

}  // namespace gsttest
