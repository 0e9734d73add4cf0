// The console on Windows: a console control handler sets a flag, and so does
// the process's interrupt event (see interrupt_event.h).
#include <atomic>

#include <fcntl.h>
#include <io.h>

#include "platform/console.h"
#include "platform/unique_handle.h"
#include "platform/win32.h"
#include "platform/windows/interrupt_event.h"

namespace platform {
namespace {

std::atomic<bool> interrupted{false};

// Created by CatchInterrupt, before other threads start, and kept for the
// life of the process.
UniqueEvent& InterruptEvent() {
    static UniqueEvent event;
    return event;
}

BOOL WINAPI OnControl(DWORD event) {
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
        interrupted.store(true);
        return TRUE;
    default:
        return FALSE;
    }
}

}  // namespace

void CatchInterrupt() {
    // A process started in a process group of its own begins with Ctrl+C
    // ignored; the handler below wants it back.
    SetConsoleCtrlHandler(nullptr, FALSE);
    SetConsoleCtrlHandler(&OnControl, TRUE);
    InterruptEvent().reset(
        CreateEventA(nullptr, TRUE, FALSE, windows::InterruptEventName(GetCurrentProcessId()).c_str()));
}

bool InterruptRequested() {
    if (!interrupted.load() && InterruptEvent() && WaitForSingleObject(InterruptEvent().get(), 0) == WAIT_OBJECT_0) {
        interrupted.store(true);
    }
    return interrupted.load();
}

bool IsTerminal(std::FILE* stream) {
    return _isatty(_fileno(stream)) != 0;
}

void UseUtf8Console() {
    SetConsoleOutputCP(CP_UTF8);
}

void UseBinaryStandardInput() {
    _setmode(_fileno(stdin), _O_BINARY);
}

}  // namespace platform
