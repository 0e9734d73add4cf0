// Small helpers for the narrow texts that hosts pass in.
#pragma once

#include <cctype>
#include <cstring>

// A text to print in place of a missing one.
inline const char* NullSafe(const char* text) {
    return text != nullptr ? text : "(null)";
}

// ASCII letters compared without regard to case, like the C runtime's
// _stricmp in the "C" locale.
inline bool EqualsIgnoringCase(const char* a, const char* b) {
    for (; *a != '\0' && *b != '\0'; ++a, ++b) {
        if (std::tolower(static_cast<unsigned char>(*a)) != std::tolower(static_cast<unsigned char>(*b))) {
            return false;
        }
    }
    return *a == *b;
}
