// Loading shared libraries by path.
#pragma once

#include "win32_types.h"

// Stands in for LoadLibraryA on dlopen: the name is the shared object's file
// name or path, searched as the dynamic linker searches (no ".dll" suffix
// added, no search in the program's folder first). Each load counts; loading
// a loaded library gives the same handle. Fails with ERROR_MOD_NOT_FOUND, or
// ERROR_BAD_EXE_FORMAT when a file named by path exists but cannot be loaded.
HMODULE LoadLibraryA(LPCSTR fileName);

// Stands in for GetProcAddress on dlsym; a null module means the program
// itself. Names only, no ordinals. Fails with ERROR_PROC_NOT_FOUND.
FARPROC GetProcAddress(HMODULE module, LPCSTR name);

// Stands in for FreeLibrary on dlclose: drops one load. A null module fails
// with ERROR_INVALID_HANDLE; any other handle must come from LoadLibraryA.
BOOL FreeLibrary(HMODULE module);
