// quorvex-grab: the reference host of the Quorvex driver. It loads the
// driver by path, opens a camera, reads its frames row by row and sums up
// what it saw.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "driver_library.h"
#include "exit_codes.h"
#include "grab_options.h"
#include "grab_session.h"
#include "platform/console.h"
#include "platform/process.h"
#include "platform/win32.h"
#include "status_console.h"

int main(int argc, char** argv) {
    std::error_code ignored;
    const std::string defaultDriver =
        platform::FolderOf(platform::ProgramPath()) + platform::kPathSeparator + QUORVEX_DRIVER_FILE;
    const std::string defaultSystemDir = std::filesystem::current_path(ignored).string();

    tools::GrabOptions options;
    std::string text;
    switch (tools::ParseGrabOptions(std::vector<std::string>(argv + 1, argv + argc), defaultDriver, defaultSystemDir,
                                    options, text)) {
    case tools::ParseOutcome::Help:
        std::fputs(text.c_str(), stdout);
        return tools::kExitOk;
    case tools::ParseOutcome::Error:
        std::fprintf(stderr, "quorvex-grab: %s\nTry 'quorvex-grab --help'.\n", text.c_str());
        return tools::kExitUsage;
    case tools::ParseOutcome::Run:
        break;
    }
    platform::CatchInterrupt();
    tools::StatusConsole console(stdout, platform::IsTerminal(stdout), std::chrono::seconds(1));
    tools::DriverLibrary driver;
    if (!driver.Load(options.driver, text)) {
        console.Line("quorvex-grab: " + text);
        return tools::kExitFailure;
    }
    tools::GrabSession session(driver, options, console);
    return session.Run();
}
