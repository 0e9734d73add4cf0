#include "check_options.h"

namespace check {
namespace {

constexpr int kMostFrames = 10000;
constexpr int kMostSeconds = 3600;
constexpr int kMillisecondsPerSecond = 1000;

}  // namespace

tools::ParseOutcome ParseCheckCommand(const std::vector<std::string>& args, CheckCommand& command, std::string& text) {
    tools::ArgParser parser(
        "Usage: quorvex-check SHARE [options]\n"
        "Checks the running camera server of SHARE, rule by rule, as the Quorvex driver sees it; exits 0 only "
        "when every rule holds. The server must publish frames while it is checked.");
    int seconds = command.check.timeoutMs / kMillisecondsPerSecond;
    parser.Flag("json", command.json, "print the report as JSON");
    parser.Int("frames", command.check.frames, 1, kMostFrames, "watch N frames (default 10)");
    parser.Int("timeout", seconds, 1, kMostSeconds, "wait at most N seconds for an answer or a frame (default 5)");
    parser.Flag("help", command.help, "show this help");
    // The share is the one argument that is neither an option nor the value
    // of one.
    std::vector<std::string> options;
    std::vector<std::string> shares;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg.rfind("--", 0) != 0) {
            shares.push_back(arg);
            continue;
        }
        options.push_back(arg);
        const bool takesValue = arg == "--frames" || arg == "--timeout";
        if (takesValue && i + 1 < args.size()) {
            options.push_back(args[++i]);
        }
    }
    const tools::ParseOutcome outcome = parser.Outcome(options, command.help, text);
    if (outcome != tools::ParseOutcome::Run) {
        return outcome;
    }
    if (shares.size() != 1 || shares[0].empty()) {
        text = shares.empty() ? "give the share name of the server to check\n" + parser.Usage()
                              : "give one share name, not " + std::to_string(shares.size());
        return tools::ParseOutcome::Error;
    }
    command.check.share = shares[0];
    command.check.timeoutMs = seconds * kMillisecondsPerSecond;
    return tools::ParseOutcome::Run;
}

}  // namespace check
