// Crash report: on SIGSEGV, SIGBUS, SIGILL, SIGFPE and SIGABRT the fixed lines go to
// standard error and a report file "<prefix>-<year>-<day of year>-<pid>.dmp" is written
// in the working directory, using only async-signal-safe calls; then the default action runs.
#pragma once

// prefix must stay valid for the life of the process ("XNP10" for command programs).
void Platform_InstallCrashHandler(const char* prefix);
// The report file name for a time, a UTC offset in seconds and a process ID;
// used by the handler and by tests. Returns the length written (without the zero).
int Platform_CrashFileName(char* out, int size, const char* prefix, long long now,
                           long utcOffset, unsigned pid);
