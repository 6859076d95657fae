// The Excel form of a report: one worksheet per section with the headings in row 0 and
// one row per report row, count columns as numbers; the workbook is saved to the
// output file, or sent after its Content-Length line under a web server.
#include "report/excel_report.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "report/report_form.h"
#include "base/value_format.h"
#include "report/xls_book.h"

namespace {

constexpr int kError = 0, kWarning = 1;  // message levels of the log

void SetUp(Report* report) {
    if (report->parent != report) {
        free(report->excel);
        report->excel = report->parent->excel;
        report->flags |= REPORT_EXCEL_BORROWED;
    } else if (report->excel != nullptr) {
        ChooseOutputName(report->excel->outputPath, "ZYMBEXCELOUTPUTPATH", "Sheet-", ".xls",
                         report->creationTime);
        report->excel->book = XlsBook_Create();
    }
    if ((report->flags & REPORT_CGI) && report->excel != nullptr) {
        WriteCgiHeader("Content-type: application/vnd.ms-excel");
        WriteCgiHeader("Content-disposition: attachment; filename=\"%s\"",
                       report->excel->outputPath);
    }
}

// Adds the sheet named in the state and writes the headings into its row 0. Under a web
// server standard output is the response, so the failure goes to standard error there.
void AddSheet(Report* report, const char* name) {
    ReportExcel* excel = report->excel;
    excel->sheet = XlsBook_AddSheet(excel->book, name);
    if (excel->sheet == nullptr) {
        fprintf((report->flags & REPORT_CGI) ? stderr : stdout, "xlBookAddSheet: %s\n",
                XlsBook_ErrorMessage(excel->book));
        return;
    }
    uint32_t column = 0;
    for (uint32_t i = 0; i < report->columnCount; ++i)
        if ((report->columns[i].flags & COLUMN_HIDDEN) == 0)
            XlsSheet_WriteText(excel->sheet, 0, column++, report->columns[i].heading);
}

void BeginSection(Report* report, void (*)(Report*), const char*, const char*) {
    ReportExcel* excel = report->excel;
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
    ReportExcel* excel = report->excel;
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
    ReportExcel* excel = report->excel;
    if (excel == nullptr || excel->sheet == nullptr) return;
    uint32_t sheetRow;
    if (!FindRow(report, &sheetRow)) return;
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

}  // namespace

void CloseExcelBook(Report* report) {
    ReportExcel* excel = report->excel;
    if (excel == nullptr || excel->book == nullptr) return;
    if (report->flags & REPORT_CGI) {
        const char* bytes = nullptr;
        uint32_t size = 0;
        if (XlsBook_SaveToMemory(excel->book, &bytes, &size)) {
            WriteCgiHeader("Content-Length: %u\n", size);
            if (fwrite(bytes, 1, size, stdout) != size || fflush(stdout) != 0) {
                ReportMessage(report, kError, "Excel workbook \"%s\" not sent in full",
                              excel->outputPath);
                report->excelSaveResult = 1;
            }
        } else {
            ReportMessage(report, kError, "Excel workbook \"%s\" could not be made: %s",
                          excel->outputPath, XlsBook_ErrorMessage(excel->book));
            report->excelSaveResult = 1;
        }
    } else if (excel->outputPath[0] != 0) {
        if (!XlsBook_SaveToFile(excel->book, excel->outputPath)) {
            ReportMessage(report, kError, "Excel workbook \"%s\" not saved: %s", excel->outputPath,
                          XlsBook_ErrorMessage(excel->book));
            report->excelSaveResult = 1;
        }
    }
    XlsBook_Release(excel->book);
    excel->book = nullptr;
    excel->sheet = nullptr;
}

const ReportForm ExcelForm = {
    .setUp = SetUp,
    .beginSection = BeginSection,
    .writeRow = WriteRow,
    .endTable = nullptr,
    .writeRule = nullptr,
    .writeHeading = nullptr,
    .close = nullptr,
};
