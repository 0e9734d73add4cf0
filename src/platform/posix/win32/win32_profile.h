// Private-profile (INI file) access.
#pragma once

#include "win32_types.h"

// The three functions below stand in for their Win32 namesakes, reading the
// file afresh at every call (no cache) and matching section and key names
// without regard to ASCII letter case. Names and values are trimmed of
// blanks; a value in matching single or double quotes loses them. Lines
// before the first section header form a section with the empty name.
// Left out: the enumeration of sections or keys (a null section or key is
// refused with ERROR_NOT_SUPPORTED), wide-character files, and the Windows
// folder: a file name without a folder is relative to the working directory,
// and a null one is refused with ERROR_INVALID_PARAMETER instead of meaning
// win.ini.

// The integer after the key, read as Windows reads it: an optional sign, then
// decimal digits, or hex, octal or binary after "0x", "0o", "0b"; it stops at
// the first other character and wraps past 32 bits. The default when the file,
// section or key is missing or the value is empty.
UINT GetPrivateProfileIntA(LPCSTR section, LPCSTR key, INT defaultValue, LPCSTR fileName);

// Copies the value of the key, or the default (trailing spaces dropped, null
// meaning empty) when the file, section or key is missing, cut to size - 1
// characters and terminated. Returns the number of characters copied; a
// missing file also sets ERROR_FILE_NOT_FOUND or ERROR_PATH_NOT_FOUND.
DWORD GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR defaultValue, LPSTR buffer, DWORD size,
                               LPCSTR fileName);

// Sets the key to the value (leading blanks dropped), creating the file, the
// section and the key as needed; a null value deletes the key, a null key the
// section. Every other line of the file is kept as it was; new lines end in
// "\r\n". The file is replaced in one step, through a temporary file beside it.
BOOL WritePrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR fileName);
