// Console colours and bell for a terminal on standard error.
#include "platform/terminal.h"

#include <unistd.h>

#include <cstring>

namespace {
void WriteAll(int fd, const char* text) {
    size_t length = strlen(text);
    while (length > 0) {
        ssize_t n = write(fd, text, length);
        if (n <= 0) return;
        text += n;
        length -= static_cast<size_t>(n);
    }
}
}  // namespace

bool Platform_IsTerminal(int fd) { return isatty(fd) == 1; }

const char* Platform_TextAttributeSequence(int attribute) {
    // Colour bits in console order (blue 1, green 2, red 4) to ANSI colour numbers.
    static const char* const colours[8] = {"\x1b[2m",  "\x1b[34m", "\x1b[32m", "\x1b[36m",
                                           "\x1b[31m", "\x1b[35m", "\x1b[33m", "\x1b[37m"};
    return colours[attribute & 7];
}

void Platform_SetTextAttribute(int fd, int attribute) {
    WriteAll(fd, Platform_TextAttributeSequence(attribute));
}

void Platform_ResetTextAttribute(int fd) { WriteAll(fd, "\x1b[0m"); }

void Platform_Bell(int fd) { WriteAll(fd, "\a"); }
