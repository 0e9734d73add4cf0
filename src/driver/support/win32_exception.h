// The exception of the server link: a failed Win32 call's error code and the
// system's text for it.
#pragma once

#include <cstdint>
#include <stdexcept>

class Win32Exception : public std::runtime_error {
public:
    // Takes the calling thread's last-error code, so construct it directly
    // after the failing call.
    Win32Exception();

    // The system's message for ErrorCode, formatted anew on every call; empty
    // when the system has none. The text lives in this object, so threads
    // that each hold their own exception never disturb each other.
    const char* what() const noexcept override;

    const uint32_t ErrorCode;

private:
    static constexpr size_t kTextCapacity = 4096;
    mutable char text_[kTextCapacity];
};
