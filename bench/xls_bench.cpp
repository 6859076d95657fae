// xls_bench: the Excel form of the report writer at 1,000, 10,000 and 100,000 rows of
// the file list (or the counts given on the command line): time from Report_Init to the
// saved workbook, and the peak memory of the process that wrote it. A plain program, not
// a test; run it from a Release build (see the README).
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/message_sink.h"
#include "download/list_mode.h"
#include "report/report.h"

namespace {

constexpr double kTargetSeconds = 2.0;    // for 100,000 rows
constexpr double kTargetPeakMiB = 128.0;  // at 100,000 rows
constexpr double kLinearSlack = 1.5;      // time per row may grow this much with size

// The writer's failures on standard error; the line saying where the workbook went, once
// per run, would only clutter the table.
void LogFailures(void*, int level, const char* text) {
    if (level <= MSG_WARNING) fprintf(stderr, "%s\n", text);
}

// Writes rows file-list rows as the download program does and saves the workbook.
void WriteReport(unsigned rows) {
    Report report;
    Report_Init(&report);
    report.log = LogFailures;
    BeginFileList(&report);
    char description[41], name[101];
    for (unsigned i = 0; i < rows; ++i) {
        snprintf(description, sizeof description, "Nightly transfer batch %u", i % 977);
        snprintf(name, sizeof name, "exports/2026/customer-%04u/ledger-%07u.csv.gz", i % 613, i);
        Report_WriteRow(&report, "%u|%.*s |%.*s |%u", i + 1, 40, description, 100, name, i % 7);
    }
    Report_EndTable(&report);
    Report_Close(&report);
    _exit(report.saveResult == 0 ? 0 : 1);
}

struct Figures {
    unsigned rows;
    double seconds;
    double peakMiB;
    long long bytes;
    bool ok;
};

Figures Measure(unsigned rows, const std::string& folder) {
    std::string path = folder + "/bench-" + std::to_string(rows) + ".xls";
    setenv("ZYMBREPORTFORMAT", "excel", 1);
    setenv("ZYMBEXCELOUTPUTPATH", path.c_str(), 1);
    unsetenv("REQUEST_URI");
    fflush(stdout);  // the child closes the report, which flushes standard output
    auto start = std::chrono::steady_clock::now();
    pid_t child = fork();
    if (child == 0) WriteReport(rows);
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    struct stat file {};
    bool saved = stat(path.c_str(), &file) == 0;
    unlink(path.c_str());
    return {rows, seconds, usage.ru_maxrss / 1024.0,
            saved ? static_cast<long long>(file.st_size) : -1,
            WIFEXITED(status) && WEXITSTATUS(status) == 0 && saved};
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<unsigned> counts;
    for (int i = 1; i < argc; ++i)
        counts.push_back(static_cast<unsigned>(strtoul(argv[i], nullptr, 10)));
    if (counts.empty()) counts = {1000, 10000, 100000};
    char folder[] = "/tmp/xls_bench.XXXXXX";
    if (mkdtemp(folder) == nullptr) {
        perror("mkdtemp");
        return 1;
    }
    std::vector<Figures> all;
    printf("%10s %10s %12s %12s %12s\n", "rows", "seconds", "us/row", "peak MiB", "file KiB");
    for (unsigned rows : counts) {
        Measure(rows, folder);  // once to warm the caches
        Figures best = Measure(rows, folder);
        for (int round = 0; round < 2; ++round) {
            Figures again = Measure(rows, folder);
            if (again.seconds < best.seconds) best = again;
        }
        all.push_back(best);
        printf("%10u %10.3f %12.2f %12.1f %12.1f%s\n", rows, best.seconds,
               best.seconds * 1e6 / rows, best.peakMiB, best.bytes / 1024.0,
               best.ok ? "" : "  (not saved)");
    }
    rmdir(folder);

    int status = 0;
    for (const Figures& figures : all) {
        if (!figures.ok) status = 1;
        if (figures.rows == 100000) {
            bool fast = figures.seconds < kTargetSeconds, small = figures.peakMiB < kTargetPeakMiB;
            printf("100,000 rows in under %.0f s: %s; peak under %.0f MiB: %s\n", kTargetSeconds,
                   fast ? "met" : "MISSED", kTargetPeakMiB, small ? "met" : "MISSED");
            if ((!fast || !small) && status == 0) status = 2;
        }
    }
    if (all.size() >= 2 && all.back().rows > all.front().rows) {
        // Per-row cost of the largest against the middle run (the smallest is start-up bound).
        const Figures& large = all.back();
        const Figures& middle = all[all.size() - 2];
        double ratio = (large.seconds / large.rows) / (middle.seconds / middle.rows);
        printf("time per row, %u against %u rows: %.2f (linear within %.1f: %s)\n", large.rows,
               middle.rows, ratio, kLinearSlack, ratio <= kLinearSlack ? "met" : "MISSED");
        if (ratio > kLinearSlack && status == 0) status = 2;
    }
    return status;
}
