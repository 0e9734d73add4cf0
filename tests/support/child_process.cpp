#include "child_process.h"

#include <cerrno>
#include <cstdlib>
#include <map>

#include "platform/system_error.h"

namespace testsupport {
namespace {

std::map<std::string, ChildMain>& Verbs() {
    static std::map<std::string, ChildMain> verbs;
    return verbs;
}

}  // namespace

bool RegisterChildVerb(const std::string& verb, ChildMain main) {
    Verbs()[verb] = std::move(main);
    return true;
}

std::string WhyNotStarted() {
#if defined(_WIN32)
    return platform::SystemErrorNote(GetLastError());
#else
    return platform::RuntimeErrorNote(errno);
#endif
}

bool RunChildIfRequested(int argc, char** argv, int& exitCode) {
    const std::string prefix = "--child=";
    if (argc < 2 || std::string(argv[1]).rfind(prefix, 0) != 0) {
        return false;
    }
    const std::string verb = std::string(argv[1]).substr(prefix.size());
    auto found = Verbs().find(verb);
    if (found == Verbs().end()) {
        exitCode = 99;
        return true;
    }
    exitCode = found->second(std::vector<std::string>(argv + 2, argv + argc));
    return true;
}

#if defined(__SANITIZE_ADDRESS__)
// Children read ASAN_OPTIONS when they start, so the variable is set for them
// and restored afterwards; only Linux builds have the sanitizer.
NoLeakCheckInChildren::NoLeakCheckInChildren() {
    const char* options = std::getenv("ASAN_OPTIONS");
    hadOptions = options != nullptr;
    savedOptions = hadOptions ? options : "";
    const std::string withoutLeakCheck = savedOptions.empty() ? "detect_leaks=0" : savedOptions + ":detect_leaks=0";
    setenv("ASAN_OPTIONS", withoutLeakCheck.c_str(), 1);
}

NoLeakCheckInChildren::~NoLeakCheckInChildren() {
    if (hadOptions) {
        setenv("ASAN_OPTIONS", savedOptions.c_str(), 1);
    } else {
        unsetenv("ASAN_OPTIONS");
    }
}
#else
NoLeakCheckInChildren::NoLeakCheckInChildren() = default;
NoLeakCheckInChildren::~NoLeakCheckInChildren() = default;
#endif

}  // namespace testsupport
