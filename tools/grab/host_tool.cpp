#include "host_tool.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>

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

// Parses the command line; the exit code when the tool is done with it
// (help shown, arguments refused), nothing when it is to run.
std::optional<int> Parse(const std::string& tool, int argc, char** argv, const std::string& defaultDriver,
                         const HostParse& parse) {
    std::error_code ignored;
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
    return std::nullopt;
}

StatusConsole MakeConsole() {
    return StatusConsole(stdout, platform::IsTerminal(stdout), std::chrono::seconds(1));
}

}  // namespace

int RunHostTool(const std::string& tool, int argc, char** argv, const char* driverFile, const HostOptions& options,
                const HostParse& parse, const HostWork& work) {
    if (const std::optional<int> done = Parse(tool, argc, argv, DefaultDriver(driverFile), parse)) {
        return *done;
    }
    StatusConsole console = MakeConsole();
    DriverLibrary driver;
    std::string text;
    if (!driver.Load(options.driver, text)) {
        console.Line(tool + ": " + text);
        return kExitFailure;
    }
    return work(driver, console);
}

int RunHostLibraryTool(const std::string& tool, int argc, char** argv, const HostOptions& options,
                       const HostParse& parse, const HostLibraryWork& work) {
    if (const std::optional<int> done = Parse(tool, argc, argv, std::string(), parse)) {
        return *done;
    }
    StatusConsole console = MakeConsole();
    QuorvexHost* host = QuorvexHostOpen(options.driver.c_str(), options.systemDir.c_str());
    if (host == nullptr) {
        console.Line(tool + ": " + QuorvexHostLastError());
        return kExitFailure;
    }
    const int exitCode = work(host, console);
    QuorvexHostClose(host);
    return exitCode;
}

}  // namespace tools
