#include "grab_options.h"

namespace tools {
namespace {

constexpr int kLargestCount = 1000000000;
constexpr int kLargestPort = 1000000;
constexpr int kLargestTimeoutSeconds = 86400;
// The range the driver's settings dialog offers.
constexpr int kLowestLogLevel = 0;
constexpr int kHighestLogLevel = 4;
constexpr int kLowestConnectionTimeoutMs = 100;
constexpr int kHighestConnectionTimeoutMs = 10000;

}  // namespace

ParseOutcome ParseGrabOptions(const std::vector<std::string>& args, const std::string& defaultDriver,
                              const std::string& defaultSystemDir, GrabOptions& options, std::string& text) {
    options.driver = defaultDriver;
    options.systemDir = defaultSystemDir;
    std::string share;
    int logLevel = 0;
    int connectionTimeout = 0;
    bool help = false;
    ArgParser parser(
        "Usage: quorvex-grab [options]\n"
        "Loads the Quorvex camera driver as a host does, opens a camera and reads\n"
        "its frames row by row; checks the test pattern and sums up.");
    parser.Text("driver", "PATH", options.driver, "the driver library (default: beside this program)");
    parser.Text("system-dir", "DIR", options.systemDir,
                "the host's system folder, where Quorvex.ini lives (default: the current folder)");
    parser.Flag("list", options.list, "list the driver's cameras and quit");
    parser.Text("camera", "NAME", options.camera, "the camera to open (default \"Camera 1\")");
    parser.Int("port", options.port, 0, kLargestPort, "the port number to open it on (default 1)");
    parser.Text("share", "NAME", share, "first write the camera's share name (PipeName) into Quorvex.ini");
    parser.Int("log-level", logLevel, kLowestLogLevel, kHighestLogLevel,
               "first write the camera's LogLevel into Quorvex.ini");
    parser.Int("connect-timeout", connectionTimeout, kLowestConnectionTimeoutMs, kHighestConnectionTimeoutMs,
               "first write the camera's ConnectionTimeout (ms) into Quorvex.ini");
    parser.Int("frames", options.frames, 0, kLargestCount, "frames to grab, then quit; 0 until Ctrl+C (default 0)");
    parser.Int("timeout", options.timeoutSeconds, 0, kLargestTimeoutSeconds,
               "give up after S seconds without a frame; 0 waits for ever (default 10)");
    parser.Text("save", "DIR", options.saveDir, "save frames as PNG files in DIR");
    parser.Int("every", options.every, 1, kLargestCount, "with --save: save every N-th frame (default 1)");
    parser.Flag("log", options.log, "print the driver's log lines");
    parser.Flag("configure", options.configure, "call configureCamera for the camera and quit");
    parser.Flag("help", help, "show this help");

    if (!parser.Parse(args, text)) {
        return ParseOutcome::Error;
    }
    if (help) {
        text = parser.Usage();
        return ParseOutcome::Help;
    }
    if (parser.Given("every") && !parser.Given("save")) {
        text = "--every needs --save";
        return ParseOutcome::Error;
    }
    if (parser.Given("share")) {
        options.share = share;
    }
    if (parser.Given("log-level")) {
        options.logLevel = logLevel;
    }
    if (parser.Given("connect-timeout")) {
        options.connectionTimeout = connectionTimeout;
    }
    return ParseOutcome::Run;
}

}  // namespace tools
