#include "view_options.h"

namespace tools {

ParseOutcome ParseViewOptions(const std::vector<std::string>& args, const std::string& defaultDriver,
                              const std::string& defaultSystemDir, ViewOptions& options, std::string& text) {
    bool help = false;
    ArgParser parser(
        "Usage: quorvex-view [options]\n"
        "Loads the Quorvex camera driver as a host does and shows a camera's frames\n"
        "live in a window, with frames, rate, lost and repeated frames of the test\n"
        "pattern, latency and resets. Keys: space pauses, S saves the frame shown\n"
        "as PNG, Q or Escape quits.");
    HostArgs host(parser, options, defaultDriver, defaultSystemDir);
    options.saveDir = defaultSystemDir;
    parser.Text("save-dir", "DIR", options.saveDir, "where S saves the frame shown (default: the current folder)");
    parser.Flag("help", help, "show this help");
    const ParseOutcome outcome = parser.Outcome(args, help, text);
    if (outcome != ParseOutcome::Run) {
        return outcome;
    }
    host.Finish(parser);
    return ParseOutcome::Run;
}

}  // namespace tools
