// The Win32 subset that stands in for <windows.h> on POSIX systems.
#pragma once

#include "win32_errors.h"
#include "win32_handles.h"
#include "win32_mapping.h"
#include "win32_module.h"
#include "win32_pipes.h"
#include "win32_profile.h"
#include "win32_sync.h"
#include "win32_types.h"
