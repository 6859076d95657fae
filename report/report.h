// The report writer: a titled table of columns and rows turned into plain text, CSV,
// HTML, JSON, PDF or an Excel workbook, on standard output or in files, with the CGI
// header lines when the program runs under a web server.
//
// The caller owns the Report record (typically on its stack). Report_Init fills it and
// gives the chosen form its own state; the caller then calls the Report_ operations
// (the operation slots of the record hold the same functions). Report_Close has the form
// finish its output and free its state (a PDF document or workbook shared with a parent
// report is freed by the parent's close); the record is not reusable afterwards.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>

#include "base/progress.h"

#define REPORT_PRINTF(formatIndex, firstArgument) \
    __attribute__((format(printf, formatIndex, firstArgument)))

enum ReportFormat {
    REPORT_TEXT = 0,
    REPORT_CSV = 2,
    REPORT_HTML = 3,
    REPORT_PDF = 4,
    REPORT_EXCEL = 5,
    REPORT_JSON = 6,
    REPORT_DROPPED = 100,
};

// Report flags.
constexpr uint32_t REPORT_SET_UP = 0x01;          // the first section has been begun
constexpr uint32_t REPORT_CSV_NO_HEADER = 0x02;   // CSV without heading line
constexpr uint32_t REPORT_CSV_RAW = 0x04;         // CSV values that look like formulas unguarded
constexpr uint32_t REPORT_PDF_BORROWED = 0x10;    // PDF state belongs to the parent
constexpr uint32_t REPORT_EXCEL_BORROWED = 0x20;  // Excel state belongs to the parent
constexpr uint32_t REPORT_CGI = 0x80;             // running as a CGI program

// Column flags.
constexpr uint32_t COLUMN_RIGHT = 0x01;   // right-aligned
constexpr uint32_t COLUMN_NUMBER = 0x02;  // a 64-bit count: grouped digits, a number in Excel
constexpr uint32_t COLUMN_HIDDEN = 0x04;  // removed by the column-delete list
constexpr uint32_t COLUMN_TAGS = 0x10;    // PDF: bracketed words drawn as tags
constexpr uint32_t COLUMN_MONO = 0x20;    // PDF: monospaced font
constexpr uint32_t COLUMN_PLAIN = 0x40;   // count without digit grouping

constexpr uint32_t REPORT_MAX_COLUMNS = 64;
constexpr size_t REPORT_LINE_SIZE = 2048;  // a text line holds at most 2047 characters
constexpr size_t REPORT_ROW_SIZE = 1024;   // a formatted row holds at most 1023 characters

struct ReportForm;  // report/report_form.h

struct ReportColumn {
    uint64_t width;   // characters in the text form; relative width in the PDF
    uint64_t offset;  // start in a text line: the line width when the column was added
    uint32_t flags;
    float x;           // PDF: left edge in points, set on each page
    float pointWidth;  // PDF: width in points, set on each page
    char heading[64];
};

struct Report {
    uint32_t columnCount;
    uint64_t hiddenWidth;  // sum of the widths of the deleted columns
    uint64_t lineWidth;    // running width of a text line; a caller may preset an indent
    int32_t format;        // ReportFormat; REPORT_DROPPED once the operator dropped it
    char lineBuffer[REPORT_LINE_SIZE];
    ReportColumn columns[REPORT_MAX_COLUMNS];
    char columnDelete[128];  // comma-separated 1-based column numbers
    FILE* out;               // text, CSV, HTML and JSON go here
    // The form chosen by Report_Init and its own state (the JSON tree, the HTML logo, the
    // PDF document, the workbook), which only the form reads, and frees at Report_Close.
    const ReportForm* form;
    void* formState;
    // 0, or the errno value of a document (the PDF or the workbook) that could not be
    // made, saved or sent, or whose output file could not be named.
    int32_t saveResult;
    uint32_t rowsCounter;
    uint32_t pageCounter;
    uint32_t pageSlot;
    uint32_t rowsPerPage;
    uint32_t sectionCount;
    int64_t creationTime;
    Report* parent;  // shares its PDF document, Excel book and page numbering
    uint16_t reportId;
    char titleOverride[133];
    ProgressPoint progress;
    uint32_t flags;

    // Returns width + 1, or the column count when all 64 columns exist.
    uint64_t (*AddColumn)(Report* report, uint64_t width, const char* heading, int flags);
    // Fields are separated by "|"; a run of bars counts as one separator.
    void (*WriteRow)(Report* report, const char* format, ...) REPORT_PRINTF(2, 3);
    void (*Close)(Report* report);
    // The hook (text form only) prints lines of its own between the header block and
    // the column headings. Notes (a printf format, or none) are shown when they format
    // to some text, so "%s" with an empty text shows none, as "" would.
    void (*BeginSection)(Report* report, void (*hook)(Report* report), const char* title,
                         const char* notes, ...) REPORT_PRINTF(4, 5);
    void (*EndTable)(Report* report);
    void (*WriteRule)(Report* report);
    void (*NewPage)(Report* report);
    void (*SetOrientation)(Report* report, int orientation);  // 0 portrait, 1 landscape
    void (*SetPageSize)(Report* report, int size);  // letter, legal, A3, A4, A5, B4, B5, exec.
    void (*SetPdfOutputPath)(Report* report, const char* path);
    void (*SetPdfLogo)(Report* report, const char* path);
    void (*WriteHeading)(Report* report, const char* text);

    // Where the writer reports what it could not do (a PDF or workbook it could not save,
    // cells it had to leave out, a logo it could not use) and where it saved a workbook,
    // with the levels of the message log (base/message_sink.h). None: the text goes to
    // standard error. A caller with a log sets it after Report_Init.
    void (*log)(void* target, int level, const char* text);
    void* logTarget;

    // The clock of the section time texts; time() unless a test puts its own here
    // after Report_Init.
    time_t (*now)(time_t*);
};

// What the program tells the writer about its run; the writer reads no request itself.
struct ReportSetUp {
    bool cgi;  // the program answers a web request: CGI header lines, RPT picks the form
    // The value of the request's first form variable of that name (in any case); "" when
    // there is none or the form cannot be read. Asked only when cgi is set.
    std::string (*formVariable)(const char* name);
};

// Fills the record: format chosen from the environment (or, under a web server, the form
// variable RPT), output on standard output, zeroed PDF and Excel states, an empty JSON
// document. No set-up is a command run.
void Report_Init(Report* report, const ReportSetUp* setUp = nullptr);

// Slot implementations, also callable directly.
uint64_t Report_AddColumn(Report* report, uint64_t width, const char* heading, int flags);
void Report_WriteRow(Report* report, const char* format, ...) REPORT_PRINTF(2, 3);
void Report_Close(Report* report);
void Report_BeginSection(Report* report, void (*hook)(Report* report), const char* title,
                         const char* notes, ...) REPORT_PRINTF(4, 5);
void Report_EndTable(Report* report);
void Report_WriteRule(Report* report);
void Report_NewPage(Report* report);
void Report_SetOrientation(Report* report, int orientation);
void Report_SetPageSize(Report* report, int size);
void Report_SetPdfOutputPath(Report* report, const char* path);
void Report_SetPdfLogo(Report* report, const char* path);
void Report_WriteHeading(Report* report, const char* text);
// A row given as its field texts, one per column in order: a field may hold any
// character, "|" included, and an empty field keeps its column. Fields beyond the
// column count are ignored; the fields together are cut to 1023 bytes (at a character
// boundary).
void Report_WriteFields(Report* report, const char* const* fields, size_t count);
