#include "platform/system_text.h"

#include <climits>

#include "platform/win32.h"

namespace platform {
namespace {

// `text` of code page `codePage` as UTF-16; false for bytes that are not
// text of that code page.
bool ToWide(UINT codePage, DWORD flags, std::string_view text, std::wstring& wide) {
    wide.clear();
    if (text.empty()) {
        return true;
    }
    if (text.size() > INT_MAX) {
        return false;
    }
    const int length = static_cast<int>(text.size());
    const int wideLength = MultiByteToWideChar(codePage, flags, text.data(), length, nullptr, 0);
    if (wideLength <= 0) {
        return false;
    }
    wide.resize(static_cast<size_t>(wideLength));
    return MultiByteToWideChar(codePage, flags, text.data(), length, wide.data(), wideLength) == wideLength;
}

// `wide` in code page `codePage`; with `exact`, false when a character has
// no place in it (WC_NO_BEST_FIT_CHARS: no look-alike, and the default
// character reported, not put in).
bool FromWide(UINT codePage, const std::wstring& wide, bool exact, std::string& text) {
    text.clear();
    if (wide.empty()) {
        return true;
    }
    const int wideLength = static_cast<int>(wide.size());
    // UTF-8, also as the ANSI code page, takes neither the flag nor the
    // report, and holds every character.
    const bool utf8 = codePage == CP_UTF8 || (codePage == CP_ACP && GetACP() == CP_UTF8);
    const bool checked = exact && !utf8;
    const DWORD flags = checked ? WC_NO_BEST_FIT_CHARS : 0;
    BOOL defaulted = FALSE;
    BOOL* const report = checked ? &defaulted : nullptr;
    const int length = WideCharToMultiByte(codePage, flags, wide.data(), wideLength, nullptr, 0, nullptr, report);
    if (length <= 0 || defaulted) {
        return false;
    }
    text.resize(static_cast<size_t>(length));
    return WideCharToMultiByte(codePage, flags, wide.data(), wideLength, text.data(), length, nullptr, report) ==
               length &&
           !defaulted;
}

}  // namespace

bool Utf8ToSystemText(std::string_view utf8, std::string& system) {
    std::wstring wide;
    if (!ToWide(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, wide) || !FromWide(CP_ACP, wide, true, system)) {
        system.clear();
        return false;
    }
    return true;
}

std::string SystemTextToUtf8(std::string_view system) {
    std::wstring wide;
    std::string utf8;
    if (!ToWide(CP_ACP, 0, system, wide) || !FromWide(CP_UTF8, wide, false, utf8)) {
        return std::string(system);
    }
    return utf8;
}

std::string SystemTextEncoding() {
    const UINT codePage = GetACP();
    return codePage == CP_UTF8 ? "UTF-8" : "the ANSI code page " + std::to_string(codePage);
}

}  // namespace platform
