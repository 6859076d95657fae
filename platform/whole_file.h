// Files written whole or not at all: the content goes to a side file in the destination's
// folder, which is made durable and then renamed over the destination, and the folder is
// made durable after it. A failed or interrupted write never leaves a half-written file
// under the destination's name, and an existing file there stays as it was until the new
// one is complete. Results are errno values (0 for success); nothing here logs.
#pragma once
#include <sys/types.h>

#include <cstddef>
#include <functional>

// Where a replacement failed, for writers whose messages tell these apart.
enum class ReplaceStage { NONE, CREATE, WRITE, NAME };

// Writes the destination through write, which gets the side file's descriptor (still its
// owner's after the call: it may write through a dup of it, never close it) and returns
// false with errno set when it failed. The new file keeps an existing file's mode (and,
// where the process may, its owner and group); a new file gets 0666 less the umask. When
// path is a symbolic link (or a chain of them), the file it leads to is replaced and the
// link stays as it was. Returns 0, or the errno value of the failure with the side file
// removed and the destination untouched; *stage, when given, says which step failed.
int Platform_ReplaceFile(const char* path, const std::function<bool(int fd)>& write,
                         ReplaceStage* stage = nullptr);
// The same with the content in one buffer.
int Platform_ReplaceFile(const char* path, const void* data, size_t length,
                         ReplaceStage* stage = nullptr);

// The process's file mode mask (umask), read without setting it: umask() would change it
// for a moment, and a file or a child made by another thread in that moment would get 0.
mode_t Platform_FileModeMask();

// The folder for temporary files: TMPDIR when it is set and not empty, else /tmp.
const char* Platform_TemporaryFolder();
