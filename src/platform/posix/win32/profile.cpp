// Private-profile files: read whole, edited line by line, replaced whole.
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "profile_file.h"
#include "win32_errors.h"
#include "win32_profile.h"

namespace {

using platform::posix::ReadWholeFile;
using platform::posix::ReplaceWholeFile;
using platform::posix::SetLastErrorForFile;

constexpr char kLineEnd[] = "\r\n";
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
// Windows reads a number into a buffer of 30 characters before parsing it.
constexpr size_t kIntegerTextLimit = 29;

// The blanks Windows trims around names and values; 0x1a is the old
// end-of-file mark.
bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v' || c == '\x1a';
}

std::string_view TrimLeft(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) {
        text.remove_prefix(1);
    }
    return text;
}

std::string_view Trim(std::string_view text) {
    text = TrimLeft(text);
    while (!text.empty() && IsBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

char AsciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return AsciiLower(x) == AsciiLower(y); });
}

// Matching quotes around a value are dropped, so that a value can keep blanks
// at its ends.
std::string_view Unquote(std::string_view text) {
    if (text.size() >= 2 && (text.front() == '"' || text.front() == '\'') && text.back() == text.front()) {
        return text.substr(1, text.size() - 2);
    }
    return text;
}

// The default of GetPrivateProfileStringA as Windows uses it: null is empty,
// trailing spaces (not other blanks) go, then matching quotes.
std::string_view DefaultText(LPCSTR defaultValue) {
    std::string_view text = defaultValue == nullptr ? std::string_view() : std::string_view(defaultValue);
    while (!text.empty() && text.back() == ' ') {
        text.remove_suffix(1);
    }
    return Unquote(text);
}

unsigned DigitValue(char c) {
    if (c >= '0' && c <= '9') {
        return static_cast<unsigned>(c - '0');
    }
    const char lower = AsciiLower(c);
    if (lower >= 'a' && lower <= 'z') {
        return static_cast<unsigned>(lower - 'a' + 10);
    }
    return UINT_MAX;
}

// Windows' reading of a number: leading blanks, one sign, a base prefix in
// lower case ("0x", "0o", "0b"), then the digits that belong to the base.
UINT ParseInteger(std::string_view text) {
    size_t at = 0;
    while (at < text.size() && static_cast<unsigned char>(text[at]) <= ' ') {
        ++at;
    }
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
        negative = text[at] == '-';
        ++at;
    }
    unsigned base = 10;
    if (at + 1 < text.size() && text[at] == '0') {
        const char prefix = text[at + 1];
        base = prefix == 'x' ? 16 : prefix == 'o' ? 8 : prefix == 'b' ? 2 : 10;
        if (base != 10) {
            at += 2;
        }
    }
    UINT value = 0;
    for (; at < text.size(); ++at) {
        const unsigned digit = DigitValue(text[at]);
        if (digit >= base) {
            break;
        }
        value = value * base + digit;
    }
    return negative ? 0u - value : value;
}

DWORD CopyCut(std::string_view text, LPSTR buffer, DWORD size) {
    const size_t count = std::min<size_t>(text.size(), size - 1);
    std::memcpy(buffer, text.data(), count);
    buffer[count] = '\0';
    return static_cast<DWORD>(count);
}

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
LineMeaning ReadLine(std::string_view line) {
    LineMeaning meaning;
    const std::string_view text = Trim(line);
    if (text.empty()) {
        return meaning;
    }
    const size_t close = text.rfind(']');
    if (text.front() == '[' && close != std::string_view::npos) {
        meaning.kind = LineMeaning::Kind::kSection;
        meaning.name = Trim(text.substr(1, close - 1));
        return meaning;
    }
    meaning.kind = LineMeaning::Kind::kKey;
    const size_t equals = text.find('=');
    meaning.name = Trim(text.substr(0, equals));
    if (equals != std::string_view::npos) {
        meaning.value = Trim(text.substr(equals + 1));
    }
    return meaning;
}

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
        if (content.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
            byteOrderMark_ = kByteOrderMark;
            content.remove_prefix(kByteOrderMark.size());
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
        const LineMeaning meaning = ReadLine(lines_[*index].text);
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
            const LineMeaning meaning = ReadLine(line.text);
            if (meaning.value == value) {
                return false;
            }
            // The key keeps its spelling in the file.
            line.text = std::string(meaning.name) + "=" + std::string(value);
            if (line.ending.empty()) {
                line.ending = kLineEnd;
            }
            return true;
        }
        // A new key goes after the section's last line that is not blank.
        size_t at = range->begin;
        for (size_t i = range->begin; i < range->end; ++i) {
            if (!Trim(lines_[i].text).empty()) {
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
            if (ReadLine(lines_[i].text).kind == LineMeaning::Kind::kSection) {
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
            if (EqualIgnoringCase(ReadLine(lines_[header].text).name, name)) {
                return Range{header, header + 1, NextHeader(header + 1)};
            }
        }
        return std::nullopt;
    }

    std::optional<size_t> FindKey(const Range& range, std::string_view key) const {
        for (size_t i = range.begin; i < range.end; ++i) {
            const LineMeaning meaning = ReadLine(lines_[i].text);
            if (meaning.kind == LineMeaning::Kind::kKey && EqualIgnoringCase(meaning.name, key)) {
                return i;
            }
        }
        return std::nullopt;
    }

    // New lines end in "\r\n"; a last line without a line end gets one when
    // a line follows it.
    void Insert(size_t at, std::string text) {
        if (at > 0 && lines_[at - 1].ending.empty()) {
            lines_[at - 1].ending = kLineEnd;
        }
        lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), Line{std::move(text), kLineEnd});
    }

    std::string byteOrderMark_;
    std::vector<Line> lines_;
};

// One process-wide lock orders the read-modify-write cycles of all threads.
std::mutex& WriteLock() {
    static std::mutex lock;
    return lock;
}

// The value behind section and key, still in its quotes; none, with the last
// error set, when the file cannot be read. The layer never throws, so a
// failed allocation is reported like any other failure.
std::optional<std::string> LookUp(LPCSTR section, LPCSTR key, LPCSTR fileName) {
    try {
        std::string content;
        const int error = ReadWholeFile(fileName, content);
        if (error != 0) {
            SetLastErrorForFile(error, fileName);
            return std::nullopt;
        }
        return ProfileText(content).Value(Trim(section), Trim(key));
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return std::nullopt;
    }
}

// WritePrivateProfileStringA past its argument checks; may throw
// std::bad_alloc.
BOOL Rewrite(std::string_view section, LPCSTR key, LPCSTR value, LPCSTR fileName) {
    const std::lock_guard<std::mutex> hold(WriteLock());
    std::string content;
    const int readError = ReadWholeFile(fileName, content);
    if (readError != 0 && readError != ENOENT) {
        SetLastErrorForFile(readError, fileName);
        return FALSE;
    }
    ProfileText text(content);
    bool changed = false;
    if (key == nullptr) {
        changed = text.DeleteSection(section);
    } else if (value == nullptr) {
        changed = text.DeleteKey(section, Trim(key));
    } else {
        changed = text.SetValue(section, Trim(key), TrimLeft(value));
    }
    if (!changed) {
        return TRUE;
    }
    const int writeError = ReplaceWholeFile(fileName, text.Serialise());
    if (writeError != 0) {
        SetLastErrorForFile(writeError, fileName);
        return FALSE;
    }
    return TRUE;
}

}  // namespace

UINT GetPrivateProfileIntA(LPCSTR section, LPCSTR key, INT defaultValue, LPCSTR fileName) {
    const UINT fallback = static_cast<UINT>(defaultValue);
    if (section == nullptr || key == nullptr || fileName == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return fallback;
    }
    const std::optional<std::string> value = LookUp(section, key, fileName);
    if (!value) {
        return fallback;
    }
    const std::string_view text = Unquote(*value).substr(0, kIntegerTextLimit);
    return text.empty() ? fallback : ParseInteger(text);
}

DWORD GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR defaultValue, LPSTR buffer, DWORD size,
                               LPCSTR fileName) {
    if (buffer == nullptr || size == 0) {
        return 0;
    }
    if (section == nullptr || key == nullptr) {
        SetLastError(ERROR_NOT_SUPPORTED);
        buffer[0] = '\0';
        return 0;
    }
    std::optional<std::string> value;
    if (fileName == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
    } else {
        value = LookUp(section, key, fileName);
    }
    return CopyCut(value ? Unquote(*value) : DefaultText(defaultValue), buffer, size);
}

BOOL WritePrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR fileName) {
    if (section == nullptr || fileName == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    try {
        return Rewrite(Trim(section), key, value, fileName);
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
}
