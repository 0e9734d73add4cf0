// The rules a camera server keeps so that the Quorvex driver and every host
// of it are served right, checked against a running server from the outside,
// as a driver camera sees it: its pipe, its segment and its mutex.
#pragma once

#include <string>
#include <vector>

namespace check {

struct CheckOptions {
    std::string share;
    int frames = 10;         // frames to watch on the first connection
    int timeoutMs = 5000;    // the longest wait for an answer or a frame
    int holdMs = 30;         // how long each frame is held under the mutex
    int mutexWaitMs = 2000;  // a mutex not had within this is not released
};

struct RuleResult {
    const char* name;  // a short stable name, for scripts: "message-pipe"
    const char* rule;  // what the rule says
    bool holds = false;
    std::string saw;  // what the checker saw, for either outcome
};

// Checks the server of `options.share`; the rules in a fixed order, each
// holding or not. One that could not be checked (an earlier step failed)
// does not hold, and says why.
std::vector<RuleResult> CheckServer(const CheckOptions& options);

// The rules' names, in the order CheckServer reports them.
std::vector<std::string> RuleNames();

}  // namespace check
