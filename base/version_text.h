// The --version answer every program of the suite gives: its name and release, then the
// build date and time.
#pragma once
#include <cstdio>

// Writes "NAME RELEASE" and "Built DATE TIME" (as __DATE__ and __TIME__ give them).
void WriteVersion(FILE* out, const char* programName, const char* buildDate, const char* buildTime);
