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

#include "platform/posix/file_io.h"
#include "platform/profile_text.h"
#include "profile_file.h"
#include "win32_errors.h"
#include "win32_profile.h"

namespace {

// Windows reads a number into a buffer of 30 characters before parsing it.
constexpr size_t kIntegerTextLimit = 29;

using platform::ProfileText;
using platform::TrimProfile;
using platform::TrimProfileLeft;
using platform::UnquoteProfileValue;
using platform::posix::SetLastErrorForFile;

// The default of GetPrivateProfileStringA as Windows uses it: null is empty,
// trailing spaces (not other blanks) go, then matching quotes.
std::string_view DefaultText(LPCSTR defaultValue) {
    std::string_view text = defaultValue == nullptr ? std::string_view() : std::string_view(defaultValue);
    while (!text.empty() && text.back() == ' ') {
        text.remove_suffix(1);
    }
    return UnquoteProfileValue(text);
}

char AsciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
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
        const int error = platform::posix::ReadWholeFile(fileName, content);
        if (error != 0) {
            SetLastErrorForFile(error, fileName);
            return std::nullopt;
        }
        return ProfileText(content).Value(TrimProfile(section), TrimProfile(key));
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
    const int readError = platform::posix::ReadWholeFile(fileName, content);
    if (readError != 0 && readError != ENOENT) {
        SetLastErrorForFile(readError, fileName);
        return FALSE;
    }
    ProfileText text(content);
    bool changed = false;
    if (key == nullptr) {
        changed = text.DeleteSection(section);
    } else if (value == nullptr) {
        changed = text.DeleteKey(section, TrimProfile(key));
    } else {
        changed = text.SetValue(section, TrimProfile(key), TrimProfileLeft(value));
    }
    if (!changed) {
        return TRUE;
    }
    const int writeError = platform::posix::ReplaceWholeFile(fileName, text.Serialise());
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
    const std::string_view text = UnquoteProfileValue(*value).substr(0, kIntegerTextLimit);
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
    return CopyCut(value ? UnquoteProfileValue(*value) : DefaultText(defaultValue), buffer, size);
}

BOOL WritePrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR fileName) {
    if (section == nullptr || fileName == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    try {
        return Rewrite(TrimProfile(section), key, value, fileName);
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
}
