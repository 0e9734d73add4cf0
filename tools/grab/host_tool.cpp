#include "host_tool.h"

#include <chrono>
#include <cstdio>
#include <filesystem>

#include "exit_codes.h"
#include "platform/console.h"

namespace tools {
namespace {

// Parses the command line; the exit code when the tool is done with it
// (help shown, arguments refused), nothing when it is to run.
std::optional<int> Parse(const std::string& tool, int argc, char** argv, const HostParse& parse) {
    std::error_code ignored;
    const std::string defaultSystemDir = std::filesystem::current_path(ignored).u8string();
    std::string text;
    // The host library takes UTF-8, whatever the system's own narrow text.
    switch (parse(platform::Utf8Arguments(argc, argv), std::string(), defaultSystemDir, text)) {
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
    platform::UseUtf8Console();
    return std::nullopt;
}

void PrintLogLine(void* console, const char* line) {
    static_cast<StatusConsole*>(console)->Line(line);
}

}  // namespace

int RunHostTool(const std::string& tool, int argc, char** argv, const HostOptions& options, const HostParse& parse,
                const HostWork& work) {
    if (const std::optional<int> done = Parse(tool, argc, argv, parse)) {
        return *done;
    }
    StatusConsole console(stdout, platform::IsTerminal(stdout), std::chrono::seconds(1));
    QuorvexHost* host = QuorvexHostOpen(options.driver.c_str(), options.systemDir.c_str());
    if (host == nullptr) {
        console.Line(tool + ": " + QuorvexHostLastError());
        return kExitFailure;
    }
    if (options.log) {
        QuorvexHostSetLog(host, &PrintLogLine, &console);
    }
    const int exitCode = work(host, console);
    QuorvexHostSetLog(host, nullptr, nullptr);
    QuorvexHostClose(host);
    return exitCode;
}

std::optional<int> PrepareCamera(QuorvexHost* host, const HostOptions& options, StatusConsole& console,
                                 const std::string& tool) {
    const int count = QuorvexHostCameraCount(host);
    bool found = false;
    for (int i = 0; i < count; ++i) {
        const char* name = QuorvexHostCameraName(host, i);
        found = found || options.camera == name;
        if (options.list) {
            console.Line(name);
        }
    }
    if (options.list) {
        return kExitOk;
    }
    const auto say = [&console, &tool](const std::string& text) { console.Line(tool + ": " + text); };
    say("driver " + std::string(QuorvexHostDriverPath(host)) + " offers " + std::to_string(count) + " cameras");
    if (!found) {
        say("the driver has no camera \"" + options.camera + "\" (--list shows its cameras)");
        return kExitUsage;
    }
    if (!options.share && !options.logLevel && !options.connectionTimeout) {
        return std::nullopt;
    }
    const QuorvexHostSettings settings{options.share ? options.share->c_str() : nullptr,
                                       options.logLevel.value_or(QUORVEX_HOST_KEEP),
                                       options.connectionTimeout.value_or(QUORVEX_HOST_KEEP)};
    if (!QuorvexHostWriteSettings(host, options.camera.c_str(), &settings)) {
        say(QuorvexHostLastError());
        return kExitFailure;
    }
    const std::string where = " for " + options.camera + " in " + QuorvexHostSettingsPath(host);
    if (options.share) {
        say("set PipeName=" + *options.share + where);
    }
    if (options.logLevel) {
        say("set LogLevel=" + std::to_string(*options.logLevel) + where);
    }
    if (options.connectionTimeout) {
        say("set ConnectionTimeout=" + std::to_string(*options.connectionTimeout) + where);
    }
    return std::nullopt;
}

QuorvexHostCamera* OpenCamera(QuorvexHost* host, const HostOptions& options, int queueDepth, StatusConsole& console,
                              const std::string& tool) {
    const QuorvexHostCameraOptions cameraOptions{options.port, queueDepth, 1};
    QuorvexHostCamera* camera = QuorvexHostCameraOpen(host, options.camera.c_str(), &cameraOptions);
    if (camera == nullptr) {
        console.Line(tool + ": " + QuorvexHostLastError());
        return nullptr;
    }
    int width = 0;
    int height = 0;
    QuorvexHostCameraOpenedSize(camera, &width, &height);
    const std::string opened = tool + ": " + options.camera + " open on port " + std::to_string(options.port);
    console.Line(width > 0 && height > 0 ? opened + ", " + std::to_string(width) + "x" + std::to_string(height)
                                         : opened + ", no dimensions yet: waiting for its server");
    return camera;
}

}  // namespace tools
