// The console side of the message log: colours as ANSI SGR sequences and the bell.
// Attributes keep the console's bit meanings (1 blue, 2 green, 4 red, 8 intensity).
#pragma once

bool Platform_IsTerminal(int fd);
// Writes the SGR sequence for a console text attribute to fd.
void Platform_SetTextAttribute(int fd, int attribute);
// Writes the reset sequence: the terminal's start-up attributes.
void Platform_ResetTextAttribute(int fd);
void Platform_Bell(int fd);
// The terminal's width in columns, or 80 when it cannot be told.
int Platform_TerminalColumns(int fd);
// Takes the cursor back to the start of the line and clears that line.
void Platform_ClearLine(int fd);
// The SGR sequence for an attribute, for tests and for writers that buffer.
const char* Platform_TextAttributeSequence(int attribute);
