#include "args.h"

#include <algorithm>
#include <cstdint>
#include <sstream>

namespace tools {

bool ParseInt(const std::string& text, int min, int max, int& value) {
    size_t i = 0;
    bool negative = false;
    if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
        negative = text[0] == '-';
        i = 1;
    }
    if (i == text.size()) {
        return false;
    }
    int64_t magnitude = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return false;
        }
        magnitude = magnitude * 10 + (text[i] - '0');
        if (magnitude > int64_t{1} << 32) {
            return false;
        }
    }
    const int64_t result = negative ? -magnitude : magnitude;
    if (result < min || result > max) {
        return false;
    }
    value = static_cast<int>(result);
    return true;
}

bool ParseSize(const std::string& text, int max, Size2D& size) {
    const size_t x = text.find_first_of("xX");
    Size2D parsed;
    if (x == std::string::npos || !ParseInt(text.substr(0, x), 1, max, parsed.width) ||
        !ParseInt(text.substr(x + 1), 1, max, parsed.height)) {
        return false;
    }
    size = parsed;
    return true;
}

ArgParser::ArgParser(std::string synopsis) : synopsis_(std::move(synopsis)) {}

void ArgParser::Flag(const std::string& name, bool& target, const std::string& help) {
    options_.push_back({name, "", help, [&target](const std::string&, std::string&) {
                            target = true;
                            return true;
                        }});
}

void ArgParser::Int(const std::string& name, int& target, int min, int max, const std::string& help) {
    Custom(
        name, "N",
        [&target, min, max](const std::string& text, std::string& reason) {
            if (ParseInt(text, min, max, target)) {
                return true;
            }
            reason = "is not a whole number from " + std::to_string(min) + " to " + std::to_string(max);
            return false;
        },
        help);
}

void ArgParser::Text(const std::string& name, const std::string& valueName, std::string& target,
                     const std::string& help) {
    Custom(
        name, valueName,
        [&target](const std::string& text, std::string& reason) {
            if (text.empty()) {
                reason = "is empty";
                return false;
            }
            target = text;
            return true;
        },
        help);
}

void ArgParser::Size(const std::string& name, Size2D& target, int max, const std::string& help) {
    Custom(
        name, "WxH",
        [&target, max](const std::string& text, std::string& reason) {
            if (ParseSize(text, max, target)) {
                return true;
            }
            reason = "is not a size WxH with numbers from 1 to " + std::to_string(max);
            return false;
        },
        help);
}

void ArgParser::Custom(const std::string& name, const std::string& valueName, Converter convert,
                       const std::string& help) {
    options_.push_back({name, valueName, help, std::move(convert)});
}

void ArgParser::OptionalText(const std::string& name, const std::string& valueName, std::string& target,
                             const std::string& help) {
    options_.push_back({name, "[" + valueName + "]", help,
                        [&target](const std::string& text, std::string&) {
                            target = text;
                            return true;
                        },
                        true});
}

const ArgParser::Option* ArgParser::Find(const std::string& name) const {
    const auto found =
        std::find_if(options_.begin(), options_.end(), [&](const Option& option) { return option.name == name; });
    return found == options_.end() ? nullptr : &*found;
}

bool ArgParser::Parse(const std::vector<std::string>& args, std::string& error) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg.size() < 3 || arg.compare(0, 2, "--") != 0) {
            error = "unexpected argument \"" + arg + "\"";
            return false;
        }
        const size_t equals = arg.find('=');
        const std::string name = arg.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
        const Option* option = Find(name);
        if (option == nullptr) {
            error = "unknown option --" + name;
            return false;
        }
        std::string value;
        if (option->valueName.empty()) {
            if (equals != std::string::npos) {
                error = "--" + name + " takes no value";
                return false;
            }
        } else if (equals != std::string::npos) {
            value = arg.substr(equals + 1);
        } else if (option->valueOptional) {
            if (i + 1 < args.size() && args[i + 1].compare(0, 2, "--") != 0) {
                value = args[++i];
            }
        } else if (i + 1 < args.size()) {
            value = args[++i];
        } else {
            error = "--" + name + " needs a value " + option->valueName;
            return false;
        }
        std::string reason;
        if (!option->convert(value, reason)) {
            error = "--" + name + ": \"" + value + "\" " + reason;
            return false;
        }
        given_.insert(name);
    }
    return true;
}

ParseOutcome ArgParser::Outcome(const std::vector<std::string>& args, const bool& help, std::string& text) {
    if (!Parse(args, text)) {
        return ParseOutcome::Error;
    }
    if (help) {
        text = Usage();
        return ParseOutcome::Help;
    }
    return ParseOutcome::Run;
}

std::string ArgParser::Usage() const {
    std::ostringstream usage;
    usage << synopsis_ << "\n\nOptions:\n";
    size_t width = 0;
    std::vector<std::string> heads;
    for (const Option& option : options_) {
        heads.push_back("--" + option.name + (option.valueName.empty() ? "" : " " + option.valueName));
        width = std::max(width, heads.back().size());
    }
    for (size_t i = 0; i < options_.size(); ++i) {
        usage << "  " << heads[i] << std::string(width - heads[i].size() + 2, ' ') << options_[i].help << "\n";
    }
    return usage.str();
}

}  // namespace tools
