// Machine description from uname() and the program path from /proc/self/exe.
#include "platform/system_info.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

const char* Platform_ProcessorText(const char* machine) {
    struct Mapping {
        const char* machine;
        const char* words;
    };
    static const Mapping mappings[] = {
        {"x86_64", "x64"},   {"amd64", "x64"}, {"i386", "i386"},   {"i486", "i486"},
        {"i586", "i586"},    {"i686", "i686"}, {"mips", "mips"},   {"mips64", "mips"},
        {"alpha", "alpha"},  {"ppc", "ppc"},   {"ppc64", "ppc"},   {"ppc64le", "ppc"},
    };
    for (const Mapping& mapping : mappings)
        if (strcmp(machine, mapping.machine) == 0) return mapping.words;
    return machine;
}

int DescribePlatform(PlatformDescription* description) {
    memset(description, 0, sizeof *description);
    struct utsname name;
    if (uname(&name) != 0) {
        snprintf(description->processorText, sizeof description->processorText, "unknown");
        return 0;
    }
    snprintf(description->systemName, sizeof description->systemName, "%s", name.sysname);
    snprintf(description->versionText, sizeof description->versionText, "%s", name.release);
    snprintf(description->buildText, sizeof description->buildText, "%s", name.version);
    snprintf(description->processorText, sizeof description->processorText, "%s",
             Platform_ProcessorText(name.machine));
    snprintf(description->computerName, 64, "%.63s", name.nodename);
    return 0;
}

bool Platform_ProgramPath(char* out, size_t size) {
    if (size == 0) return false;
    ssize_t n = readlink("/proc/self/exe", out, size - 1);
    if (n <= 0) return false;
    out[n] = 0;
    return true;
}
