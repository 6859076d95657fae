// Reads the kernel's per-process I/O counters.
#include "platform/process_io.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace {
bool Field(const char* text, const char* name, uint64_t* value) {
    size_t nameLength = strlen(name);
    for (const char* line = text; line != nullptr && *line != 0;) {
        if (strncmp(line, name, nameLength) == 0 && line[nameLength] == ':') {
            *value = strtoull(line + nameLength + 1, nullptr, 10);
            return true;
        }
        line = strchr(line, '\n');
        if (line != nullptr) ++line;
    }
    return false;
}
}  // namespace

bool Platform_ParseProcessIo(const char* text, ProcessIo* io) {
    return Field(text, "syscr", &io->readOperations) && Field(text, "rchar", &io->readBytes) &&
           Field(text, "syscw", &io->writeOperations) && Field(text, "wchar", &io->writeBytes);
}

bool Platform_ReadProcessIo(ProcessIo* io) {
    int fd = open("/proc/self/io", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char text[1024];
    ssize_t n = read(fd, text, sizeof text - 1);
    close(fd);
    if (n <= 0) return false;
    text[n] = 0;
    return Platform_ParseProcessIo(text, io);
}
