// batch_bench: ZYMBBatch --run beside the shell running the same child, for a child that
// writes a million 80-byte lines to each of its standard streams, and the cost of a run
// whose child is quiet.
//
//   batch_bench [--lines N] [--runs R] [--quiet SECONDS]
//
// Targets: the run takes at most 1.5 times the shell's (best of R each, both with their
// own output sent to /dev/null); a run whose child sleeps uses under 1 % of one core.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "bench/timed_run.h"
#include "tests/support/test_support.h"

namespace {

// The quick child: both streams at once, 80-byte lines (79 characters and a line feed) in
// large writes, as a program that logs a lot writes them.
int WriteLines(long lines) {
    auto writeStream = [lines](int fd) {
        std::string block;
        std::vector<char> buffer;
        for (long i = 0; i < lines; ++i) {
            char line[81];
            snprintf(line, sizeof line, "%079ld\n", i);
            block.append(line, 80);
            if (block.size() >= 64 * 1024 || i + 1 == lines) {
                for (size_t done = 0; done < block.size();) {
                    ssize_t written = write(fd, block.data() + done, block.size() - done);
                    if (written <= 0) return;
                    done += static_cast<size_t>(written);
                }
                block.clear();
            }
        }
    };
    std::thread error(writeStream, 2);
    writeStream(1);
    error.join();
    return 0;
}

double LoadAverage() {
    double load = 0;
    FILE* file = fopen("/proc/loadavg", "r");
    if (file != nullptr) {
        if (fscanf(file, "%lf", &load) != 1) load = 0;
        fclose(file);
    }
    return load;
}

struct Best {
    double best = 1e9;
    double cpu = 0;
    bool failed = false;
};

Best Measure(const RunPlan& plan, int runs, const char* label) {
    Best result;
    for (int i = 0; i < runs; ++i) {
        TimedRun run = RunTimed(plan);
        if (run.exitStatus != 0) {
            fprintf(stderr, "batch_bench: %s ended with %d\n", label, run.exitStatus);
            result.failed = true;
            return result;
        }
        if (run.seconds < result.best) {
            result.best = run.seconds;
            result.cpu = run.cpuSeconds;
        }
    }
    return result;
}

// Counts the lines of the last run's log between its Stdout and Stderr headers and after.
void CheckLog(const std::string& folder, long lines, bool* ok) {
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        std::string name = entry.path().filename();
        if (name.rfind("BRM", 0) != 0) continue;
        std::string log = testsupport::ReadFile(entry.path());
        size_t out = log.find(":: Stdout (");
        size_t err = log.find(":: Stderr (");
        size_t end = log.find(":: Program Ended (");
        if (out == std::string::npos || err == std::string::npos || end == std::string::npos) {
            *ok = false;
        } else {
            long outLines = std::count(log.begin() + out, log.begin() + err, '\n') - 3;
            long errLines = std::count(log.begin() + err, log.begin() + end, '\n') - 3;
            if (outLines != lines || errLines != lines) {
                fprintf(stderr, "batch_bench: the log holds %ld and %ld lines, not %ld\n", outLines,
                        errLines, lines);
                *ok = false;
            }
        }
        std::filesystem::remove(entry.path());
    }
}

}  // namespace

int main(int argc, char** argv) {
    long lines = 1000000;
    int runs = 5;
    int quietSeconds = 5;
    for (int i = 1; i < argc; ++i) {
        std::string argument = argv[i];
        if (argument == "--write-lines" && i + 1 < argc) return WriteLines(atol(argv[i + 1]));
        if (argument == "--lines" && i + 1 < argc) {
            lines = atol(argv[++i]);
        } else if (argument == "--runs" && i + 1 < argc) {
            runs = atoi(argv[++i]);
        } else if (argument == "--quiet" && i + 1 < argc) {
            quietSeconds = atoi(argv[++i]);
        } else {
            fprintf(
                stderr,
                "Usage: batch_bench [--lines N] [--runs R] [--quiet SECONDS]\n"
                "Times ZYMBBatch --run beside the shell for a child that writes N lines of\n"
                "80 bytes to each standard stream, and the cost of a run with a quiet child.\n");
            return 1;
        }
    }
    testsupport::TempDir work;
    std::string self = std::filesystem::canonical("/proc/self/exe");
    // Two children: this program's quick writer, and awk formatting every line itself.
    testsupport::WriteFile(work / "awk.sh",
                           "awk -v n=\"$1\" 'BEGIN { for (i = 0; i < n; i++) printf \"%079d\\n\", "
                           "i }' >&2 &\n"
                           "awk -v n=\"$1\" 'BEGIN { for (i = 0; i < n; i++) printf \"%079d\\n\", "
                           "i }'\nwait\n");
    struct Child {
        const char* name;
        std::vector<std::string> argv;
    } children[] = {
        {"quick writer", {self, "--write-lines", std::to_string(lines)}},
        {"awk", {"/bin/sh", work / "awk.sh", std::to_string(lines)}},
    };

    printf("batch_bench: %ld lines of 80 bytes on each stream, best of %d; load %.2f\n", lines,
           runs, LoadAverage());
    // Beside the shell's /dev/null, the cost of any capture through pipes: the shell sending
    // each stream through tee to a file in the same folder, as a script keeping a log does.
    printf("%-14s %10s %12s %12s %8s %12s %10s\n", "child", "shell", "shell+tee", "ZYMBBatch",
           "ratio", "batch CPU", "vs tee");
    bool ok = true;
    for (const Child& child : children) {
        std::string arguments;
        for (size_t i = 1; i < child.argv.size(); ++i) arguments += " '" + child.argv[i] + "'";
        std::string batch =
            work / (std::string(child.name[0] == 'q' ? "quick" : "awk") + ".cvbatch");
        testsupport::WriteFile(batch, "options = { program = \"" + child.argv[0] +
                                          "\"; arguments = \"" + arguments.substr(1) + "\"; };\n");
        RunPlan shell;
        shell.argv = child.argv;
        RunPlan ours;
        ours.argv = {BATCH_PROGRAM, "--run", batch};
        ours.environment["TMPDIR"] = work.Path();
        RunPlan tee;
        tee.argv = {"/bin/sh", "-c",
                    "{ \"$@\" | tee \"$TEEDIR/out\" >/dev/null; } 2>&1 | tee \"$TEEDIR/err\" "
                    ">/dev/null",
                    "sh"};
        tee.argv.insert(tee.argv.end(), child.argv.begin(), child.argv.end());
        tee.environment["TEEDIR"] = work.Path();
        Best shellBest = Measure(shell, runs, "the shell run");
        Best teeBest = Measure(tee, runs, "the shell run through tee");
        Best oursBest = Measure(ours, runs, "ZYMBBatch --run");
        CheckLog(work.Path(), lines, &ok);
        if (shellBest.failed || teeBest.failed || oursBest.failed) return 1;
        double ratio = oursBest.best / shellBest.best;
        printf("%-14s %9.3fs %11.3fs %11.3fs %8.2f %11.3fs %10.2f\n", child.name, shellBest.best,
               teeBest.best, oursBest.best, ratio, oursBest.cpu, oursBest.best / teeBest.best);
        if (ratio > 1.5) ok = false;
    }

    testsupport::WriteFile(work / "quiet.cvbatch",
                           "options = { program = \"sleep\"; arguments = \"" +
                               std::to_string(quietSeconds) + "\"; };\n");
    RunPlan quiet;
    quiet.argv = {BATCH_PROGRAM, "--run", work / "quiet.cvbatch"};
    quiet.environment["TMPDIR"] = work.Path();
    TimedRun sleeping = RunTimed(quiet);
    CheckLog(work.Path(), 0, &ok);
    double share = 100.0 * sleeping.cpuSeconds / sleeping.seconds;
    printf("quiet child: sleep %d took %.3fs, ZYMBBatch used %.4fs of CPU (%.3f %% of a core)\n",
           quietSeconds, sleeping.seconds, sleeping.cpuSeconds, share);
    if (sleeping.exitStatus != 0 || share >= 1.0) ok = false;
    printf("load %.2f; targets %s\n", LoadAverage(), ok ? "met" : "MISSED");
    return ok ? 0 : 2;
}
