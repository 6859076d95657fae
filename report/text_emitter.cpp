// The plain-text form: a header block, then fixed-width lines with one blank between
// columns. Hidden columns leave no gap: every later column moves left by their width.
#include <algorithm>
#include <cstring>

#include "report/report_form.h"

namespace {

constexpr size_t kLineLimit = REPORT_LINE_SIZE - 1;

// Copies at most count bytes of text into the line at position, never past its end.
void Place(Report* report, uint64_t position, const char* text, size_t count) {
    if (position >= kLineLimit) return;
    count = std::min<uint64_t>(count, kLineLimit - position);
    memcpy(report->lineBuffer + position, text, count);
}

// Ends the line at the line width less the hidden columns and writes it.
void WriteLine(Report* report, uint64_t shift) {
    uint64_t width = report->lineWidth > shift ? report->lineWidth - shift : 0;
    report->lineBuffer[std::min<uint64_t>(width, kLineLimit)] = 0;
    fprintf(report->out, "%s\n", report->lineBuffer);
}

// Calls place(column, shifted offset) for every visible column; returns the total shift.
template <typename Visit>
uint64_t ForEachVisibleColumn(Report* report, Visit place) {
    uint64_t shift = 0;
    for (uint32_t i = 0; i < report->columnCount; ++i) {
        const ReportColumn& column = report->columns[i];
        if (column.flags & COLUMN_HIDDEN) {
            shift += column.width + 1;
            continue;
        }
        place(i, column, column.offset - shift);
    }
    return shift;
}

void WriteRuledLine(Report* report) {
    BlankLine(report);
    uint64_t shift = ForEachVisibleColumn(
        report, [report](uint32_t, const ReportColumn& column, uint64_t position) {
            if (position >= kLineLimit) return;
            size_t count = std::min<uint64_t>(column.width, kLineLimit - position);
            memset(report->lineBuffer + position, '-', count);
        });
    WriteLine(report, shift);
}

void WriteHeadingLine(Report* report) {
    BlankLine(report);
    uint64_t shift = ForEachVisibleColumn(
        report, [report](uint32_t, const ReportColumn& column, uint64_t position) {
            size_t length = strlen(column.heading);
            Place(report, position, column.heading, std::min<uint64_t>(length, column.width));
        });
    WriteLine(report, shift);
}

void BeginSection(Report* report, void (*hook)(Report*), const char* title, const char* notes) {
    FILE* out = report->out;
    fputs("\n", out);
    fputs("             System: Corvantix\n", out);
    if (report->reportId != 0) fprintf(out, "          Report ID: %u\n", report->reportId);
    fprintf(out, " Report Description: %s\n", title);
    if (notes != nullptr && notes[0] != 0) fprintf(out, "       Report Notes: %s\n", notes);
    fprintf(out, "    Production Time: %s\n", SectionTimeText(report));
    fprintf(out, "       Report Width: %u bytes\n", static_cast<unsigned>(report->lineWidth));
    if (report->hiddenWidth != 0)
        fprintf(out, "      Report Hidden: %u bytes\n", static_cast<unsigned>(report->hiddenWidth));
    fputs("\n", out);
    if (hook != nullptr) {
        hook(report);
        fputs("\n", out);
    }
    WriteHeadingLine(report);
    WriteRuledLine(report);
}

void WriteRow(Report* report, char** fields, size_t count) {
    uint64_t shift = ForEachVisibleColumn(
        report,
        [report, &fields, count](uint32_t i, const ReportColumn& column, uint64_t position) {
            if (i >= count) return;
            char number[64];
            const char* text = CellText(column, fields[i], number);
            size_t length = strlen(text);
            // Right-aligned text ends at the column's last character; text too long for
            // its column is cut and starts at the first.
            if ((column.flags & COLUMN_RIGHT) && length < column.width)
                position += column.width - length;
            Place(report, position, text, std::min<uint64_t>(length, column.width));
        });
    WriteLine(report, shift);
}

}  // namespace

const ReportForm TextForm = {
    .setUp =
        [](Report* report) {
            if (report->flags & REPORT_CGI) WriteCgiHeader("Content-Type: text/plain;\n");
        },
    .beginSection = BeginSection,
    .writeRow = WriteRow,
    .endTable = WriteRuledLine,
    .writeRule = WriteRuledLine,
    .writeHeading = nullptr,
    .close = nullptr,
};
