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
#define ERROR_INVALID_DATA 13u
#define ERROR_OUTOFMEMORY 14u
#define ERROR_NOT_SAME_DEVICE 17u
#define ERROR_WRITE_PROTECT 19u
#define ERROR_GEN_FAILURE 31u
#define ERROR_BAD_LENGTH 24u
#define ERROR_SHARING_VIOLATION 32u
#define ERROR_HANDLE_EOF 38u
#define ERROR_NOT_SUPPORTED 50u
#define ERROR_DEV_NOT_EXIST 55u
#define ERROR_FILE_EXISTS 80u
#define ERROR_INVALID_PARAMETER 87u
#define ERROR_BROKEN_PIPE 109u
#define ERROR_DISK_FULL 112u
#define ERROR_CALL_NOT_IMPLEMENTED 120u
#define ERROR_SEM_TIMEOUT 121u
#define ERROR_INSUFFICIENT_BUFFER 122u
#define ERROR_INVALID_NAME 123u
#define ERROR_MOD_NOT_FOUND 126u
#define ERROR_PROC_NOT_FOUND 127u
#define ERROR_DIR_NOT_EMPTY 145u
#define ERROR_BUSY 170u
#define ERROR_ALREADY_EXISTS 183u
#define ERROR_BAD_EXE_FORMAT 193u
#define ERROR_FILENAME_EXCED_RANGE 206u
#define ERROR_BAD_PIPE 230u
#define ERROR_PIPE_BUSY 231u
#define ERROR_NO_DATA 232u
#define ERROR_PIPE_NOT_CONNECTED 233u
#define ERROR_MORE_DATA 234u
#define ERROR_NOT_OWNER 288u
#define ERROR_INVALID_ADDRESS 487u
#define ERROR_MR_MID_NOT_FOUND 317u
#define ERROR_ARITHMETIC_OVERFLOW 534u
#define ERROR_PIPE_CONNECTED 535u
#define ERROR_PIPE_LISTENING 536u
#define ERROR_OPERATION_ABORTED 995u
#define ERROR_IO_INCOMPLETE 996u
#define ERROR_IO_PENDING 997u
#define ERROR_NOACCESS 998u
#define ERROR_POSSIBLE_DEADLOCK 1131u
#define ERROR_MAPPED_ALIGNMENT 1132u
#define ERROR_TOO_MANY_LINKS 1142u
#define ERROR_NOT_FOUND 1168u
#define ERROR_CONNECTION_REFUSED 1225u
#define ERROR_NO_SYSTEM_RESOURCES 1450u
#define ERROR_TIMEOUT 1460u
#define ERROR_RESOURCE_LANG_NOT_FOUND 1815u
#define ERROR_CANT_RESOLVE_FILENAME 1921u

#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200u
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000u

// Stand in for GetLastError/SetLastError: one code per thread, 0 in a new
// thread.
DWORD GetLastError();
void SetLastError(DWORD code);

// Stands in for FormatMessageA with FORMAT_MESSAGE_FROM_SYSTEM (and, if
// wanted, FORMAT_MESSAGE_IGNORE_INSERTS): copies the system text of
// `messageId` into `buffer` as wine words it, ending in "\r\n". Only English
// texts, only the codes this layer and its users report; no other source, no
// insert arguments, no allocated buffer, no line-width control. Returns the
// number of characters stored without the terminator; 0 with
// ERROR_MR_MID_NOT_FOUND for an unknown code, ERROR_INSUFFICIENT_BUFFER when
// text and terminator do not fit (the buffer is left alone),
// ERROR_RESOURCE_LANG_NOT_FOUND for a language other than neutral or English,
// and ERROR_INVALID_PARAMETER for other flags, a missing buffer or a text
// with inserts that are not to be ignored.
DWORD FormatMessageA(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId, LPSTR buffer, DWORD size,
                     void* arguments);
