#include <share.h>

#include "platform/append_file.h"

namespace platform {

AppendFile::AppendFile(const std::string& path) : file_(_fsopen(path.c_str(), "a", _SH_DENYWR)) {}

}  // namespace platform
