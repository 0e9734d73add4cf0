#include "host_options.h"

namespace tools {
namespace {

constexpr int kLargestPort = 1000000;
// The range the driver's settings dialog offers.
constexpr int kLowestLogLevel = 0;
constexpr int kHighestLogLevel = 4;
constexpr int kLowestConnectionTimeoutMs = 100;
constexpr int kHighestConnectionTimeoutMs = 10000;

}  // namespace

HostArgs::HostArgs(ArgParser& parser, HostOptions& options, const std::string& defaultDriver,
                   const std::string& defaultSystemDir)
    : options_(options) {
    options.driver = defaultDriver;
    options.systemDir = defaultSystemDir;
    parser.Text("driver", "PATH", options.driver,
                "the driver library (default: the host library looks in QUORVEX_LIB_DIR, beside itself, "
                "its ../lib and the install prefix)");
    parser.Text("system-dir", "DIR", options.systemDir,
                "the host's system folder, where Quorvex.ini lives (default: the current folder)");
    parser.Flag("list", options.list, "list the driver's cameras and quit");
    parser.Text("camera", "NAME", options.camera, "the camera to open (default \"Camera 1\")");
    parser.Int("port", options.port, 0, kLargestPort, "the port number to open it on (default 1)");
    parser.Text("share", "NAME", share_, "first write the camera's share name (PipeName) into Quorvex.ini");
    parser.Int("log-level", logLevel_, kLowestLogLevel, kHighestLogLevel,
               "first write the camera's LogLevel into Quorvex.ini");
    parser.Int("connect-timeout", connectionTimeout_, kLowestConnectionTimeoutMs, kHighestConnectionTimeoutMs,
               "first write the camera's ConnectionTimeout (ms) into Quorvex.ini");
    parser.Flag("log", options.log, "print the driver's log lines");
}

void HostArgs::Finish(const ArgParser& parser) {
    if (parser.Given("share")) {
        options_.share = share_;
    }
    if (parser.Given("log-level")) {
        options_.logLevel = logLevel_;
    }
    if (parser.Given("connect-timeout")) {
        options_.connectionTimeout = connectionTimeout_;
    }
}

}  // namespace tools
