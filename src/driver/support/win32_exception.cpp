#include "support/win32_exception.h"

#include "platform/win32.h"

Win32Exception::Win32Exception() : std::runtime_error("Win32 error"), ErrorCode(GetLastError()), text_{} {}

const char* Win32Exception::what() const noexcept {
    text_[0] = '\0';
    // No insert arguments are passed, so inserts must stay as they are
    // rather than be read from nowhere.
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, ErrorCode, 0, text_,
                   kTextCapacity, nullptr);
    return text_;
}
