#include "grab_options.h"

namespace tools {
namespace {

constexpr int kLargestCount = 1000000000;
constexpr int kLargestTimeoutSeconds = 86400;

}  // namespace

ParseOutcome ParseGrabOptions(const std::vector<std::string>& args, const std::string& defaultDriver,
                              const std::string& defaultSystemDir, GrabOptions& options, std::string& text) {
    bool help = false;
    ArgParser parser(
        "Usage: quorvex-grab [options]\n"
        "Loads the Quorvex camera driver as a host does, opens a camera and reads\n"
        "its frames row by row; checks the test pattern and sums up.");
    HostArgs host(parser, options, defaultDriver, defaultSystemDir);
    parser.Int("frames", options.frames, 0, kLargestCount, "frames to grab, then quit; 0 until Ctrl+C (default 0)");
    parser.Int("timeout", options.timeoutSeconds, 0, kLargestTimeoutSeconds,
               "give up after N seconds without a frame; 0 waits for ever (default 10)");
    parser.Text("save", "DIR", options.saveDir, "save frames as PNG files in DIR");
    parser.Int("every", options.every, 1, kLargestCount, "with --save: save every N-th frame (default 1)");
    parser.Flag("configure", options.configure, "call configureCamera for the camera and quit");
    parser.Flag("help", help, "show this help");

    const ParseOutcome outcome = parser.Outcome(args, help, text);
    if (outcome != ParseOutcome::Run) {
        return outcome;
    }
    if (parser.Given("every") && !parser.Given("save")) {
        text = "--every needs --save";
        return ParseOutcome::Error;
    }
    host.Finish(parser);
    return ParseOutcome::Run;
}

}  // namespace tools
