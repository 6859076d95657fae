// report_bench: the file list of the download program, 1,000, 10,000 and 100,000 rows,
// through the report writer in each form named on the command line, with the time and
// peak memory of each run. A plain program, not a test (see the README).
//
//   report_bench [--runs N] [--rows N,N,...] [FORM...]     FORM: text csv html json pdf ...
//
// Every measurement is a fresh process (this program again, with --write), so that the
// peak resident memory is that report's alone. Text, CSV, HTML and JSON go to /dev/null;
// the PDF is saved to a file in a temporary folder, as the program saves it.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/timed_run.h"
#include "download/list_mode.h"
#include "report/report.h"
#include "tests/support/test_support.h"

namespace {

// Descriptions in four scripts, one after the other, as a customer's list holds them.
const char* const kDescriptions[] = {"Daily extract %u of region %u",
                                     "Tagesauszug %u f\u00FCr Region %u",
                                     "\u0415\u0436\u0435\u0434\u043D\u0435\u0432\u043D\u0430\u044F "
                                     "\u0432\u044B\u0433\u0440\u0443\u0437\u043A\u0430 %u, "
                                     "\u0440\u0435\u0433\u0438\u043E\u043D %u",
                                     "\u65E5\u6B21\u62BD\u51FA %u \u5730\u57DF %u"};

// The rows as list mode writes them, with names of a realistic length and mix.
int WriteFileList(unsigned rows) {
    Report report;
    Report_Init(&report);
    BeginFileList(&report);
    char description[161], name[101];
    for (unsigned i = 1; i <= rows; ++i) {
        snprintf(description, sizeof description, kDescriptions[i % 4], i, i % 17);
        snprintf(name, sizeof name, "reports/%04u/%02u/extract-%08u.csv.gz", 2000 + i % 27,
                 1 + i % 12, i);
        Report_WriteRow(&report, "%u|%s |%s |%u", i, description, name, 1 + i % 5);
    }
    Report_EndTable(&report);
    Report_Close(&report);
    return report.saveResult != 0 ? 1 : 0;
}

struct Figure {
    double best = 0;
    double cpu = 0;  // user and system time of the best run
    long peakKiB = 0;
    bool ok = true;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && strcmp(argv[1], "--write") == 0)
        return WriteFileList(static_cast<unsigned>(strtoul(argv[2], nullptr, 10)));

    int runs = 3;
    std::vector<unsigned> sizes = {1000, 10000, 100000};
    std::vector<std::string> forms;
    for (int i = 1; i < argc; ++i) {
        std::string argument = argv[i];
        if (argument == "--runs" && i + 1 < argc) {
            runs = std::max(1, atoi(argv[++i]));
        } else if (argument == "--rows" && i + 1 < argc) {
            sizes.clear();
            for (char* rest = argv[++i]; *rest != 0;) {
                sizes.push_back(static_cast<unsigned>(strtoul(rest, &rest, 10)));
                if (*rest == ',') ++rest;
            }
        } else if (argument[0] != '-') {
            forms.push_back(argument);
        } else {
            fprintf(stderr,
                    "Usage: report_bench [--runs N] [--rows 1000,10000,100000] [FORM ...]\n"
                    "Writes the file list in each form (text csv html json pdf) and prints the\n"
                    "time, CPU time, peak memory and size of each.\n");
            return 1;
        }
    }
    if (forms.empty()) forms = {"text", "csv", "html", "json", "pdf"};

    char self[4096];
    ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0) return 1;
    self[length] = 0;
    // The documents are written in memory-backed /dev/shm unless TMPDIR says otherwise:
    // the figures are the writer's, not those of a disk that other work keeps busy (the
    // fsync before the PDF's rename would otherwise wait for it).
    if (getenv("TMPDIR") == nullptr && access("/dev/shm", W_OK) == 0)
        setenv("TMPDIR", "/dev/shm", 1);
    testsupport::TempDir work;

    printf("%-6s %9s %10s %9s %12s %12s\n", "form", "rows", "best (s)", "CPU (s)", "peak (MiB)",
           "size (MiB)");
    bool failed = false, missed = false;
    std::vector<std::vector<Figure>> figures(forms.size());
    for (size_t f = 0; f < forms.size(); ++f) {
        for (unsigned rows : sizes) {
            Figure figure;
            std::string output = work / ("report." + forms[f]);
            RunPlan plan;
            plan.argv = {self, "--write", std::to_string(rows)};
            plan.environment = {{"ZYMBREPORTFORMAT", forms[f]},
                                {"ZYMBPDFOUTPUTPATH", output},
                                {"ZYMBEXCELOUTPUTPATH", output}};
            plan.outputPath = output;
            plan.logPath = work / "log";
            for (int run = 0; run < runs; ++run) {
                unlink(output.c_str());
                TimedRun result = RunTimed(plan);
                if (result.exitStatus != 0) figure.ok = false;
                if (run == 0 || result.seconds < figure.best) {
                    figure.best = result.seconds;
                    figure.cpu = result.cpuSeconds;
                }
                figure.peakKiB = std::max(figure.peakKiB, result.peakKiB);
            }
            // The text forms write to standard output, which is the same file here. Not read
            // back: what this process holds at fork would count in the next child's peak.
            std::error_code error;
            double size = static_cast<double>(std::filesystem::file_size(output, error)) / 1048576;
            printf("%-6s %9u %10.3f %9.3f %12.1f %12.2f%s\n", forms[f].c_str(), rows, figure.best,
                   figure.cpu, static_cast<double>(figure.peakKiB) / 1024, size,
                   figure.ok ? "" : "  FAILED (see the log below)");
            fflush(stdout);
            failed |= !figure.ok;
            figures[f].push_back(figure);
        }
    }
    if (failed) fputs(testsupport::ReadFile(work / "log").c_str(), stdout);

    // The PDF's targets: 10,000 rows in under 3 s, linear growth (100,000 rows in at most
    // 12 times the time of 10,000), under 256 MiB at 100,000 rows.
    for (size_t f = 0; f < forms.size(); ++f) {
        if (forms[f] != "pdf") continue;
        auto at = [&](unsigned rows) -> const Figure* {
            for (size_t i = 0; i < sizes.size(); ++i)
                if (sizes[i] == rows) return &figures[f][i];
            return nullptr;
        };
        const Figure* ten = at(10000);
        const Figure* hundred = at(100000);
        if (ten != nullptr) {
            bool met = ten->best < 3.0;
            missed |= !met;
            printf("pdf 10,000 rows under 3 s: %s (%.2f s)\n", met ? "met" : "MISSED", ten->best);
        }
        if (ten != nullptr && hundred != nullptr) {
            double ratio = hundred->best / ten->best;
            bool met = ratio <= 12;
            missed |= !met;
            printf("pdf 100,000 rows at most 12 x 10,000: %s (%.1f x)\n", met ? "met" : "MISSED",
                   ratio);
        }
        if (hundred != nullptr) {
            double mib = static_cast<double>(hundred->peakKiB) / 1024;
            bool met = mib < 256;
            missed |= !met;
            printf("pdf 100,000 rows under 256 MiB: %s (%.1f MiB)\n", met ? "met" : "MISSED", mib);
        }
    }
    return failed ? 1 : missed ? 2 : 0;
}
