#include "nt_status.h"

#include "errno_map.h"
#include "win32_errors.h"

namespace platform::posix {

namespace nt_status {
namespace {

struct StatusCode {
    ULONG_PTR status;
    DWORD error;
};

constexpr StatusCode kStatusCodes[] = {
    {kSuccess, ERROR_SUCCESS},
    {kPending, ERROR_IO_PENDING},
    {kBufferOverflow, ERROR_MORE_DATA},
    {kInvalidHandle, ERROR_INVALID_HANDLE},
    {kInvalidParameter, ERROR_INVALID_PARAMETER},
    {kIllegalFunction, ERROR_INVALID_FUNCTION},
    {kNoMemory, ERROR_NOT_ENOUGH_MEMORY},
    {kPipeDisconnected, ERROR_PIPE_NOT_CONNECTED},
    {kPipeClosing, ERROR_NO_DATA},
    {kPipeConnected, ERROR_PIPE_CONNECTED},
    {kPipeListening, ERROR_PIPE_LISTENING},
    {kPipeBroken, ERROR_BROKEN_PIPE},
    {kCancelled, ERROR_OPERATION_ABORTED},
};

// Win32 codes without a status above travel as customer-defined error
// statuses that carry the code itself.
constexpr ULONG_PTR kCarriedError = 0xE0000000;

}  // namespace

DWORD ToWin32(ULONG_PTR status) noexcept {
    for (const StatusCode& entry : kStatusCodes) {
        if (entry.status == status) {
            return entry.error;
        }
    }
    return (status & kCarriedError) == kCarriedError ? static_cast<DWORD>(status & 0xFFFF) : ERROR_GEN_FAILURE;
}

ULONG_PTR FromErrno(int error) noexcept {
    const DWORD code = Win32ErrorFromErrno(error);
    for (const StatusCode& entry : kStatusCodes) {
        if (entry.error == code) {
            return entry.status;
        }
    }
    return kCarriedError | code;
}

}  // namespace nt_status

}  // namespace platform::posix
