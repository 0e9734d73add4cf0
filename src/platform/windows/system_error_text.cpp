#include "platform/windows/system_error_text.h"

namespace platform {

std::string SystemErrorText(DWORD code) {
    char text[512] = {};
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                                  sizeof text, nullptr);
    while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n' || text[length - 1] == ' ')) {
        text[--length] = '\0';
    }
    const std::string number = "(" + std::to_string(code) + ")";
    return length == 0 ? "system error " + number : std::string(text, length) + " " + number;
}

}  // namespace platform
