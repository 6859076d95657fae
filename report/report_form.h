// What the forms of a report share inside the writer: the table each form fills, the
// row splitter, the count text of number columns and the CGI header line writer.
#pragma once
#include <cstddef>

#include "report/report.h"

// One form's answers to the moments of a report. A slot left empty does nothing.
struct ReportForm {
    // First section only, after the column deletions: CGI header lines, documents.
    void (*setUp)(Report* report);
    // Every section. title is the one to show (override already applied); notes is
    // the caller's notes formatted, or none when the caller gave no notes format.
    void (*beginSection)(Report* report, void (*hook)(Report* report), const char* title,
                         const char* notes);
    // The row's fields, at most the column count of them; the form may change their
    // characters in place (trimming) but not their number.
    void (*writeRow)(Report* report, char** fields, size_t count);
    void (*endTable)(Report* report);
    void (*writeRule)(Report* report);
    void (*writeHeading)(Report* report, const char* text);
    // The form's closing output (before the JSON tree is deleted).
    void (*close)(Report* report);
};

extern const ReportForm TextForm;
extern const ReportForm CsvForm;
extern const ReportForm HtmlForm;
extern const ReportForm JsonForm;
extern const ReportForm PdfForm;
extern const ReportForm ExcelForm;

// Report_Init's choices from the environment: the format (ZYMBREPORTFORMAT, or the CGI
// form variable RPT when the set-up says the program answers a web request), the
// column-delete list, the CSV heading switch and the HTML logo.
void ChooseFormat(Report* report, const ReportSetUp* setUp);

// The first Report_BeginSection: per-ID variables, column deletions, the form's set-up
// (CGI header lines), heading rewrite for JSON, title override and dropping.
void SetUpReport(Report* report);

// The name of an output file: the environment variable when set, else the name already
// in name, else prefix, the creation time ("%Y-%m-%d-%H-%M-%S"; "Not-Set" for 0,
// "**ERROR**" when it cannot be converted) and extension. At most 260 characters.
void ChooseOutputName(char (&name)[261], const char* variable, const char* prefix,
                      const char* extension, int64_t creationTime);

// Report_Close of the report that is its own parent: saves (to the output file, or in
// CGI mode to standard output after its Content-Length line) and releases the PDF
// document and the Excel workbook, when they exist, whatever the format now is.
void ClosePdfDocument(Report* report);
void CloseExcelBook(Report* report);

// Sets the rows counter and page slot of the report and of its parent to 0: the next
// PDF row begins a new page.
void ResetPageCounters(Report* report);

// The form of a format code; none for a dropped report.
const ReportForm* FormOf(int format);

// Splits row in place at "|" as strtok does: a run of bars is one separator and an
// empty field disappears. Stores at most capacity field starts; returns their count.
size_t SplitRow(char* row, char** fields, size_t capacity);

// The text a number column shows for field: a field starting with "?" as it is,
// otherwise its leading signed 64-bit decimal, taken as unsigned and formatted with
// digit groups (or plain for COLUMN_PLAIN). Other columns give the field unchanged.
// The result may live in buffer.
const char* CellText(const ReportColumn& column, const char* field, char (&buffer)[64]);

// Writes one CGI header line to standard output, followed by CR LF.
void WriteCgiHeader(const char* format, ...) REPORT_PRINTF(1, 2);

// The line buffer filled with line-width blanks (never past its end).
void BlankLine(Report* report);
// Reports a failure through the report's log (standard error when it has none).
void ReportMessage(Report* report, int level, const char* format, ...) REPORT_PRINTF(3, 4);

// The time text of a section begun now.
const char* SectionTimeText(Report* report);
