// The narrow text of POSIX systems is what the caller wrote: bytes pass as
// they are, as the driver reads them.
#include "platform/system_text.h"

namespace platform {

bool Utf8ToSystemText(std::string_view utf8, std::string& system) {
    system.assign(utf8);
    return true;
}

std::string SystemTextToUtf8(std::string_view system) {
    return std::string(system);
}

std::string SystemTextEncoding() {
    return "UTF-8";
}

}  // namespace platform
