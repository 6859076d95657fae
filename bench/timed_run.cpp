// Fork, exec and wait4, with the clock read around them.
#include "bench/timed_run.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

TimedRun RunTimed(const RunPlan& plan) {
    std::vector<char*> argv;
    for (const std::string& argument : plan.argv)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    TimedRun result;
    const auto started = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid < 0) return result;
    if (pid == 0) {
        for (const auto& [name, value] : plan.environment) setenv(name.c_str(), value.c_str(), 1);
        const int input = open("/dev/null", O_RDONLY);
        const int output = open(plan.outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int log = open(plan.logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (input < 0 || output < 0 || log < 0) _exit(126);
        dup2(input, 0);
        dup2(output, 1);
        dup2(log, 2);
        if (!plan.workingDirectory.empty() && chdir(plan.workingDirectory.c_str()) != 0) _exit(126);
        execv(argv[0], argv.data());
        dprintf(2, "cannot run %s: %s\n", argv[0], strerror(errno));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    result.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.peakKiB = usage.ru_maxrss;
    result.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                        static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    return result;
}
