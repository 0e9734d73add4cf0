// An INI file's text read the way Windows' private-profile functions read it
// (a byte-order mark skipped, names matched without regard to ASCII case,
// blanks trimmed, only the first section and key of a name counting) and
// edited line by line, every other line kept as it was. The POSIX stand-ins
// of the profile functions are built on it, and so is every writer of the
// driver's settings file that must read it as the driver does.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

constexpr char kProfileLineEnd[] = "\r\n";
constexpr std::string_view kProfileByteOrderMark = "\xEF\xBB\xBF";

// The blanks Windows trims around names and values; 0x1a is the old
// end-of-file mark.
bool IsProfileBlank(char c);
std::string_view TrimProfileLeft(std::string_view text);
std::string_view TrimProfile(std::string_view text);
bool EqualIgnoringAsciiCase(std::string_view a, std::string_view b);
// Matching quotes around a value are dropped, so that a value can keep blanks
// at its ends.
std::string_view UnquoteProfileValue(std::string_view text);

// What one line of a profile says.
struct LineMeaning {
    enum class Kind { kBlank, kSection, kKey };
    Kind kind = Kind::kBlank;
    std::string_view name;
    // Only a key line with "=" has a value; a key without one reads as missing.
    std::optional<std::string_view> value;
};

// Windows' reading of a line: a header runs from "[" to the last "]" (text
// after it is ignored); any other line that is not blank is a key, a comment
// being a key that nobody asks for.
LineMeaning ReadProfileLine(std::string_view line);

struct Line {
    std::string text;
    // "\r\n", "\n" or "\r" as found; empty for a last line without one.
    std::string ending;
};

// The lines of one profile file, in order, each kept with its own line end so
// that an edit leaves all other lines as they were. A section runs from its
// header to the next one; the lines before the first header form the section
// with the empty name, which therefore always exists. Only the first section
// of a name and the first key of a name in it count, as on Windows.
class ProfileText {
public:
    explicit ProfileText(std::string_view content) {
        if (content.substr(0, kProfileByteOrderMark.size()) == kProfileByteOrderMark) {
            byteOrderMark_ = kProfileByteOrderMark;
            content.remove_prefix(kProfileByteOrderMark.size());
        }
        while (!content.empty()) {
            const size_t end = content.find_first_of("\r\n");
            if (end == std::string_view::npos) {
                lines_.push_back({std::string(content), std::string()});
                break;
            }
            const size_t next = content.compare(end, 2, "\r\n") == 0 ? end + 2 : end + 1;
            lines_.push_back({std::string(content.substr(0, end)), std::string(content.substr(end, next - end))});
            content.remove_prefix(next);
        }
    }

    std::string Serialise() const {
        std::string content = byteOrderMark_;
        for (const Line& line : lines_) {
            content += line.text;
            content += line.ending;
        }
        return content;
    }

    // The trimmed value, quotes and all; none when the section, the key or
    // the key's "=" is missing.
    std::optional<std::string> Value(std::string_view section, std::string_view key) const {
        const std::optional<Range> range = FindSection(section);
        const std::optional<size_t> index = range ? FindKey(*range, key) : std::nullopt;
        if (!index) {
            return std::nullopt;
        }
        const LineMeaning meaning = ReadProfileLine(lines_[*index].text);
        return meaning.value ? std::optional<std::string>(*meaning.value) : std::nullopt;
    }

    // The editing operations return whether the text changed.
    bool SetValue(std::string_view section, std::string_view key, std::string_view value) {
        const std::optional<Range> range = FindSection(section);
        if (!range) {
            Insert(lines_.size(), "[" + std::string(section) + "]");
            Insert(lines_.size(), std::string(key) + "=" + std::string(value));
            return true;
        }
        if (const std::optional<size_t> index = FindKey(*range, key)) {
            Line& line = lines_[*index];
            const LineMeaning meaning = ReadProfileLine(line.text);
            if (meaning.value == value) {
                return false;
            }
            // The key keeps its spelling in the file.
            line.text = std::string(meaning.name) + "=" + std::string(value);
            if (line.ending.empty()) {
                line.ending = kProfileLineEnd;
            }
            return true;
        }
        // A new key goes after the section's last line that is not blank.
        size_t at = range->begin;
        for (size_t i = range->begin; i < range->end; ++i) {
            if (!TrimProfile(lines_[i].text).empty()) {
                at = i + 1;
            }
        }
        Insert(at, std::string(key) + "=" + std::string(value));
        return true;
    }

    bool DeleteKey(std::string_view section, std::string_view key) {
        const std::optional<Range> range = FindSection(section);
        const std::optional<size_t> index = range ? FindKey(*range, key) : std::nullopt;
        if (!index) {
            return false;
        }
        lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(*index));
        return true;
    }

    bool DeleteSection(std::string_view section) {
        const std::optional<Range> range = FindSection(section);
        if (!range || range->header == range->end) {
            return false;
        }
        lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(range->header),
                     lines_.begin() + static_cast<std::ptrdiff_t>(range->end));
        return true;
    }

private:
    // Line indices of one section: its header (equal to `begin` for the
    // section without one), its first line after the header, and its end.
    struct Range {
        size_t header;
        size_t begin;
        size_t end;
    };

    size_t NextHeader(size_t from) const {
        for (size_t i = from; i < lines_.size(); ++i) {
            if (ReadProfileLine(lines_[i].text).kind == LineMeaning::Kind::kSection) {
                return i;
            }
        }
        return lines_.size();
    }

    std::optional<Range> FindSection(std::string_view name) const {
        const size_t firstHeader = NextHeader(0);
        if (name.empty()) {
            return Range{0, 0, firstHeader};
        }
        for (size_t header = firstHeader; header < lines_.size(); header = NextHeader(header + 1)) {
            if (EqualIgnoringAsciiCase(ReadProfileLine(lines_[header].text).name, name)) {
                return Range{header, header + 1, NextHeader(header + 1)};
            }
        }
        return std::nullopt;
    }

    std::optional<size_t> FindKey(const Range& range, std::string_view key) const {
        for (size_t i = range.begin; i < range.end; ++i) {
            const LineMeaning meaning = ReadProfileLine(lines_[i].text);
            if (meaning.kind == LineMeaning::Kind::kKey && EqualIgnoringAsciiCase(meaning.name, key)) {
                return i;
            }
        }
        return std::nullopt;
    }

    // New lines end in "\r\n"; a last line without a line end gets one when
    // a line follows it.
    void Insert(size_t at, std::string text) {
        if (at > 0 && lines_[at - 1].ending.empty()) {
            lines_[at - 1].ending = kProfileLineEnd;
        }
        lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), Line{std::move(text), kProfileLineEnd});
    }

    std::string byteOrderMark_;
    std::vector<Line> lines_;
};

}  // namespace platform
