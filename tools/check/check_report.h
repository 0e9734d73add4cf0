// quorvex-check's report: one line per rule for people, or JSON.
#pragma once

#include <string>
#include <vector>

#include "conformance.h"

namespace check {

// "PASS name: what it saw" or "FAIL name: the rule; saw: what it saw", one
// per rule, and a last line with the count.
std::string FormatText(const std::string& share, const std::vector<RuleResult>& results);

// {"share": ..., "pass": ..., "rules": [{"name", "rule", "pass", "saw"}, ...]}
std::string FormatJson(const std::string& share, const std::vector<RuleResult>& results);

bool AllHold(const std::vector<RuleResult>& results);

}  // namespace check
