#include "platform/system_error.h"

#include <cstring>

namespace platform {
namespace {

std::string Note(long long code, std::string text) {
    // The system ends its texts with a line break, which a message carries
    // in its middle.
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
        text.pop_back();
    }
    return "(system error " + std::to_string(code) + (text.empty() ? "" : ": " + text) + ")";
}

}  // namespace

std::string SystemErrorNote(DWORD code) {
    char text[512] = {};
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                                        text, sizeof text, nullptr);
    return Note(code, length > 0 ? std::string(text, length) : std::string());
}

std::string RuntimeErrorNote(int errorNumber) {
    const char* text = std::strerror(errorNumber);
    return Note(errorNumber, text != nullptr ? text : "");
}

}  // namespace platform
