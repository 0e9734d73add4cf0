// Last-error codes, their texts, and the translation from errno.
#include <cerrno>
#include <cstring>

#include "errno_map.h"
#include "win32_errors.h"

namespace {

thread_local DWORD lastError = ERROR_SUCCESS;

struct ErrnoCode {
    int error;
    DWORD code;
};

// The closest Win32 code for each errno value the layer can meet, chosen as
// Windows reports the same failure (a read-only medium is "write protected",
// a directory opened as a file is "access denied").
constexpr ErrnoCode kErrnoCodes[] = {
    {0, ERROR_SUCCESS},
    {EPERM, ERROR_ACCESS_DENIED},
    {ENOENT, ERROR_FILE_NOT_FOUND},
    {EIO, ERROR_GEN_FAILURE},
    {ENOEXEC, ERROR_BAD_EXE_FORMAT},
    {EBADF, ERROR_INVALID_HANDLE},
    {EAGAIN, ERROR_NO_SYSTEM_RESOURCES},
    {ENOMEM, ERROR_NOT_ENOUGH_MEMORY},
    {EACCES, ERROR_ACCESS_DENIED},
    {EFAULT, ERROR_NOACCESS},
    {EBUSY, ERROR_BUSY},
    {EEXIST, ERROR_ALREADY_EXISTS},
    {EXDEV, ERROR_NOT_SAME_DEVICE},
    {ENODEV, ERROR_DEV_NOT_EXIST},
    {ENOTDIR, ERROR_PATH_NOT_FOUND},
    {EISDIR, ERROR_ACCESS_DENIED},
    {EINVAL, ERROR_INVALID_PARAMETER},
    {ENFILE, ERROR_TOO_MANY_OPEN_FILES},
    {EMFILE, ERROR_TOO_MANY_OPEN_FILES},
    {ETXTBSY, ERROR_SHARING_VIOLATION},
    {ENOSPC, ERROR_DISK_FULL},
    {ESPIPE, ERROR_INVALID_FUNCTION},
    {EROFS, ERROR_WRITE_PROTECT},
    {EMLINK, ERROR_TOO_MANY_LINKS},
    {EPIPE, ERROR_BROKEN_PIPE},
    {ERANGE, ERROR_INSUFFICIENT_BUFFER},
    {EDEADLK, ERROR_POSSIBLE_DEADLOCK},
    {ENAMETOOLONG, ERROR_FILENAME_EXCED_RANGE},
    {ENOSYS, ERROR_CALL_NOT_IMPLEMENTED},
    {ENOTEMPTY, ERROR_DIR_NOT_EMPTY},
    {ELOOP, ERROR_CANT_RESOLVE_FILENAME},
    {EOVERFLOW, ERROR_ARITHMETIC_OVERFLOW},
    {EMSGSIZE, ERROR_MORE_DATA},
    {EOPNOTSUPP, ERROR_NOT_SUPPORTED},
    {ECONNRESET, ERROR_BROKEN_PIPE},
    {ENOTCONN, ERROR_PIPE_NOT_CONNECTED},
    {ETIMEDOUT, ERROR_TIMEOUT},
    {ECONNREFUSED, ERROR_CONNECTION_REFUSED},
    {ECANCELED, ERROR_OPERATION_ABORTED},
};

struct SystemText {
    DWORD code;
    const char* text;
};

// The texts wine gives for the codes above and for those the layer sets
// itself, word for word. A "%1" is an insert that only
// FORMAT_MESSAGE_IGNORE_INSERTS lets through unchanged.
constexpr SystemText kSystemTexts[] = {
    {ERROR_SUCCESS, "Success.\r\n"},
    {ERROR_INVALID_FUNCTION, "Invalid function.\r\n"},
    {ERROR_FILE_NOT_FOUND, "File not found.\r\n"},
    {ERROR_PATH_NOT_FOUND, "Path not found.\r\n"},
    {ERROR_TOO_MANY_OPEN_FILES, "Too many open files.\r\n"},
    {ERROR_ACCESS_DENIED, "Access denied.\r\n"},
    {ERROR_INVALID_HANDLE, "Invalid handle.\r\n"},
    {ERROR_NOT_ENOUGH_MEMORY, "Not enough memory.\r\n"},
    {ERROR_INVALID_DATA, "Invalid data.\r\n"},
    {ERROR_OUTOFMEMORY, "Out of memory.\r\n"},
    {ERROR_NOT_SAME_DEVICE, "Not same device.\r\n"},
    {ERROR_WRITE_PROTECT, "Write protected.\r\n"},
    {ERROR_GEN_FAILURE, "General failure.\r\n"},
    {ERROR_SHARING_VIOLATION, "Sharing violation.\r\n"},
    {ERROR_HANDLE_EOF, "End of file.\r\n"},
    {ERROR_NOT_SUPPORTED, "Request not supported.\r\n"},
    {ERROR_DEV_NOT_EXIST, "Device does not exist.\r\n"},
    {ERROR_FILE_EXISTS, "File exists.\r\n"},
    {ERROR_INVALID_PARAMETER, "Invalid parameter.\r\n"},
    {ERROR_BROKEN_PIPE, "Broken pipe.\r\n"},
    {ERROR_DISK_FULL, "Disk full.\r\n"},
    {ERROR_CALL_NOT_IMPLEMENTED, "Call not implemented.\r\n"},
    {ERROR_SEM_TIMEOUT, "Semaphore timeout.\r\n"},
    {ERROR_INSUFFICIENT_BUFFER, "Insufficient buffer.\r\n"},
    {ERROR_INVALID_NAME, "Invalid name.\r\n"},
    {ERROR_MOD_NOT_FOUND, "Module not found.\r\n"},
    {ERROR_PROC_NOT_FOUND, "Procedure not found.\r\n"},
    {ERROR_DIR_NOT_EMPTY, "Directory is not empty.\r\n"},
    {ERROR_BUSY, "Resource in use.\r\n"},
    {ERROR_ALREADY_EXISTS, "File already exists.\r\n"},
    {ERROR_BAD_EXE_FORMAT, "Bad EXE format for %1.\r\n"},
    {ERROR_FILENAME_EXCED_RANGE, "File name is too long.\r\n"},
    {ERROR_BAD_PIPE, "Bad pipe.\r\n"},
    {ERROR_PIPE_BUSY, "Pipe busy.\r\n"},
    {ERROR_NO_DATA, "Pipe closed.\r\n"},
    {ERROR_PIPE_NOT_CONNECTED, "Pipe not connected.\r\n"},
    {ERROR_MORE_DATA, "More data available.\r\n"},
    {ERROR_NOT_OWNER, "Mutex not owned by caller.\r\n"},
    {ERROR_MR_MID_NOT_FOUND, "Message 0x%1 not found in file %2.\r\n"},
    {ERROR_ARITHMETIC_OVERFLOW, "Arithmetic overflow.\r\n"},
    {ERROR_PIPE_CONNECTED, "Pipe connected.\r\n"},
    {ERROR_PIPE_LISTENING, "Pipe listening.\r\n"},
    {ERROR_OPERATION_ABORTED, "I/O operation aborted.\r\n"},
    {ERROR_IO_INCOMPLETE, "Overlapped I/O incomplete.\r\n"},
    {ERROR_IO_PENDING, "Overlapped I/O pending.\r\n"},
    {ERROR_NOACCESS, "No access to memory location.\r\n"},
    {ERROR_POSSIBLE_DEADLOCK, "Possible deadlock.\r\n"},
    {ERROR_TOO_MANY_LINKS, "Too many links.\r\n"},
    {ERROR_CONNECTION_REFUSED, "Connection refused.\r\n"},
    {ERROR_NO_SYSTEM_RESOURCES, "No system resources.\r\n"},
    {ERROR_TIMEOUT, "Timeout.\r\n"},
    {ERROR_RESOURCE_LANG_NOT_FOUND, "Resource language not found.\r\n"},
    {ERROR_CANT_RESOLVE_FILENAME, "The filename cannot be resolved.\r\n"},
};

constexpr DWORD kSupportedFormatFlags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
constexpr DWORD kLangNeutral = 0x00;
constexpr DWORD kLangEnglish = 0x09;

const char* FindSystemText(DWORD code) {
    for (const SystemText& entry : kSystemTexts) {
        if (entry.code == code) {
            return entry.text;
        }
    }
    return nullptr;
}

bool IsEnglishOrNeutral(DWORD languageId) {
    const DWORD primary = languageId & 0x3ffu;
    return primary == kLangNeutral || primary == kLangEnglish;
}

// FormatMessageA's answer with the text found: stored, or the failure.
DWORD StoreText(const char* text, LPSTR buffer, DWORD size) {
    const size_t length = std::strlen(text);
    if (length >= size) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(buffer, text, length + 1);
    return static_cast<DWORD>(length);
}

}  // namespace

DWORD GetLastError() {
    return lastError;
}

void SetLastError(DWORD code) {
    lastError = code;
}

DWORD Win32ErrorFromErrno(int error) {
    for (const ErrnoCode& entry : kErrnoCodes) {
        if (entry.error == error) {
            return entry.code;
        }
    }
    return ERROR_GEN_FAILURE;
}

void SetLastErrorFromErrno(int error) {
    SetLastError(Win32ErrorFromErrno(error));
}

DWORD FormatMessageA(DWORD flags, LPCVOID /*source*/, DWORD messageId, DWORD languageId, LPSTR buffer, DWORD size,
                     void* /*arguments*/) {
    if ((flags & FORMAT_MESSAGE_FROM_SYSTEM) == 0 || (flags & ~kSupportedFormatFlags) != 0 || buffer == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (!IsEnglishOrNeutral(languageId)) {
        SetLastError(ERROR_RESOURCE_LANG_NOT_FOUND);
        return 0;
    }
    const char* text = FindSystemText(messageId);
    if (text == nullptr) {
        SetLastError(ERROR_MR_MID_NOT_FOUND);
        return 0;
    }
    // Inserts are never filled in here; Windows refuses a text with inserts
    // when it has no arguments, which is the only case this layer serves.
    if ((flags & FORMAT_MESSAGE_IGNORE_INSERTS) == 0 && std::strchr(text, '%') != nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    return StoreText(text, buffer, size);
}
