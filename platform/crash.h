// Crash report: on SIGSEGV, SIGBUS, SIGILL, SIGFPE and SIGABRT the fixed lines go to
// standard error and a report file "<prefix>-<year>-<day of year>-<pid>.dmp" is written
// in the working directory, using only async-signal-safe calls; then the default action runs.
#pragma once
#include <signal.h>

// prefix must stay valid for the life of the process ("XNP10" for command programs).
void Platform_InstallCrashHandler(const char* prefix);
// The report file name for a time, a UTC offset in seconds and a process ID;
// used by the handler and by tests. Returns the length written (without the zero).
int Platform_CrashFileName(char* out, int size, const char* prefix, long long now,
                           long utcOffset, unsigned pid);

// The body of a report (signal, code, fault address, process ID, backtrace) written to fd;
// async-signal-safe, for handlers of programs that place their reports elsewhere.
void Platform_WriteCrashReport(int fd, int signalNumber, const siginfo_t* info);
// Installs handler for the five fatal signals on an alternate stack; the handler finds the
// default action back in place (SA_RESETHAND) and ends with raising the signal again.
void Platform_InstallFatalSignalHandler(void (*handler)(int, siginfo_t*, void*));
// The local time's offset from UTC in seconds now; handlers take it before they are needed.
long Platform_LocalUtcOffset();
