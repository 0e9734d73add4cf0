#include "platform/append_file.h"

namespace platform {

void AppendFile::Write(const char* text) {
    if (file_) {
        std::fputs(text, file_.get());
    }
}

}  // namespace platform
