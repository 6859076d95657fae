// The fatal-signal handler of the batch utility. Below BatchCrash_Install everything is
// async-signal-safe: open, read, write, close, _Fork, execve and raise on buffers made
// before the crash.
#include "batch/crash_handler.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "platform/crash.h"
#include "platform/new_file.h"
#include "platform/system_info.h"
#include "platform/whole_file.h"

extern char** environ;

namespace {
char temporaryFolder[256];
char programFile[4096];
long utcOffset = 0;
bool canStartReporter = false;

void CopyFile(const char* source, int target) {
    int fd = open(source, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    char buffer[4096];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) > 0) {
        for (ssize_t done = 0; done < n;) {
            ssize_t written = write(target, buffer + done, static_cast<size_t>(n - done));
            if (written <= 0) {
                close(fd);
                return;
            }
            done += written;
        }
    }
    close(fd);
}

// The program itself, in a session of its own with its standard streams on /dev/null, so
// that whoever waits for the crashed program's output is not kept waiting by the message.
void StartReporter(const char* reportPath) {
    if (!canStartReporter) return;
    pid_t child = _Fork();
    if (child != 0) return;
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    setsid();
    int null = open("/dev/null", O_RDWR);
    if (null >= 0) {
        dup2(null, 0);
        dup2(null, 1);
        dup2(null, 2);
    }
    close_range(3, ~0u, 0);
    char* const arguments[] = {programFile, const_cast<char*>(kCrashReportOption),
                               const_cast<char*>(reportPath), nullptr};
    execve(programFile, arguments, environ);
    _exit(127);
}

void CrashHandler(int signalNumber, siginfo_t* info, void*) {
    char path[512];
    BatchCrash_ReportPath(path, sizeof path, temporaryFolder, static_cast<long long>(time(nullptr)),
                          utcOffset, static_cast<unsigned>(getpid()));
    // Created new, readable by its owner only: it holds the program's memory map. A name
    // already taken (a file, a link or a FIFO someone put there) is never written to or
    // waited on: the report takes the name with "-1", "-2", ... instead.
    int fd = Platform_CreateNewFile(path, sizeof path, 0600);
    if (fd >= 0) {
        Platform_WriteCrashReport(fd, signalNumber, info);
        const char* mapsHeading = "maps:\n";
        ssize_t ignored = write(fd, mapsHeading, 6);
        (void)ignored;
        CopyFile("/proc/self/maps", fd);
        close(fd);
        StartReporter(path);
    }
    raise(signalNumber);
}
}  // namespace

int BatchCrash_ReportPath(char* out, int size, const char* folder, long long now, long offset,
                          unsigned pid) {
    // Called from the handler: no stdio here.
    char prefix[300];
    size_t at = 0;
    for (const char* from = folder; *from != 0 && at < sizeof prefix - 6; ++from)
        prefix[at++] = *from;
    if (at == 0 || prefix[at - 1] != '/') prefix[at++] = '/';
    for (const char* from = "ZYMB"; *from != 0; ++from) prefix[at++] = *from;
    prefix[at] = 0;
    return Platform_CrashFileName(out, size, prefix, now, offset, pid);
}

void BatchCrash_Install() {
    snprintf(temporaryFolder, sizeof temporaryFolder, "%s", Platform_TemporaryFolder());
    canStartReporter = Platform_ProgramPath(programFile, sizeof programFile);
    utcOffset = Platform_LocalUtcOffset();
    Platform_InstallFatalSignalHandler(CrashHandler);
}
