// The Windows side of platform/process_resources.h.
#include "platform/process_resources.h"

// <windows.h> first: the tool help header builds on its types.
#include <windows.h>

#include <tlhelp32.h>

#include "platform/unique_handle.h"

namespace platform {

int OpenHandleCount() {
    DWORD count = 0;
    return GetProcessHandleCount(GetCurrentProcess(), &count) ? static_cast<int>(count) : -1;
}

int ThreadCount() {
    const UniqueFile snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    if (!snapshot) {
        return -1;
    }
    const DWORD self = GetCurrentProcessId();
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    int count = 0;
    for (BOOL more = Thread32First(snapshot.get(), &entry); more; more = Thread32Next(snapshot.get(), &entry)) {
        count += entry.th32OwnerProcessID == self ? 1 : 0;
    }
    return count;
}

}  // namespace platform
