// The configuration file of a command program (libconfig): syslog, standard output
// prefix and suffix, message filters.
#pragma once
#include "frame/program_context.h"

// 1 on success or when path is none or empty; 0 when the file cannot be read.
int ReadConfiguration(ProgramContext* context, const char* path);
// Writes a configured text to standard output, each "~" as a newline, then a newline.
void WriteConfiguredText(const char* text);
