// File mappings backed by shared memory, their views, and the description of
// a view that VirtualQuery gives.
#pragma once

#include "win32_types.h"

#define PAGE_READONLY 0x02u
#define PAGE_READWRITE 0x04u
#define SEC_COMMIT 0x08000000u

#define FILE_MAP_COPY 0x0001u
#define FILE_MAP_WRITE 0x0002u
#define FILE_MAP_READ 0x0004u
#define FILE_MAP_ALL_ACCESS 0x000F001Fu

#define MEM_COMMIT 0x00001000u
#define MEM_MAPPED 0x00040000u

struct MEMORY_BASIC_INFORMATION {
    LPVOID BaseAddress;
    LPVOID AllocationBase;
    DWORD AllocationProtect;
    SIZE_T RegionSize;
    DWORD State;
    DWORD Protect;
    DWORD Type;
};
typedef MEMORY_BASIC_INFORMATION* PMEMORY_BASIC_INFORMATION;

// Stands in for CreateFileMappingA on the paging file (file INVALID_HANDLE_VALUE)
// with PAGE_READWRITE or PAGE_READONLY. An existing mapping of that name is
// opened with ERROR_ALREADY_EXISTS and keeps its size. Named mappings share
// one namespace with events and mutexes and are seen by other processes of
// the same user. Left out: mappings of files (ERROR_INVALID_HANDLE),
// copy-on-write and executable protections, security attributes.
HANDLE CreateFileMappingA(HANDLE file, LPSECURITY_ATTRIBUTES attributes, DWORD protect, DWORD maximumSizeHigh,
                          DWORD maximumSizeLow, LPCSTR name);

// Stands in for OpenFileMappingA: ERROR_FILE_NOT_FOUND when no object has the
// name, ERROR_INVALID_HANDLE when an event or mutex has it. The access mask is
// checked when a view is mapped; inheritance is ignored.
HANDLE OpenFileMappingA(DWORD access, BOOL inherit, LPCSTR name);

// Stands in for MapViewOfFile: offsets in multiples of 64 KiB as on Windows,
// length 0 for the rest of the mapping. A view keeps its mapping alive after
// the mapping's handle is closed. FILE_MAP_COPY maps a shared view.
LPVOID MapViewOfFile(HANDLE mapping, DWORD access, DWORD offsetHigh, DWORD offsetLow, SIZE_T bytes);

// Stands in for UnmapViewOfFile: any address inside a view unmaps it.
BOOL UnmapViewOfFile(LPCVOID address);

// Stands in for VirtualQuery, for addresses inside views mapped by
// MapViewOfFile: the region from the address's page to the end of the view,
// rounded up to whole pages as Windows rounds it. Other memory is not
// described (0 with ERROR_INVALID_PARAMETER).
SIZE_T VirtualQuery(LPCVOID address, PMEMORY_BASIC_INFORMATION buffer, SIZE_T length);
