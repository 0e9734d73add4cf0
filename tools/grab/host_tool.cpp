#include "host_tool.h"

#include <chrono>
#include <cstdio>
#include <filesystem>

#include "exit_codes.h"
#include "platform/console.h"
#include "platform/process.h"
#include "platform/win32.h"

namespace tools {

int RunHostTool(const std::string& tool, int argc, char** argv, const char* driverFile, const HostOptions& options,
                const HostParse& parse, const HostWork& work) {
    std::error_code ignored;
    const std::string defaultDriver =
        platform::FolderOf(platform::ProgramPath()) + platform::kPathSeparator + driverFile;
    const std::string defaultSystemDir = std::filesystem::current_path(ignored).string();
    std::string text;
    switch (parse(std::vector<std::string>(argv + 1, argv + argc), defaultDriver, defaultSystemDir, text)) {
    case ParseOutcome::Help:
        std::fputs(text.c_str(), stdout);
        return kExitOk;
    case ParseOutcome::Error:
        std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", tool.c_str(), text.c_str(), tool.c_str());
        return kExitUsage;
    case ParseOutcome::Run:
        break;
    }
    platform::CatchInterrupt();
    StatusConsole console(stdout, platform::IsTerminal(stdout), std::chrono::seconds(1));
    DriverLibrary driver;
    if (!driver.Load(options.driver, text)) {
        console.Line(tool + ": " + text);
        return kExitFailure;
    }
    return work(driver, console);
}

}  // namespace tools
