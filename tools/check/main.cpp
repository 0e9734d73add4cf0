// quorvex-check: checks a running camera server, rule by rule, as the Quorvex
// driver and its hosts see it.
#include <cstdio>
#include <string>
#include <vector>

#include "check_options.h"
#include "check_report.h"
#include "exit_codes.h"

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    check::CheckCommand command;
    std::string text;
    switch (check::ParseCheckCommand(args, command, text)) {
    case tools::ParseOutcome::Help:
        std::fputs(text.c_str(), stdout);
        return tools::kExitOk;
    case tools::ParseOutcome::Error:
        std::fprintf(stderr, "quorvex-check: %s\n", text.c_str());
        return tools::kExitUsage;
    case tools::ParseOutcome::Run:
        break;
    }
    const std::vector<check::RuleResult> results = check::CheckServer(command.check);
    const std::string report = command.json ? check::FormatJson(command.check.share, results)
                                            : check::FormatText(command.check.share, results);
    std::fputs(report.c_str(), stdout);
    return check::AllHold(results) ? tools::kExitOk : tools::kExitFailure;
}
