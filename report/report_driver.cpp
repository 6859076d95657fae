// Test driver: writes one report, in the form the environment chooses, from columns
// given as arguments and a script on standard input, so that tests can run the writer
// with an environment and standard output of its own.
//
//   report_driver [--indent N] [--id N] [--now SECONDS] [--notes TEXT] [--hook]
//                 [--show-format] COLUMN...
//
// --show-format writes "format N" (the chosen format code) to standard error.
// COLUMN is WIDTH[FLAGS]:HEADING with flag letters r (right), n (number), p (plain),
// m (monospaced) and t (tags).
// Standard input holds commands, each ended by a zero byte: "section TITLE",
// "row TEXT", "heading TEXT", "rule", "end", "page". The report is closed at the end of
// the input; a PDF that was not made or saved, or a workbook that could not be saved or
// sent, ends the driver with status 1.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <iterator>
#include <string>

#include "frame/cgi_form.h"
#include "report/report.h"

namespace {

time_t fixedNow = 0;
time_t FixedClock(time_t* out) {
    if (out != nullptr) *out = fixedNow;
    return fixedNow;
}

void Hook(Report* report) {
    fputs("a line of the caller's own\n", report->out);
}

int Usage() {
    fputs(
        "usage: report_driver [--indent N] [--id N] [--now SECONDS] [--notes TEXT] [--hook] "
        "WIDTH[rnpmt]:HEADING...\n",
        stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    // Under a web server, as a CGI program would set it up.
    const ReportSetUp setUp{.cgi = getenv("REQUEST_URI") != nullptr,
                            .formVariable = CgiFormVariable};
    Report report;
    Report_Init(&report, &setUp);
    const char* notes = nullptr;
    bool hook = false;
    for (int i = 1; i < argc; ++i) {
        std::string argument = argv[i];
        bool hasValue = i + 1 < argc;
        if (argument == "--indent" && hasValue) {
            report.lineWidth = strtoull(argv[++i], nullptr, 10);
        } else if (argument == "--id" && hasValue) {
            report.reportId = static_cast<uint16_t>(atoi(argv[++i]));
        } else if (argument == "--now" && hasValue) {
            fixedNow = static_cast<time_t>(atoll(argv[++i]));
            report.now = FixedClock;
            report.creationTime = fixedNow;
        } else if (argument == "--notes" && hasValue) {
            notes = argv[++i];
        } else if (argument == "--hook") {
            hook = true;
        } else if (argument == "--show-format") {
            fprintf(stderr, "format %d\n", report.format);
        } else {
            char* rest = nullptr;
            uint64_t width = strtoull(argument.c_str(), &rest, 10);
            int flags = 0;
            for (; *rest != 0 && *rest != ':'; ++rest) {
                if (*rest == 'r')
                    flags |= COLUMN_RIGHT;
                else if (*rest == 'n')
                    flags |= COLUMN_NUMBER;
                else if (*rest == 'p')
                    flags |= COLUMN_PLAIN;
                else if (*rest == 'm')
                    flags |= COLUMN_MONO;
                else if (*rest == 't')
                    flags |= COLUMN_TAGS;
                else
                    return Usage();
            }
            if (*rest != ':' || rest == argument.c_str()) return Usage();
            Report_AddColumn(&report, width, rest + 1, flags);
        }
    }

    std::string input((std::istreambuf_iterator<char>(std::cin)), std::istreambuf_iterator<char>());
    size_t at = 0;
    while (at < input.size()) {
        size_t end = input.find('\0', at);
        if (end == std::string::npos) end = input.size();
        std::string command = input.substr(at, end - at);
        at = end + 1;
        std::string word = command.substr(0, command.find(' '));
        std::string text = command.size() > word.size() ? command.substr(word.size() + 1) : "";
        if (word == "section") {
            if (notes != nullptr)
                Report_BeginSection(&report, hook ? Hook : nullptr, text.c_str(), "%s", notes);
            else
                Report_BeginSection(&report, hook ? Hook : nullptr, text.c_str(), nullptr);
        } else if (word == "row") {
            Report_WriteRow(&report, "%s", text.c_str());
        } else if (word == "heading") {
            Report_WriteHeading(&report, text.c_str());
        } else if (word == "rule") {
            Report_WriteRule(&report);
        } else if (word == "end") {
            Report_EndTable(&report);
        } else if (word == "page") {
            Report_NewPage(&report);
        } else {
            fprintf(stderr, "report_driver: unknown command \"%s\"\n", word.c_str());
            return 2;
        }
    }
    Report_Close(&report);
    return report.saveResult != 0 ? 1 : 0;
}
