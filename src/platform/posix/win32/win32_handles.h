// Kernel objects behind HANDLEs: closing handles, events, threads, mutexes and
// the waits on them.
#pragma once

#include "win32_types.h"

#define STILL_ACTIVE 259u

#define SYNCHRONIZE 0x00100000u
#define EVENT_MODIFY_STATE 0x0002u
#define EVENT_ALL_ACCESS 0x001F0003u
#define MUTEX_MODIFY_STATE 0x0001u
#define MUTEX_ALL_ACCESS 0x001F0001u

#define CREATE_SUSPENDED 0x00000004u
#define STACK_SIZE_PARAM_IS_A_RESERVATION 0x00010000u

// Stands in for CloseHandle on every kind of object of this layer. A named
// object ceases to exist when its last handle in any process is closed.
// INVALID_HANDLE_VALUE, Windows' pseudo-handle of the current process, is
// accepted and left alone, as Windows does.
BOOL CloseHandle(HANDLE object);

// Stands in for CreateEventA. A named event is shared with other processes of
// the same user and shares one namespace with mutexes and file mappings.
// Security attributes and inheritance are ignored: a named object of this
// layer (event, mutex, mapping) is private to its user, and a name that is
// held otherwise (another user's, open to others, a link) is refused with
// ERROR_ACCESS_DENIED by every Create and Open function.
HANDLE CreateEventA(LPSECURITY_ATTRIBUTES attributes, BOOL manualReset, BOOL initialState, LPCSTR name);

// Stands in for OpenEventA; the access mask and inheritance are ignored.
HANDLE OpenEventA(DWORD access, BOOL inherit, LPCSTR name);

// Stand in for SetEvent and ResetEvent. No PulseEvent.
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);

// Stands in for CreateMutexA: a recursive mutex that a thread or process
// ending while holding it leaves abandoned, as on Windows. A named mutex lives
// in shared memory and is shared with other processes of the same user.
// Security attributes and inheritance are ignored.
HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES attributes, BOOL initialOwner, LPCSTR name);

// Stands in for OpenMutexA; the access mask and inheritance are ignored.
HANDLE OpenMutexA(DWORD access, BOOL inherit, LPCSTR name);

// Stands in for ReleaseMutex: FALSE with ERROR_NOT_OWNER for a thread that
// does not own the mutex.
BOOL ReleaseMutex(HANDLE mutex);

// Stands in for WaitForSingleObject on events, mutexes and threads. Left out:
// alertable waits, and waits on pipes and mappings (WAIT_FAILED).
DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds);

// Stands in for WaitForMultipleObjects with bWaitAll FALSE: the lowest index
// among the signalled objects wins, and only that object is consumed (an
// auto-reset event reset, a mutex taken). Waiting for all objects at once is
// left out: bWaitAll TRUE fails with ERROR_INVALID_PARAMETER.
DWORD WaitForMultipleObjects(DWORD count, const HANDLE* objects, BOOL waitAll, DWORD milliseconds);

// Stands in for CreateThread: the thread runs at once; its handle is signalled
// when the start routine returns, whose result becomes the exit code. Left out:
// CREATE_SUSPENDED (fails with ERROR_NOT_SUPPORTED), security attributes,
// ExitThread and TerminateThread.
HANDLE CreateThread(LPSECURITY_ATTRIBUTES attributes, SIZE_T stackSize, LPTHREAD_START_ROUTINE start, LPVOID parameter,
                    DWORD flags, LPDWORD threadId);

// Stands in for GetExitCodeThread: STILL_ACTIVE while the thread runs.
BOOL GetExitCodeThread(HANDLE thread, LPDWORD exitCode);

// Stands in for GetCurrentThreadId: the system's thread id.
DWORD GetCurrentThreadId();
