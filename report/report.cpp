// The report record: initialisation, columns, sections, row dispatch to the form of
// the report, rules, pages and closing.
#include "report/report.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/value_format.h"
#include "report/excel_report.h"
#include "report/pdf_report.h"
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

const ReportForm* FormOf(int format) {
    switch (format) {
        case REPORT_TEXT:
            return &TextForm;
        case REPORT_CSV:
            return &CsvForm;
        case REPORT_HTML:
            return &HtmlForm;
        case REPORT_PDF:
            return &PdfForm;
        case REPORT_EXCEL:
            return &ExcelForm;
        case REPORT_JSON:
            return &JsonForm;
        default:
            return nullptr;
    }
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
    report->pdf = static_cast<ReportPdf*>(calloc(1, sizeof(ReportPdf)));
    report->excel = static_cast<ReportExcel*>(calloc(1, sizeof(ReportExcel)));
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
    report->WriteFields = Report_WriteFields;
    report->now = time;
    report->out = stdout;
    report->jsonRoot = cJSON_CreateArray();
    ChooseFormat(report, setUp);
    Progress_Init(&report->progress, nullptr, 30);
}

uint64_t Report_AddColumn(Report* report, uint64_t width, const char* heading, int flags) {
    if (report->columnCount >= REPORT_MAX_COLUMNS) return report->columnCount;
    ReportColumn& column = report->columns[report->columnCount++];
    column.width = width;
    column.offset = report->lineWidth;
    column.flags = static_cast<uint32_t>(flags);
    snprintf(column.heading, sizeof column.heading, "%s", heading);
    report->lineWidth += width + 1;
    return width + 1;
}

void Report_BeginSection(Report* report, void (*hook)(Report* report), const char* title,
                         const char* notes, ...) {
    ++report->sectionCount;
    if ((report->flags & REPORT_SET_UP) == 0) SetUpReport(report);
    const ReportForm* form = FormOf(report->format);
    if (form == nullptr || form->beginSection == nullptr) return;
    const char* shown = report->titleOverride[0] != 0 ? report->titleOverride : title;
    std::string notesText;
    if (notes != nullptr) {
        va_list arguments;
        va_start(arguments, notes);
        notesText = VFormatString(notes, arguments);
        va_end(arguments);
    }
    form->beginSection(report, hook, shown != nullptr ? shown : "",
                       notes != nullptr ? notesText.c_str() : nullptr);
}

namespace {
// Every row reaches the form as fields, however the caller gave it.
void DispatchRow(Report* report, char** fields, size_t count) {
    report->progress.add(&report->progress, 1);
    ++report->rowsCounter;
    BlankLine(report);
    count = std::min<size_t>(count, report->columnCount);
    const ReportForm* form = FormOf(report->format);
    if (form != nullptr && form->writeRow != nullptr) form->writeRow(report, fields, count);
}
}  // namespace

void Report_WriteRow(Report* report, const char* format, ...) {
    char row[REPORT_ROW_SIZE];
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(row, sizeof row, format, arguments);
    va_end(arguments);
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
        size_t length = std::min(strlen(field), sizeof row - 1 - used);
        memcpy(row + used, field, length);
        row[used + length] = 0;
        copies[i] = row + used;
        used = std::min(used + length + 1, sizeof row - 1);
    }
    DispatchRow(report, copies, count);
}

void Report_EndTable(Report* report) {
    const ReportForm* form = FormOf(report->format);
    if (form != nullptr && form->endTable != nullptr) form->endTable(report);
}

void Report_WriteRule(Report* report) {
    const ReportForm* form = FormOf(report->format);
    if (form != nullptr && form->writeRule != nullptr)
        form->writeRule(report);
    else
        ResetPageCounters(report);
}

void Report_NewPage(Report* report) {
    ResetPageCounters(report);
}

void Report_SetOrientation(Report* report, int orientation) {
    if (report->pdf != nullptr) report->pdf->orientation = orientation;
}

void Report_SetPageSize(Report* report, int size) {
    if (report->pdf != nullptr) report->pdf->pageSize = size;
}

void Report_SetPdfOutputPath(Report* report, const char* path) {
    if (report->pdf != nullptr)
        snprintf(report->pdf->outputPath, sizeof report->pdf->outputPath, "%s", path);
}

void Report_SetPdfLogo(Report* report, const char* path) {
    struct stat status;
    if (report->pdf == nullptr || stat(path, &status) != 0 || !S_ISREG(status.st_mode)) return;
    snprintf(report->pdf->logoPath, sizeof report->pdf->logoPath, "%s", path);
}

void Report_WriteHeading(Report* report, const char* text) {
    const ReportForm* form = FormOf(report->format);
    if (form != nullptr && form->writeHeading != nullptr) form->writeHeading(report, text);
}

void Report_Close(Report* report) {
    if (report->parent == report) {
        ClosePdfDocument(report);
        CloseExcelBook(report);
    }
    free(report->sectionTitle);
    free(report->sectionNotes);
    free(report->htmlLogo);
    report->sectionTitle = report->sectionNotes = report->htmlLogo = nullptr;
    if ((report->flags & REPORT_PDF_BORROWED) == 0) free(report->pdf);
    if ((report->flags & REPORT_EXCEL_BORROWED) == 0) free(report->excel);
    report->pdf = nullptr;
    report->excel = nullptr;
    const ReportForm* form = FormOf(report->format);
    if (form != nullptr && form->close != nullptr) form->close(report);
    cJSON_Delete(report->jsonRoot);
    report->jsonRoot = report->jsonSection = report->jsonRecords = nullptr;
    fflush(report->out);
    fflush(stdout);
}
