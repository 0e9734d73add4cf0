#include "host_tool.h"

#include <chrono>
#include <cstdio>
#include <filesystem>

#include "exit_codes.h"
#include "platform/console.h"
#include "platform/process.h"
#include "platform/win32.h"

namespace tools {

namespace {

// The driver beside the program (a build's bin/, the Windows package), else
// where an install puts it relative to the program (bin/../lib).
std::string DefaultDriver(const char* driverFile) {
    const std::string programFolder = platform::FolderOf(platform::ProgramPath());
    const std::string beside = programFolder + platform::kPathSeparator + driverFile;
    std::error_code ignored;
    if (std::filesystem::exists(beside, ignored)) {
        return beside;
    }
    const std::filesystem::path installed = std::filesystem::path(programFolder) / QUORVEX_BIN_TO_LIB / driverFile;
    return std::filesystem::exists(installed, ignored) ? installed.lexically_normal().string() : beside;
}

}  // namespace

int RunHostTool(const std::string& tool, int argc, char** argv, const char* driverFile, const HostOptions& options,
                const HostParse& parse, const HostWork& work) {
    std::error_code ignored;
    const std::string defaultDriver = DefaultDriver(driverFile);
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
