#include "platform/profile_text.h"

#include <algorithm>

namespace platform {
namespace {

char AsciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

bool IsProfileBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v' || c == '\x1a';
}

std::string_view TrimProfileLeft(std::string_view text) {
    while (!text.empty() && IsProfileBlank(text.front())) {
        text.remove_prefix(1);
    }
    return text;
}

std::string_view TrimProfile(std::string_view text) {
    text = TrimProfileLeft(text);
    while (!text.empty() && IsProfileBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

bool EqualIgnoringAsciiCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return AsciiLower(x) == AsciiLower(y); });
}

std::string_view UnquoteProfileValue(std::string_view text) {
    if (text.size() >= 2 && (text.front() == '"' || text.front() == '\'') && text.back() == text.front()) {
        return text.substr(1, text.size() - 2);
    }
    return text;
}

LineMeaning ReadProfileLine(std::string_view line) {
    LineMeaning meaning;
    const std::string_view text = TrimProfile(line);
    if (text.empty()) {
        return meaning;
    }
    const size_t close = text.rfind(']');
    if (text.front() == '[' && close != std::string_view::npos) {
        meaning.kind = LineMeaning::Kind::kSection;
        meaning.name = TrimProfile(text.substr(1, close - 1));
        return meaning;
    }
    meaning.kind = LineMeaning::Kind::kKey;
    const size_t equals = text.find('=');
    meaning.name = TrimProfile(text.substr(0, equals));
    if (equals != std::string_view::npos) {
        meaning.value = TrimProfile(text.substr(equals + 1));
    }
    return meaning;
}

}  // namespace platform
