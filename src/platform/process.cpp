#include "platform/process.h"

namespace platform {

bool ChildProcess::Start(const std::string& program, const std::vector<std::string>& args,
                         const std::string& outputPath) {
    return !IsRunning() && Launch(program, args, outputPath);
}

}  // namespace platform
