// The CSV form: a heading line per section, one line per row, every value followed by
// a comma. A value holding a comma, a double quote or a line break is quoted (inner
// quotes doubled) so that a file name cannot split or merge fields. A value that a
// spreadsheet would take for a formula (it begins with =, +, -, @, a tab or a carriage
// return) gets a single quote before it inside its quotes, so that opening the file runs
// nothing; ZYMBCSVRAW=1 keeps such values as they are for scripts. Every other value is
// written byte for byte (well-formed UTF-8: the rows were repaired before they came).
#include <algorithm>
#include <cstring>

#include "base/value_format.h"
#include "report/report_form.h"

namespace {

bool LooksLikeFormula(const char* value) {
    return value[0] != 0 && strchr("=+-@\t\r", value[0]) != nullptr;
}

void WriteValue(FILE* out, const char* value, bool guard) {
    const bool formula = guard && LooksLikeFormula(value);
    if (!formula && strpbrk(value, ",\"\r\n") == nullptr) {
        fprintf(out, "%s,", value);
        return;
    }
    fputc('"', out);
    if (formula) fputc('\'', out);
    for (const char* at = value; *at != 0; ++at) {
        if (*at == '"') fputc('"', out);
        fputc(*at, out);
    }
    fputs("\",", out);
}

void BeginSection(Report* report, void (*)(Report*), const char*, const char*) {
    if (report->flags & REPORT_CSV_NO_HEADER) return;
    for (uint32_t i = 0; i < report->columnCount; ++i)
        if ((report->columns[i].flags & COLUMN_HIDDEN) == 0)
            WriteValue(report->out, report->columns[i].heading, false);
    fputs("\n", report->out);
}

void WriteRow(Report* report, char** fields, size_t count) {
    for (size_t i = 0; i < count; ++i)
        if ((report->columns[i].flags & COLUMN_HIDDEN) == 0)
            WriteValue(report->out, TrimBlanks(fields[i]), (report->flags & REPORT_CSV_RAW) == 0);
    fputs("\n", report->out);
}

void WriteEmptyLine(Report* report) {
    fputs("\n", report->out);
}

}  // namespace

const ReportForm CsvForm = {
    .open = nullptr,
    .setUp =
        [](Report* report) {
            if (report->flags & REPORT_CGI)
                WriteCgiHeader("Content-Type: text/plain; charset=utf-8\n");
        },
    .beginSection = BeginSection,
    .writeRow = WriteRow,
    .endTable = WriteEmptyLine,
    .writeRule = WriteEmptyLine,
    .writeHeading = nullptr,
    .close = nullptr,
    .setOrientation = nullptr,
    .setPageSize = nullptr,
    .setOutputPath = nullptr,
    .setLogo = nullptr,
};
