// Loading a library by path with the system's own account of a failure, and
// finding the file of the module that holds the calling code.
#pragma once

#include <string>

#include "platform/unique_handle.h"

namespace platform {

// Loads the library at `path`. On failure the handle is empty and `error`
// holds the system's words (dlerror, FormatMessage), never a bare number.
UniqueModule LoadLibraryExplained(const std::string& path, std::string& error);

// Keeps the library that holds this code loaded until the process ends, for
// code that hands its functions to another library as callbacks it may call
// at any time.
void KeepCodeModuleLoaded();

// The full path of the library or program that holds this code; empty when
// the system does not tell.
std::string CodeModulePath();

}  // namespace platform
