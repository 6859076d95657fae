// The Excel form of a report: one worksheet per section with the headings in bold in
// row 0, which stays in view while the rows scroll, one row per report row, count
// columns as numbers and every column as wide as the report declared it; the workbook is
// saved to the output file, or sent after its Content-Length line under a web server.
#include "report/excel_report.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "base/utf8.h"
#include "base/value_format.h"
#include "report/output_file.h"
#include "report/report_form.h"
#include "report/xls/xls_book.h"

namespace {

constexpr int kError = MSG_ERROR, kWarning = MSG_WARNING;

ExcelFormState* StateOf(const Report* report) {
    return report->form == &ExcelForm ? static_cast<ExcelFormState*>(report->formState) : nullptr;
}

ReportExcel* ExcelOf(const Report* report) {
    ExcelFormState* state = StateOf(report);
    return state != nullptr ? state->excel : nullptr;
}

void Open(Report* report) {
    auto* state = new (std::nothrow) ExcelFormState;
    if (state == nullptr) return;
    state->excel = new (std::nothrow) ReportExcel;
    report->formState = state;
}

void SetUp(Report* report) {
    ExcelFormState* state = StateOf(report);
    if (state == nullptr) return;
    if (report->parent != report) {
        delete state->excel;
        state->excel = ExcelOf(report->parent);
        report->flags |= REPORT_EXCEL_BORROWED;
    } else if (state->excel != nullptr) {
        ChooseOutputName(report, &state->excel->outputPath, "ZYMBEXCELOUTPUTPATH", "Sheet-",
                         ".xls");
        state->excel->book = XlsBook_Create();
    }
    if ((report->flags & REPORT_CGI) && state->excel != nullptr) {
        WriteCgiHeader("Content-type: application/vnd.ms-excel");
        WriteCgiHeader("Content-disposition: attachment; filename=\"%s\"",
                       state->excel->outputPath.c_str());
    }
}

// A column as wide as the report declared it, and never narrower than its heading.
double ColumnWidth(const ReportColumn& column) {
    double heading = static_cast<double>(DisplayWidth(column.heading));
    return std::max(static_cast<double>(column.width), heading) + 1;
}

// Adds the sheet named in the state and writes the headings into its row 0, in bold and
// frozen, with the columns' widths. Under a web server standard output is the response,
// so the failure goes to standard error there.
void AddSheet(Report* report, const char* name) {
    ReportExcel* excel = ExcelOf(report);
    excel->sheet = XlsBook_AddSheet(excel->book, name);
    if (excel->sheet == nullptr) {
        fprintf((report->flags & REPORT_CGI) ? stderr : stdout, "xlBookAddSheet: %s\n",
                XlsBook_ErrorMessage(excel->book));
        return;
    }
    uint32_t column = 0;
    for (uint32_t i = 0; i < report->columnCount; ++i) {
        const ReportColumn& heading = report->columns[i];
        if (heading.flags & COLUMN_HIDDEN) continue;
        XlsSheet_SetColumnWidth(excel->sheet, column, ColumnWidth(heading));
        XlsSheet_WriteText(excel->sheet, 0, column++, heading.heading, XLS_BOLD);
    }
    XlsSheet_FreezeRows(excel->sheet, 1);
}

void BeginSection(Report* report, void (*)(Report*), const char*, const char*) {
    ReportExcel* excel = ExcelOf(report);
    if (excel == nullptr || excel->book == nullptr) return;
    snprintf(excel->sheetName, sizeof excel->sheetName, "Report %u %u",
             static_cast<unsigned>(report->reportId), static_cast<unsigned>(rand()));
    excel->sheetPart = 1;
    excel->rowBase = 0;
    excel->warned = 0;
    AddSheet(report, excel->sheetName);
}

// A row that falls past the last row of the sheet goes to the section's next sheet,
// which repeats the headings and takes the rows from its row 1 on.
bool FindRow(Report* report, uint32_t* sheetRow) {
    ReportExcel* excel = ExcelOf(report);
    uint32_t counter = report->rowsCounter;
    if (counter <= excel->rowBase) excel->rowBase = 0;  // the counter was reset: from the top
    if (counter - excel->rowBase < XLS_MAX_ROWS) {
        *sheetRow = counter - excel->rowBase;
        return true;
    }
    char name[48];
    snprintf(name, sizeof name, "%s (%u)", excel->sheetName, ++excel->sheetPart);
    AddSheet(report, name);
    if (excel->sheet == nullptr) return false;
    excel->rowBase = counter - 1;
    *sheetRow = 1;
    return true;
}

void WriteRow(Report* report, char** fields, size_t given) {
    ReportExcel* excel = ExcelOf(report);
    if (excel == nullptr || excel->sheet == nullptr) return;
    uint32_t sheetRow;
    if (!FindRow(report, &sheetRow)) return;
    ++excel->rowsWritten;
    const size_t count = std::min<size_t>(given, report->columnCount);
    uint32_t column = 0;
    for (size_t i = 0; i < count; ++i) {
        const ReportColumn& heading = report->columns[i];
        if (heading.flags & COLUMN_HIDDEN) continue;
        int written;
        if (heading.flags & COLUMN_NUMBER) {
            char digits[65];
            snprintf(digits, sizeof digits, "%s", fields[i]);  // only 64 characters count
            long long value = digits[0] == '?' ? 0 : strtoll(digits, nullptr, 10);
            written =
                XlsSheet_WriteNumber(excel->sheet, sheetRow, column, static_cast<double>(value));
        } else {
            written = XlsSheet_WriteText(excel->sheet, sheetRow, column, TrimBlanks(fields[i]));
        }
        ++column;
        if (!written && !excel->warned) {
            excel->warned = 1;
            ReportMessage(report, kWarning, "Excel sheet \"%s\": %s; such cells are left out",
                          excel->sheetName, XlsBook_ErrorMessage(excel->book));
        }
    }
}

// Saves (to the output file, or in CGI mode to standard output after its Content-Length
// line) and frees the workbook of the report that is its own parent.
void CloseBook(Report* report) {
    ReportExcel* excel = ExcelOf(report);
    if (excel == nullptr || excel->book == nullptr) return;
    const char* path = excel->outputPath.c_str();
    if (report->flags & REPORT_CGI) {
        const char* bytes = nullptr;
        uint32_t size = 0;
        if (XlsBook_SaveToMemory(excel->book, &bytes, &size)) {
            if (int error = SendCgiBody(report, "Excel workbook", std::string_view(bytes, size)))
                report->saveResult = error;
        } else {
            ReportMessage(report, kError, "Excel workbook \"%s\" could not be made: %s", path,
                          XlsBook_ErrorMessage(excel->book));
            report->saveResult = EIO;
        }
    } else if (path[0] != 0) {
        if (XlsBook_SaveToFile(excel->book, path)) {
            ReportMessage(report, MSG_INFO, "Excel workbook saved to %s (%llu rows)",
                          OutputFullPath(excel->outputPath).c_str(),
                          static_cast<unsigned long long>(excel->rowsWritten));
        } else {
            ReportMessage(report, kError, "Excel workbook \"%s\" not saved: %s", path,
                          XlsBook_ErrorMessage(excel->book));
            report->saveResult = EIO;
        }
    }
    XlsBook_Release(excel->book);
    excel->book = nullptr;
    excel->sheet = nullptr;
}

void Close(Report* report) {
    ExcelFormState* state = StateOf(report);
    if (state == nullptr) return;
    if (report->parent == report) CloseBook(report);
    if ((report->flags & REPORT_EXCEL_BORROWED) == 0) delete state->excel;
    delete state;
}

}  // namespace

const ReportForm ExcelForm = {
    .open = Open,
    .setUp = SetUp,
    .beginSection = BeginSection,
    .writeRow = WriteRow,
    .endTable = nullptr,
    .writeRule = nullptr,
    .writeHeading = nullptr,
    .close = Close,
    .setOrientation = nullptr,
    .setPageSize = nullptr,
    .setOutputPath = nullptr,
    .setLogo = nullptr,
};
