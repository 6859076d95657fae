// What the banner says about the machine: system, versions, processor, host,
// and where the running program file lives.
#pragma once
#include <cstddef>

struct PlatformDescription {
    char systemName[65];
    char computerName[65];
    char buildText[65];
    char versionText[65];
    char processorText[130];
};

// Fills the record from uname(); returns 0.
int DescribePlatform(PlatformDescription* description);
// The processor words for a machine name ("x86_64" gives "x64").
const char* Platform_ProcessorText(const char* machine);
// The path of the running program file; false when it cannot be read.
bool Platform_ProgramPath(char* out, size_t size);
