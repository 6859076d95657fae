// The CSV form: a heading line per section, one line per row, every value followed by
// a comma. A value holding a comma, a double quote or a line break is quoted (inner
// quotes doubled) so that a file name cannot split or merge fields; every other value
// is written byte for byte.
#include <algorithm>
#include <cstring>

#include "base/value_format.h"
#include "report/report_form.h"

namespace {

void WriteValue(FILE* out, const char* value) {
    if (strpbrk(value, ",\"\r\n") == nullptr) {
        fprintf(out, "%s,", value);
        return;
    }
    fputc('"', out);
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
            WriteValue(report->out, report->columns[i].heading);
    fputs("\n", report->out);
}

void WriteRow(Report* report, char** fields, size_t count) {
    for (size_t i = 0; i < count; ++i)
        if ((report->columns[i].flags & COLUMN_HIDDEN) == 0)
            WriteValue(report->out, TrimBlanks(fields[i]));
    fputs("\n", report->out);
}

void WriteEmptyLine(Report* report) {
    fputs("\n", report->out);
}

}  // namespace

const ReportForm CsvForm = {
    .setUp =
        [](Report* report) {
            if (report->flags & REPORT_CGI) WriteCgiHeader("Content-Type: text/plain;\n");
        },
    .beginSection = BeginSection,
    .writeRow = WriteRow,
    .endTable = WriteEmptyLine,
    .writeRule = WriteEmptyLine,
    .writeHeading = nullptr,
    .close = nullptr,
};
