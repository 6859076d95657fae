// The workbook writer behind the Excel report: binary .xls workbooks (BIFF8 records in
// an OLE2 compound document) with text and number cells, bold text, column widths and
// frozen heading rows, saved to a file or to memory.
//
// The book owns its sheets and everything saved to memory; XlsBook_Release frees them
// all. Results are 1 for success and 0 for failure; after a failure
// XlsBook_ErrorMessage tells why. Text is UTF-8; bytes that are not UTF-8 become
// U+FFFD. Nothing here prints.
#pragma once
#include <cstdint>

struct XlsBook;
struct XlsSheet;

// What one sheet of the format can hold.
constexpr uint32_t XLS_MAX_ROWS = 65536;     // rows 0 to 65535
constexpr uint32_t XLS_MAX_COLUMNS = 256;    // columns 0 to 255
constexpr uint32_t XLS_MAX_TEXT = 32767;     // UTF-16 units in one cell; longer texts are cut
constexpr uint32_t XLS_MAX_SHEET_NAME = 31;  // UTF-16 units in a sheet name

// A new, empty workbook; none when memory runs out.
XlsBook* XlsBook_Create();

// Appends a worksheet. None when the name is empty, too long, holds one of : \ / ? * [ ]
// or is already taken (ignoring case); the book keeps the reason.
XlsSheet* XlsBook_AddSheet(XlsBook* book, const char* name);

// The reason of the last failure, "" when there was none. Valid until the next call.
const char* XlsBook_ErrorMessage(const XlsBook* book);

// How a cell's text is drawn.
enum XlsStyle {
    XLS_PLAIN = 0,
    XLS_BOLD = 1,
};

// A text cell. A text longer than a cell allows is cut at a character boundary. Fails
// for a row or column beyond the sheet. Writing a cell again replaces it.
int XlsSheet_WriteText(XlsSheet* sheet, uint32_t row, uint32_t column, const char* text,
                       XlsStyle style = XLS_PLAIN);
// A number cell; fails for a row or column beyond the sheet.
int XlsSheet_WriteNumber(XlsSheet* sheet, uint32_t row, uint32_t column, double value);

// The width of a column in characters of the default font (up to 255; wider is cut to
// 255). Fails for a column beyond the sheet. Columns not set keep the default width.
int XlsSheet_SetColumnWidth(XlsSheet* sheet, uint32_t column, double characters);

// Keeps the first rows of the sheet in view while the rest scrolls (0: nothing frozen).
// Fails for a count beyond the sheet.
int XlsSheet_FreezeRows(XlsSheet* sheet, uint32_t rows);

// The whole workbook file in memory. The bytes belong to the book and stay readable
// until the next save or XlsBook_Release.
int XlsBook_SaveToMemory(XlsBook* book, const char** bytes, uint32_t* size);

// Writes the workbook file. It is written under a temporary name in the same folder,
// flushed to disk and then renamed to path, so path holds either its old content or
// the whole new workbook, never a part of one.
int XlsBook_SaveToFile(XlsBook* book, const char* path);

// Frees the book, its sheets and its saved bytes. None is allowed.
void XlsBook_Release(XlsBook* book);
