// Log and report files that are always new: created exclusively, never through a symbolic
// link, readable only by their owner (and group), under another name when one is taken.
#pragma once
#include <sys/types.h>

#include <cstddef>

// Creates path for writing with O_CREAT|O_EXCL|O_NOFOLLOW and the given mode. When the
// name exists, tries the name with "-1", "-2", ... before the extension of its last
// component ("log-1.txt"), up to "-999"; path then holds the name that was created.
// Returns the descriptor (close-on-exec), or -1 with errno set (EEXIST when every name
// was taken, ENAMETOOLONG when a name does not fit in size). Async-signal-safe: no
// allocation and no stdio, so the crash handler may use it.
int Platform_CreateNewFile(char* path, size_t size, mode_t mode);
