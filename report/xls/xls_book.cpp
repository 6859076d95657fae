// The workbook writer's book and sheets: sheet names, text and number cells.
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <new>

#include "base/utf8.h"
#include "report/xls/xls_book_parts.h"
#include "report/xls/xls_records.h"
#include "report/xls/xls_text.h"

namespace {

// The stream addresses its parts with 32-bit offsets; keep the text well below that.
constexpr size_t kMaxStringBytes = 0xF0000000;

std::string Utf8Name(const std::u16string& name) {
    // Names are checked for length in units only, so a surrogate half may come here: it
    // shows as U+FFFD.
    std::string text;
    for (char16_t unit : name)
        Utf8Append(&text, unit >= 0xD800 && unit <= 0xDFFF ? UTF8_REPLACEMENT : unit);
    return text;
}

char16_t Folded(char16_t unit) {
    return unit >= 'a' && unit <= 'z' ? static_cast<char16_t>(unit - 'a' + 'A') : unit;
}

bool SameName(const std::u16string& a, const std::u16string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Folded(a[i]) != Folded(b[i])) return false;
    return true;
}

__attribute__((format(printf, 2, 3))) void Fail(XlsBook* book, const char* format, ...) {
    char text[512];
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    book->error = text;
}

// Checks the cell position and widens the sheet's used range.
bool Place(XlsSheet* sheet, uint32_t row, uint32_t column) {
    if (row >= XLS_MAX_ROWS) {
        Fail(sheet->book, "row %u is past the last row of a sheet (%u)", row, XLS_MAX_ROWS - 1);
        return false;
    }
    if (column >= XLS_MAX_COLUMNS) {
        Fail(sheet->book, "column %u is past the last column of a sheet (%u)", column,
             XLS_MAX_COLUMNS - 1);
        return false;
    }
    if (!sheet->any) {
        sheet->firstRow = sheet->lastRow = row;
        sheet->firstColumn = sheet->lastColumn = column;
        sheet->any = true;
    }
    sheet->firstRow = std::min(sheet->firstRow, row);
    sheet->lastRow = std::max(sheet->lastRow, row);
    sheet->firstColumn = std::min(sheet->firstColumn, column);
    sheet->lastColumn = std::max(sheet->lastColumn, column);
    sheet->book->error.clear();
    return true;
}

}  // namespace

XlsBook* XlsBook_Create() {
    return new (std::nothrow) XlsBook;
}

XlsSheet* XlsBook_AddSheet(XlsBook* book, const char* name) {
    std::u16string wanted = xls::Utf16FromUtf8(name, XLS_MAX_SHEET_NAME + 2);
    if (wanted.empty()) {
        Fail(book, "a sheet name cannot be empty");
        return nullptr;
    }
    if (wanted.size() > XLS_MAX_SHEET_NAME) {
        Fail(book, "sheet name \"%s\" is longer than %u characters", name, XLS_MAX_SHEET_NAME);
        return nullptr;
    }
    if (wanted.find_first_of(u":\\/?*[]") != std::u16string::npos || wanted.front() == u'\'' ||
        wanted.back() == u'\'') {
        Fail(book,
             "sheet name \"%s\" holds a character a sheet name cannot hold "
             "(: \\ / ? * [ ], or ' at either end)",
             name);
        return nullptr;
    }
    for (const auto& sheet : book->sheets) {
        if (SameName(sheet->name, wanted)) {
            Fail(book, "a sheet named \"%s\" already exists", Utf8Name(sheet->name).c_str());
            return nullptr;
        }
    }
    auto sheet = std::make_unique<XlsSheet>();
    sheet->book = book;
    sheet->name = std::move(wanted);
    book->sheets.push_back(std::move(sheet));
    book->error.clear();
    return book->sheets.back().get();
}

const char* XlsBook_ErrorMessage(const XlsBook* book) {
    return book->error.c_str();
}

int XlsSheet_WriteText(XlsSheet* sheet, uint32_t row, uint32_t column, const char* text,
                       XlsStyle style) {
    XlsBook* book = sheet->book;
    if (book->strings.size() > kMaxStringBytes) {
        Fail(book, "the workbook holds too much text for the format");
        return 0;
    }
    if (!Place(sheet, row, column)) return 0;
    auto index = static_cast<uint32_t>(book->stringStarts.size());
    book->stringStarts.push_back(static_cast<uint32_t>(book->strings.size()));
    book->strings += xls::PackText(xls::Utf16FromUtf8(text, XLS_MAX_TEXT));

    xls::RecordWriter records(&sheet->cells);
    records.Begin(xls::kLabelSst);
    records.U16(static_cast<uint16_t>(row));
    records.U16(static_cast<uint16_t>(column));
    records.U16(style == XLS_BOLD ? xls::kBoldCellFormat : xls::kPlainCellFormat);
    records.U32(index);
    records.End();
    return 1;
}

int XlsSheet_WriteNumber(XlsSheet* sheet, uint32_t row, uint32_t column, double value) {
    if (!Place(sheet, row, column)) return 0;
    xls::RecordWriter records(&sheet->cells);
    records.Begin(xls::kNumber);
    records.U16(static_cast<uint16_t>(row));
    records.U16(static_cast<uint16_t>(column));
    records.U16(xls::kPlainCellFormat);
    records.F64(value);
    records.End();
    return 1;
}

int XlsSheet_SetColumnWidth(XlsSheet* sheet, uint32_t column, double characters) {
    if (column >= XLS_MAX_COLUMNS) {
        Fail(sheet->book, "column %u is past the last column of a sheet (%u)", column,
             XLS_MAX_COLUMNS - 1);
        return 0;
    }
    double units = std::clamp(characters, 0.0, 255.0) * 256;
    sheet->columnWidths[column] = static_cast<uint16_t>(std::min(units, 65535.0));
    sheet->book->error.clear();
    return 1;
}

int XlsSheet_FreezeRows(XlsSheet* sheet, uint32_t rows) {
    if (rows >= XLS_MAX_ROWS) {
        Fail(sheet->book, "cannot freeze %u rows: a sheet has %u", rows, XLS_MAX_ROWS);
        return 0;
    }
    sheet->frozenRows = rows;
    sheet->book->error.clear();
    return 1;
}
