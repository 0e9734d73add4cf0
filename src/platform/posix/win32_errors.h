// Win32 last-error codes and their texts.
#pragma once

#include "win32_types.h"

#define ERROR_SUCCESS 0u
#define ERROR_INVALID_FUNCTION 1u
#define ERROR_FILE_NOT_FOUND 2u
#define ERROR_PATH_NOT_FOUND 3u
#define ERROR_TOO_MANY_OPEN_FILES 4u
#define ERROR_ACCESS_DENIED 5u
#define ERROR_INVALID_HANDLE 6u
#define ERROR_NOT_ENOUGH_MEMORY 8u
#define ERROR_OUTOFMEMORY 14u
#define ERROR_SHARING_VIOLATION 32u
#define ERROR_HANDLE_EOF 38u
#define ERROR_NOT_SUPPORTED 50u
#define ERROR_FILE_EXISTS 80u
#define ERROR_INVALID_PARAMETER 87u
#define ERROR_BROKEN_PIPE 109u
#define ERROR_INSUFFICIENT_BUFFER 122u
#define ERROR_SEM_TIMEOUT 121u
#define ERROR_INVALID_NAME 123u
#define ERROR_MOD_NOT_FOUND 126u
#define ERROR_PROC_NOT_FOUND 127u
#define ERROR_ALREADY_EXISTS 183u
#define ERROR_FILENAME_EXCED_RANGE 206u
#define ERROR_BAD_PIPE 230u
#define ERROR_PIPE_BUSY 231u
#define ERROR_NO_DATA 232u
#define ERROR_PIPE_NOT_CONNECTED 233u
#define ERROR_MORE_DATA 234u
#define ERROR_NOT_OWNER 288u
#define ERROR_OPERATION_ABORTED 995u
#define ERROR_IO_INCOMPLETE 996u
#define ERROR_IO_PENDING 997u
#define ERROR_PIPE_CONNECTED 535u
#define ERROR_PIPE_LISTENING 536u

#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200u
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000u

// Per-thread last-error code, as GetLastError/SetLastError.
DWORD GetLastError();
void SetLastError(DWORD code);

// Stands in for FormatMessageA with FORMAT_MESSAGE_FROM_SYSTEM: copies the
// English system text of `messageId` (ending in "\r\n", as Windows does) into
// `buffer`. No source, insert arguments or allocation flag. Returns the
// number of characters stored, or 0 with ERROR_MR_MID_NOT_FOUND (317) for an
// unknown code and ERROR_INSUFFICIENT_BUFFER when the text does not fit.
DWORD FormatMessageA(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId,
                     LPSTR buffer, DWORD size, void* arguments);
