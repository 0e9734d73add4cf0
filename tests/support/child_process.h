// Cross-process tests: a test re-runs its own program with `--child=VERB ARGS`
// so that a real second process holds the other end of a pipe or a segment.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace testsupport {

using ChildMain = std::function<int(const std::vector<std::string>& args)>;

// Registers a verb at static-initialisation time; returns true so that it can
// initialise a namespace-scope constant.
bool RegisterChildVerb(const std::string& verb, ChildMain main);

// Why the last platform::ChildProcess::Start that failed could not start its
// program: "(system error N: the system's text)".
std::string WhyNotStarted();

// Runs the verb named on the command line, if any. Returns true and sets
// `exitCode` when the program was started as a child.
bool RunChildIfRequested(int argc, char** argv, int& exitCode);

// While it lives, the child processes this process starts run without
// AddressSanitizer's leak check at their exit: for hosts that end on purpose
// without their last finalize, which leave what the driver keeps for the life
// of the process. Does nothing in builds without AddressSanitizer.
class NoLeakCheckInChildren {
public:
    NoLeakCheckInChildren();
    ~NoLeakCheckInChildren();
    NoLeakCheckInChildren(const NoLeakCheckInChildren&) = delete;
    NoLeakCheckInChildren& operator=(const NoLeakCheckInChildren&) = delete;

private:
    bool hadOptions = false;
    std::string savedOptions;
};

}  // namespace testsupport
