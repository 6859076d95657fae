// The report record: initialisation, columns, sections, row dispatch to the form of
// the report, rules, pages and closing.
#include "report/report.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/utf8.h"
#include "base/value_format.h"
#include "report/report_form.h"

void ResetPageCounters(Report* report) {
    report->rowsCounter = 0;
    report->pageSlot = 0;
    report->parent->rowsCounter = 0;
    report->parent->pageSlot = 0;
}

// The line buffer filled with line-width blanks (never past its end).
void BlankLine(Report* report) {
    size_t width = std::min<uint64_t>(report->lineWidth, REPORT_LINE_SIZE - 1);
    memset(report->lineBuffer, ' ', width);
    report->lineBuffer[width] = 0;
}

const char* SectionTimeText(Report* report) {
    return FormatTimeText(report->now(nullptr));
}

void ReportMessage(Report* report, int level, const char* format, ...) {
    char text[1024];
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    if (report->log != nullptr)
        report->log(report->logTarget, level, text);
    else
        fprintf(stderr, "%s\n", text);
}

void Report_Init(Report* report, const ReportSetUp* setUp) {
    memset(report, 0, sizeof *report);
    report->parent = report;
    report->creationTime = time(nullptr);
    report->AddColumn = Report_AddColumn;
    report->WriteRow = Report_WriteRow;
    report->Close = Report_Close;
    report->BeginSection = Report_BeginSection;
    report->EndTable = Report_EndTable;
    report->WriteRule = Report_WriteRule;
    report->NewPage = Report_NewPage;
    report->SetOrientation = Report_SetOrientation;
    report->SetPageSize = Report_SetPageSize;
    report->SetPdfOutputPath = Report_SetPdfOutputPath;
    report->SetPdfLogo = Report_SetPdfLogo;
    report->WriteHeading = Report_WriteHeading;
    report->now = time;
    report->out = stdout;
    ChooseFormat(report, setUp);
    report->form = FormOf(report->format);
    if (report->form->open != nullptr) report->form->open(report);
    Progress_Init(&report->progress, nullptr, 30);
}

namespace {
// The form's slot for what the report does now; none once the report is dropped.
const ReportForm* ActiveForm(const Report* report) {
    return report->format == REPORT_DROPPED ? nullptr : report->form;
}
}  // namespace

uint64_t Report_AddColumn(Report* report, uint64_t width, const char* heading, int flags) {
    if (report->columnCount >= REPORT_MAX_COLUMNS) return report->columnCount;
    ReportColumn& column = report->columns[report->columnCount++];
    column.width = width;
    column.offset = report->lineWidth;
    column.flags = static_cast<uint32_t>(flags);
    CopyCut(column.heading, heading);
    report->lineWidth += width + 1;
    return width + 1;
}

void Report_BeginSection(Report* report, void (*hook)(Report* report), const char* title,
                         const char* notes, ...) {
    ++report->sectionCount;
    if ((report->flags & REPORT_SET_UP) == 0) SetUpReport(report);
    const ReportForm* form = ActiveForm(report);
    if (form == nullptr || form->beginSection == nullptr) return;
    const char* shown = report->titleOverride[0] != 0 ? report->titleOverride : title;
    std::string notesText;
    if (notes != nullptr) {
        va_list arguments;
        va_start(arguments, notes);
        notesText = RepairUtf8(VFormatString(notes, arguments));
        va_end(arguments);
    }
    form->beginSection(report, hook, RepairUtf8(shown != nullptr ? shown : "").c_str(),
                       notes != nullptr ? notesText.c_str() : nullptr);
}

namespace {
// Every row reaches the form as fields of well-formed UTF-8, however the caller gave it:
// a byte that is no part of a character (a name cut by the server, a Latin-1 name)
// becomes U+FFFD here once for all forms.
void DispatchRow(Report* report, char** fields, size_t count) {
    report->progress.add(&report->progress, 1);
    ++report->rowsCounter;
    BlankLine(report);
    count = std::min<size_t>(count, report->columnCount);
    const ReportForm* form = ActiveForm(report);
    if (form == nullptr || form->writeRow == nullptr) return;
    std::string repaired[REPORT_MAX_COLUMNS];
    for (size_t i = 0; i < count; ++i) {
        if (IsUtf8(fields[i])) continue;
        repaired[i] = RepairUtf8(fields[i]);
        fields[i] = repaired[i].data();
    }
    form->writeRow(report, fields, count);
}
}  // namespace

void Report_WriteRow(Report* report, const char* format, ...) {
    char row[REPORT_ROW_SIZE];
    va_list arguments;
    va_start(arguments, format);
    int length = vsnprintf(row, sizeof row, format, arguments);
    va_end(arguments);
    // A row cut to the buffer ends at a character boundary, not inside a character.
    if (length >= static_cast<int>(sizeof row)) row[Utf8CutLength(row, sizeof row - 1)] = 0;
    char* fields[REPORT_MAX_COLUMNS];
    DispatchRow(report, fields, SplitRow(row, fields, REPORT_MAX_COLUMNS));
}

void Report_WriteFields(Report* report, const char* const* fields, size_t count) {
    // Copies, so that the forms may trim in place as they do with split rows.
    char row[REPORT_ROW_SIZE];
    char* copies[REPORT_MAX_COLUMNS];
    count = std::min<size_t>(count, REPORT_MAX_COLUMNS);
    size_t used = 0;
    for (size_t i = 0; i < count; ++i) {
        const char* field = fields[i] != nullptr ? fields[i] : "";
        size_t length = Utf8CutLength(field, sizeof row - 1 - used);
        memcpy(row + used, field, length);
        row[used + length] = 0;
        copies[i] = row + used;
        used = std::min(used + length + 1, sizeof row - 1);
    }
    DispatchRow(report, copies, count);
}

void Report_EndTable(Report* report) {
    const ReportForm* form = ActiveForm(report);
    if (form != nullptr && form->endTable != nullptr) form->endTable(report);
}

void Report_WriteRule(Report* report) {
    const ReportForm* form = ActiveForm(report);
    if (form != nullptr && form->writeRule != nullptr)
        form->writeRule(report);
    else
        ResetPageCounters(report);
}

void Report_NewPage(Report* report) {
    ResetPageCounters(report);
}

void Report_SetOrientation(Report* report, int orientation) {
    if (report->form->setOrientation != nullptr) report->form->setOrientation(report, orientation);
}

void Report_SetPageSize(Report* report, int size) {
    if (report->form->setPageSize != nullptr) report->form->setPageSize(report, size);
}

void Report_SetPdfOutputPath(Report* report, const char* path) {
    if (report->form->setOutputPath != nullptr) report->form->setOutputPath(report, path);
}

// Only a file that is there is kept as the logo.
void Report_SetPdfLogo(Report* report, const char* path) {
    struct stat status;
    if (stat(path, &status) != 0 || !S_ISREG(status.st_mode)) return;
    if (report->form->setLogo != nullptr) report->form->setLogo(report, path);
}

void Report_WriteHeading(Report* report, const char* text) {
    const ReportForm* form = ActiveForm(report);
    if (form != nullptr && form->writeHeading != nullptr)
        form->writeHeading(report, RepairUtf8(text).c_str());
}

void Report_Close(Report* report) {
    if (report->form->close != nullptr) report->form->close(report);
    report->formState = nullptr;
    fflush(report->out);
    fflush(stdout);
}
