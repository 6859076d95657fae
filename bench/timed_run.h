// One timed child process: wall time from fork to its end, exit status and peak memory.
#pragma once
#include <map>
#include <string>
#include <vector>

struct TimedRun {
    double seconds = 0;
    int exitStatus = -1;    // exit code, or -1 when a signal ended it
    long peakKiB = 0;       // the child's peak resident set (ru_maxrss of wait4)
    double cpuSeconds = 0;  // user and system time of the child and the children it waited for
};

struct RunPlan {
    std::vector<std::string> argv;  // argv[0] is the program's path
    std::string workingDirectory;   // empty: the current one
    std::string outputPath = "/dev/null";
    std::string logPath = "/dev/null";               // standard error, appended
    std::map<std::string, std::string> environment;  // set over the current environment
};

// Runs the program to its end. Standard input is /dev/null.
TimedRun RunTimed(const RunPlan& plan);
