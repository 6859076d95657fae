// The batch utility's crash handling. A fatal signal writes the report
// "<temporary folder>/ZYMB-<year>-<day of year from 0>-<pid>.dmp" (mode 0600, always a new
// file: "-1", "-2", ... before ".dmp" when the name is taken) with
// async-signal-safe calls only, then starts the program afresh with "--crash-report <path>"
// to tell the user, and ends with the signal's default action. No window is touched from
// the handler: the fresh process does the showing.
#pragma once

// The option that makes the program show the crash message for a report.
inline constexpr const char* kCrashReportOption = "--crash-report";

// Installs the handler. Takes everything the handler needs now (the temporary folder from
// TMPDIR, else /tmp; the program file; the UTC offset), since it can ask for nothing later.
void BatchCrash_Install();

// The report path the handler would use for a time, a UTC offset and a process ID, in the
// given temporary folder (with or without its final slash). Returns its length.
int BatchCrash_ReportPath(char* out, int size, const char* temporaryFolder, long long now,
                          long utcOffset, unsigned pid);
