// The process's own I/O accounting, read from /proc/self/io.
#pragma once
#include <cstdint>

struct ProcessIo {
    uint64_t readOperations;   // syscr
    uint64_t readBytes;        // rchar
    uint64_t writeOperations;  // syscw
    uint64_t writeBytes;       // wchar
};

// False when the accounting cannot be read; the caller then leaves its lines out.
bool Platform_ReadProcessIo(ProcessIo* io);
// Parses the text of an io accounting file; false when a field is missing.
bool Platform_ParseProcessIo(const char* text, ProcessIo* io);
