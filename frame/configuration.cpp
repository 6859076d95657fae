// Configuration file (placeholder until the libconfig reader lands).
#include "frame/configuration.h"

#include <cstdio>

int ReadConfiguration(ProgramContext*, const char*) {
    return 1;
}

void WriteConfiguredText(const char* text) {
    for (; *text != 0; ++text) putchar(*text == '~' ? '\n' : *text);
    putchar('\n');
    fflush(stdout);
}
