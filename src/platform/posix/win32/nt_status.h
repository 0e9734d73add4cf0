// NTSTATUS codes, which pipe operations leave in OVERLAPPED::Internal as
// Windows does, and their Win32 error codes.
#pragma once

#include "win32_types.h"

namespace platform::posix {

// NTSTATUS codes as they appear in OVERLAPPED::Internal.
namespace nt_status {
constexpr ULONG_PTR kSuccess = 0x00000000;
constexpr ULONG_PTR kPending = 0x00000103;
constexpr ULONG_PTR kBufferOverflow = 0x80000005;
constexpr ULONG_PTR kInvalidHandle = 0xC0000008;
constexpr ULONG_PTR kInvalidParameter = 0xC000000D;
constexpr ULONG_PTR kIllegalFunction = 0xC0000010;
constexpr ULONG_PTR kNoMemory = 0xC0000017;
// The states of a pipe end, numbered in a row from 0xC00000B0.
constexpr ULONG_PTR kPipeDisconnected = 0xC00000B0;
constexpr ULONG_PTR kPipeClosing = kPipeDisconnected + 1;
constexpr ULONG_PTR kPipeConnected = kPipeDisconnected + 2;
constexpr ULONG_PTR kPipeListening = kPipeDisconnected + 3;
constexpr ULONG_PTR kPipeBroken = 0xC000014B;
constexpr ULONG_PTR kCancelled = 0xC0000120;

// Error statuses end an operation at its start without signalling its event.
constexpr bool IsError(ULONG_PTR status) {
    return (status & 0xC0000000u) == 0xC0000000u;
}

DWORD ToWin32(ULONG_PTR status) noexcept;
ULONG_PTR FromErrno(int error) noexcept;
}  // namespace nt_status

}  // namespace platform::posix
