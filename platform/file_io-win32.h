// SPDX-License-Identifier: MIT
// What only the Windows half of the program asks of its files (see
// file_io.h).
#ifndef PLATFORM_FILE_IO_WIN32_H
#define PLATFORM_FILE_IO_WIN32_H

#include <windows.h>

#include "platform/file_io.h"

// What the open `handle` is; `known` false when it cannot be told.
file_state state_of_handle(HANDLE handle);

#endif
