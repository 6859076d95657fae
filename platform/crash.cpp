// The crash report writer. Everything below the handler is async-signal-safe: no
// allocation, no stdio, no locale; the local date comes from an offset taken at start-up.
#include "platform/crash.h"

#include <execinfo.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstring>
#include <ctime>
#include <initializer_list>

#include "platform/io.h"
#include "platform/new_file.h"

namespace {
const char* crashPrefix = "XNP10";
long startupUtcOffset = 0;
char alternateStack[64 * 1024];

// Appends an unsigned decimal or hexadecimal number to out at *at.
void AppendNumber(char* out, int size, int* at, unsigned long long value, int base) {
    char digits[24];
    int count = 0;
    do {
        digits[count++] = "0123456789abcdef"[value % static_cast<unsigned>(base)];
        value /= static_cast<unsigned>(base);
    } while (value != 0);
    while (count > 0 && *at < size - 1) out[(*at)++] = digits[--count];
    out[*at] = 0;
}

void AppendText(char* out, int size, int* at, const char* text) {
    while (*text != 0 && *at < size - 1) out[(*at)++] = *text++;
    out[*at] = 0;
}

bool IsLeap(long long year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

void CrashHandler(int signalNumber, siginfo_t* info, void*) {
    WriteText(2, "An abnormal termination condition has occured.\r\n");
    WriteText(2,
              "A debugging dump file will be created. This dump file can be sent to support for "
              "diagnosis.\r\n");
    char name[128];
    Platform_CrashFileName(name, sizeof name, crashPrefix, static_cast<long long>(time(nullptr)),
                           startupUtcOffset, static_cast<unsigned>(getpid()));
    // The report may hold addresses and names: for its owner only, and never written
    // through a link or over an earlier report.
    int fd = Platform_CreateNewFile(name, sizeof name, 0600);
    WriteText(2, "File name is: ");
    WriteText(2, name);
    WriteText(2, "\r\n");
    if (fd < 0) {
        WriteText(2, "Unable to produce dump.\r\n");
    } else {
        Platform_WriteCrashReport(fd, signalNumber, info);
        close(fd);
    }
    WriteText(2, "Program terminating\r\n");
    // SA_RESETHAND put the default action back; raising again ends the process with it.
    raise(signalNumber);
}
}  // namespace

void Platform_WriteCrashReport(int fd, int signalNumber, const siginfo_t* info) {
    char line[160];
    int at = 0;
    AppendText(line, sizeof line, &at, "signal ");
    AppendNumber(line, sizeof line, &at, static_cast<unsigned>(signalNumber), 10);
    AppendText(line, sizeof line, &at, " code ");
    AppendNumber(line, sizeof line, &at, static_cast<unsigned>(info->si_code), 10);
    AppendText(line, sizeof line, &at, " address 0x");
    AppendNumber(line, sizeof line, &at, reinterpret_cast<unsigned long long>(info->si_addr), 16);
    AppendText(line, sizeof line, &at, " pid ");
    AppendNumber(line, sizeof line, &at, static_cast<unsigned>(getpid()), 10);
    AppendText(line, sizeof line, &at, "\nbacktrace:\n");
    WriteText(fd, line);
    void* frames[64];
    int depth = backtrace(frames, 64);
    backtrace_symbols_fd(frames, depth, fd);
}

int Platform_CrashFileName(char* out, int size, const char* prefix, long long now, long utcOffset,
                           unsigned pid) {
    long long days = (now + utcOffset) / 86400;
    if ((now + utcOffset) % 86400 < 0) days -= 1;
    long long year = 1970;
    for (;;) {
        long long length = IsLeap(year) ? 366 : 365;
        if (days >= 0 && days < length) break;
        if (days < 0) {
            --year;
            days += IsLeap(year) ? 366 : 365;
        } else {
            days -= length;
            ++year;
        }
    }
    int at = 0;
    out[0] = 0;
    AppendText(out, size, &at, prefix);
    AppendText(out, size, &at, "-");
    AppendNumber(out, size, &at, static_cast<unsigned long long>(year), 10);
    AppendText(out, size, &at, "-");
    AppendNumber(out, size, &at, static_cast<unsigned long long>(days), 10);
    AppendText(out, size, &at, "-");
    AppendNumber(out, size, &at, pid, 10);
    AppendText(out, size, &at, ".dmp");
    return at;
}

void Platform_InstallFatalSignalHandler(void (*handler)(int, siginfo_t*, void*)) {
    // The first backtrace loads the unwinder; do it now, not inside the handler.
    void* warmUp[2];
    backtrace(warmUp, 2);

    stack_t stack{};
    stack.ss_sp = alternateStack;
    stack.ss_size = sizeof alternateStack;
    sigaltstack(&stack, nullptr);

    struct sigaction action{};
    action.sa_sigaction = handler;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    for (int signalNumber : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT})
        sigaction(signalNumber, &action, nullptr);
}

long Platform_LocalUtcOffset() {
    time_t now = time(nullptr);
    struct tm local;
    return localtime_r(&now, &local) != nullptr ? local.tm_gmtoff : 0;
}

void Platform_InstallCrashHandler(const char* prefix) {
    crashPrefix = prefix;
    startupUtcOffset = Platform_LocalUtcOffset();
    Platform_InstallFatalSignalHandler(CrashHandler);
}
