// What the forms of a report share inside the writer: the table each form fills, the
// row splitter, the count text of number columns, the cell texts, the CGI header lines
// and the body sent after them.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>

#include "base/message_sink.h"
#include "base/utf8.h"
#include "report/report.h"

// One form's answers to the moments of a report: the one seam between the record and
// the forms. A slot left empty does nothing. A form keeps what it needs beyond the
// record in report->formState, which it makes in open and frees in close.
struct ReportForm {
    // Report_Init, once the format is chosen: the form's own state.
    void (*open)(Report* report);
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
    // Report_Close: the form's closing output (for a dropped report only the documents
    // that are saved whatever), then its state is freed.
    void (*close)(Report* report);
    // Settings of the paged form, given before the first section.
    void (*setOrientation)(Report* report, int orientation);
    void (*setPageSize)(Report* report, int size);
    void (*setOutputPath)(Report* report, const char* path);
    void (*setLogo)(Report* report, const char* path);
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
// "**ERROR**" when it cannot be converted) and extension. A name is used as it is given,
// however long; false (with the failure logged and the report's save result set) when
// it is longer than a path can be, and then the name is left empty: nothing is written
// under a name the operator did not give.
bool ChooseOutputName(Report* report, std::string* name, const char* variable, const char* prefix,
                      const char* extension);

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

// A document to the web client: its "Content-Length" header line, then exactly its
// bytes. 0, or the errno value of a failed write (logged, naming what).
int SendCgiBody(Report* report, const char* what, std::string_view bytes);

// A cell's text as the character forms show it: well-formed UTF-8 (each ill-formed piece
// a U+FFFD), and for the text form also every control character shown as "?".
std::string CellUtf8(std::string_view text, bool controlsAsQuestionMarks);

// The line buffer filled with line-width blanks (never past its end).
void BlankLine(Report* report);
// Reports a failure through the report's log (standard error when it has none).
void ReportMessage(Report* report, int level, const char* format, ...) REPORT_PRINTF(3, 4);

// Copies text into a fixed buffer, cut at a character boundary when it does not fit.
template <size_t Size>
void CopyCut(char (&buffer)[Size], std::string_view text) {
    size_t length = Utf8CutLength(text, Size - 1);
    text.copy(buffer, length);
    buffer[length] = 0;
}

// The time text of a section begun now.
const char* SectionTimeText(Report* report);
