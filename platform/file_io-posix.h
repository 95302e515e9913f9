// SPDX-License-Identifier: MIT
// What only the POSIX half of the program asks of its files (see
// file_io.h).
#ifndef PLATFORM_FILE_IO_POSIX_H
#define PLATFORM_FILE_IO_POSIX_H

#include "platform/file_io.h"

// What stands at `name` in the directory open on `directory`, a link
// itself rather than what it leads to; `known` false, with errno set, when
// nothing can be told.
file_state state_at(int directory, const char* name);

#endif
