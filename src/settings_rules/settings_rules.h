// The facts of the settings file that the driver, its settings dialog and
// the host library all rely on: the file's name, the keys, the defaults, the
// ranges and which share names survive a round trip through the file. Header
// only, so that every one of them reaches it without linking another layer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace settings_rules {

// The file in the host's system folder, one section per camera.
constexpr char kFileName[] = "Quorvex.ini";

constexpr char kPipeNameKey[] = "PipeName";
constexpr char kConnectionTimeoutKey[] = "ConnectionTimeout";
constexpr char kLogLevelKey[] = "LogLevel";
// Held in memory only: never read from or written to the file.
constexpr char kLogIntoFileKey[] = "LogIntoFile";

constexpr char kDefaultPipeName[] = "Camera Share";

// A whole-number setting: its default and the values it may take.
struct IntRange {
    int32_t defaultValue;
    int32_t minValue;
    int32_t maxValue;
};

constexpr IntRange kConnectionTimeoutMs{3000, 100, 10000};
constexpr IntRange kLogLevel{1, 0, 4};
constexpr IntRange kLogIntoFile{0, 0, 1};

// The value raised to the minimum, then lowered to the maximum, as the
// driver corrects a ConnectionTimeout read from the file.
constexpr int32_t Clamp(int32_t value, const IntRange& range) {
    const int32_t raised = value < range.minValue ? range.minValue : value;
    return raised > range.maxValue ? range.maxValue : raised;
}

// A text value is read into a buffer of this many bytes: a longer one loses
// its end.
constexpr size_t kTextValueCapacity = 256;

// The characters the file's reader trims around a value; 0x1a is the old
// end-of-file mark.
constexpr bool IsTrimmedBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v' || c == '\x1a';
}

// Why the driver would read `share` back from the file as another name, or
// null when it reads it as written. The reasons complete the sentence "the
// share name ... is refused: ".
constexpr const char* ShareNameProblem(std::string_view share) {
    if (share.empty()) {
        return "it is empty";
    }
    if (share.size() >= kTextValueCapacity) {
        return "it is 256 bytes or longer, and the driver reads at most 255";
    }
    for (const char c : share) {
        if (c == '\r' || c == '\n') {
            return "it holds a line break";
        }
        if (static_cast<unsigned char>(c) < 0x20 || c == '\x7f') {
            return "it holds a control character";
        }
    }
    if (IsTrimmedBlank(share.front()) || IsTrimmedBlank(share.back())) {
        return "it begins or ends with a blank, which the driver drops";
    }
    if (share.size() >= 2 && (share.front() == '"' || share.front() == '\'') && share.back() == share.front()) {
        return "it is enclosed in quotes, which the driver drops";
    }
    return nullptr;
}

// The one sentence every face shows for a refused share name; empty when
// the name is fine.
inline std::string ShareNameRefusal(std::string_view share) {
    const char* problem = ShareNameProblem(share);
    return problem == nullptr ? std::string() : "the share name \"" + std::string(share) + "\" is refused: " + problem;
}

}  // namespace settings_rules
