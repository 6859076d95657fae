// Console colours and bell for a terminal on standard error.
#include "platform/terminal.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstring>

#include "platform/io.h"

bool Platform_IsTerminal(int fd) {
    return isatty(fd) == 1;
}

const char* Platform_TextAttributeSequence(int attribute) {
    // Colour bits in console order (blue 1, green 2, red 4) to ANSI colour numbers.
    static const char* const colours[8] = {"\x1b[2m",  "\x1b[34m", "\x1b[32m", "\x1b[36m",
                                           "\x1b[31m", "\x1b[35m", "\x1b[33m", "\x1b[37m"};
    return colours[attribute & 7];
}

void Platform_SetTextAttribute(int fd, int attribute) {
    WriteText(fd, Platform_TextAttributeSequence(attribute));
}

void Platform_ResetTextAttribute(int fd) {
    WriteText(fd, "\x1b[0m");
}

void Platform_Bell(int fd) {
    WriteText(fd, "\a");
}

int Platform_TerminalColumns(int fd) {
    winsize size{};
    if (ioctl(fd, TIOCGWINSZ, &size) != 0 || size.ws_col == 0) return 80;
    return size.ws_col;
}

void Platform_ClearLine(int fd) {
    WriteText(fd, "\r\x1b[K");
}
