#include "check_report.h"

#include <cstdio>
#include <sstream>

namespace check {
namespace {

std::string JsonText(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
                out += escaped;
            } else {
                out += c;
            }
        }
    }
    return out + "\"";
}

}  // namespace

bool AllHold(const std::vector<RuleResult>& results) {
    for (const RuleResult& result : results) {
        if (!result.holds) {
            return false;
        }
    }
    return !results.empty();
}

std::string FormatText(const std::string& share, const std::vector<RuleResult>& results) {
    std::ostringstream out;
    out << "quorvex-check: the camera server of the share \"" << share << "\"\n";
    int broken = 0;
    for (const RuleResult& result : results) {
        if (result.holds) {
            out << "PASS " << result.name << ": " << result.saw << "\n";
        } else {
            ++broken;
            out << "FAIL " << result.name << ": " << result.rule << "; saw: " << result.saw << "\n";
        }
    }
    if (broken == 0) {
        out << "quorvex-check: all " << results.size() << " rules hold\n";
    } else {
        out << "quorvex-check: " << broken << " of " << results.size() << " rules broken\n";
    }
    return out.str();
}

std::string FormatJson(const std::string& share, const std::vector<RuleResult>& results) {
    std::ostringstream out;
    out << "{\"share\": " << JsonText(share) << ", \"pass\": " << (AllHold(results) ? "true" : "false")
        << ", \"rules\": [";
    for (size_t i = 0; i < results.size(); ++i) {
        const RuleResult& result = results[i];
        out << (i == 0 ? "" : ", ") << "{\"name\": " << JsonText(result.name) << ", \"rule\": " << JsonText(result.rule)
            << ", \"pass\": " << (result.holds ? "true" : "false") << ", \"saw\": " << JsonText(result.saw) << "}";
    }
    out << "]}\n";
    return out.str();
}

}  // namespace check
