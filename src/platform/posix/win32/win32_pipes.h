// Named pipes and the file functions that reach them, with overlapped I/O.
#pragma once

#include "win32_types.h"

#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u

#define FILE_SHARE_READ 0x00000001u
#define FILE_SHARE_WRITE 0x00000002u

#define CREATE_NEW 1u
#define CREATE_ALWAYS 2u
#define OPEN_EXISTING 3u
#define OPEN_ALWAYS 4u
#define TRUNCATE_EXISTING 5u

#define FILE_ATTRIBUTE_NORMAL 0x00000080u
#define FILE_FLAG_OVERLAPPED 0x40000000u
#define FILE_FLAG_FIRST_PIPE_INSTANCE 0x00080000u
// Accepted and ignored: see CreateNamedPipeA.
#define WRITE_DAC 0x00040000u

#define PIPE_ACCESS_INBOUND 0x00000001u
#define PIPE_ACCESS_OUTBOUND 0x00000002u
#define PIPE_ACCESS_DUPLEX 0x00000003u

#define PIPE_TYPE_BYTE 0x00000000u
#define PIPE_TYPE_MESSAGE 0x00000004u
#define PIPE_READMODE_BYTE 0x00000000u
#define PIPE_READMODE_MESSAGE 0x00000002u
#define PIPE_WAIT 0x00000000u
#define PIPE_NOWAIT 0x00000001u
#define PIPE_ACCEPT_REMOTE_CLIENTS 0x00000000u
#define PIPE_REJECT_REMOTE_CLIENTS 0x00000008u
#define PIPE_UNLIMITED_INSTANCES 255u

#define NMPWAIT_USE_DEFAULT_WAIT 0x00000000u
#define NMPWAIT_WAIT_FOREVER 0xFFFFFFFFu

#define STATUS_PENDING 0x00000103u
// Windows's macro, through a function: an operation looked at this way while
// it is in flight is finished by the I/O thread from then on, as Windows
// finishes it in the background, whether or not anyone waits for it.
BOOL HasOverlappedIoCompletedAndArm(LPOVERLAPPED overlapped);
#define HasOverlappedIoCompleted(overlapped) (HasOverlappedIoCompletedAndArm(overlapped) != FALSE)

// Stands in for CreateNamedPipeA ("\\.\pipe\NAME", names compared without
// regard to case): one more instance of the pipe, listening at once. Pipes
// live on Unix-domain sequenced-packet sockets reachable by the same user
// only. Left out: PIPE_NOWAIT (ERROR_INVALID_PARAMETER); one-way access
// (pipes are always duplex); instances of one name in several processes (the
// second process gets ERROR_PIPE_BUSY); buffer sizes beyond the system's
// socket buffers; security attributes: only the user's own processes ever
// reach the user's pipes, which live in a folder only the user may enter
// (ERROR_ACCESS_DENIED when that folder is another user's, others may enter
// it, or it is a link).
HANDLE CreateNamedPipeA(LPCSTR name, DWORD openMode, DWORD pipeMode, DWORD maxInstances, DWORD outBufferSize,
                        DWORD inBufferSize, DWORD defaultTimeOut, LPSECURITY_ATTRIBUTES attributes);

// Stands in for ConnectNamedPipe on a server instance: waits for a client,
// or with an overlapped handle returns ERROR_IO_PENDING and signals the
// OVERLAPPED's event once one comes. ERROR_PIPE_CONNECTED when a client came
// first, ERROR_NO_DATA when it has gone again.
BOOL ConnectNamedPipe(HANDLE pipe, LPOVERLAPPED overlapped);

// Stands in for CancelIoEx on a pipe end: ends its pending read, write or
// connect of `overlapped` (every one when null), whichever thread started it,
// with ERROR_OPERATION_ABORTED and its event signalled; FALSE with
// ERROR_NOT_FOUND when none was pending (wine then says TRUE).
BOOL CancelIoEx(HANDLE file, LPOVERLAPPED overlapped);

// Stands in for DisconnectNamedPipe: ends the connection of a server
// instance, whose client then gets ERROR_PIPE_NOT_CONNECTED. Messages the
// client has not read yet before the notice arrives are still delivered.
BOOL DisconnectNamedPipe(HANDLE pipe);

// Stands in for CreateFileA on "\\.\pipe\NAME" only: opens the client end of
// a listening instance in byte read mode. ERROR_FILE_NOT_FOUND when no server
// has the pipe, ERROR_PIPE_BUSY when all its instances are taken. Access,
// sharing, creation disposition and attributes other than
// FILE_FLAG_OVERLAPPED are ignored; other paths fail with ERROR_NOT_SUPPORTED.
HANDLE CreateFileA(LPCSTR fileName, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES attributes,
                   DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE templateFile);

// Stands in for WaitNamedPipeA: TRUE once an instance of the pipe listens,
// ERROR_SEM_TIMEOUT after the time-out, ERROR_FILE_NOT_FOUND at once when
// there is no such pipe. NMPWAIT_USE_DEFAULT_WAIT waits 50 ms.
BOOL WaitNamedPipeA(LPCSTR name, DWORD timeOut);

// Stands in for SetNamedPipeHandleState for the read mode: message read mode
// on a byte pipe fails with ERROR_INVALID_PARAMETER, as does PIPE_NOWAIT. The
// collection count and time-out are ignored.
BOOL SetNamedPipeHandleState(HANDLE pipe, LPDWORD mode, LPDWORD maxCollectionCount, LPDWORD collectDataTimeout);

// Stands in for GetNamedPipeHandleStateA for the number of instances of a
// server end's pipe (the instances this process has: no other process may
// have any). Every other output must be null (ERROR_INVALID_PARAMETER).
BOOL GetNamedPipeHandleStateA(HANDLE pipe, LPDWORD state, LPDWORD currentInstances, LPDWORD maxCollectionCount,
                              LPDWORD collectDataTimeout, LPSTR userName, DWORD userNameSize);

// Stand in for ReadFile and WriteFile on pipe ends. With an overlapped handle
// and an OVERLAPPED they return FALSE with ERROR_IO_PENDING when the operation
// waits; its event is reset at the start and signalled at completion, also
// when it completes at once. In message read mode a message longer than the
// buffer gives its first part with ERROR_MORE_DATA and the rest to the next
// reads; in byte read mode a read takes what has arrived, up to its size.
// Closing a pipe handle ends its pending operations with ERROR_BROKEN_PIPE,
// as wine does. Messages are limited to the system's socket buffer (about
// 200 KB).
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead, LPOVERLAPPED overlapped);
BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD bytesToWrite, LPDWORD bytesWritten, LPOVERLAPPED overlapped);

// Stands in for GetOverlappedResult: ERROR_IO_INCOMPLETE while the operation
// runs and `wait` is FALSE; otherwise the operation's outcome and byte count.
BOOL GetOverlappedResult(HANDLE file, LPOVERLAPPED overlapped, LPDWORD bytesTransferred, BOOL wait);
