// The Excel form of a report: the state shared with a parent report, the output name
// and the CGI header lines. No workbook is written yet: an Excel report writes its
// header lines and nothing else.
#include "report/excel_report.h"

#include <cstdlib>

#include "report/report_form.h"

namespace {

void SetUp(Report* report) {
    if (report->parent != report) {
        free(report->excel);
        report->excel = report->parent->excel;
        report->flags |= REPORT_EXCEL_BORROWED;
    } else if (report->excel != nullptr) {
        ChooseOutputName(report->excel->outputPath, "ZYMBEXCELOUTPUTPATH", "Sheet-", ".xls",
                         report->creationTime);
    }
    if ((report->flags & REPORT_CGI) && report->excel != nullptr) {
        WriteCgiHeader("Content-type: application/vnd.ms-excel");
        WriteCgiHeader("Content-disposition: attachment; filename=\"%s\"",
                       report->excel->outputPath);
    }
}

}  // namespace

void CloseExcelBook(Report*) {}

const ReportForm ExcelForm = {
    .setUp = SetUp,
    .beginSection = nullptr,
    .writeRow = nullptr,
    .endTable = nullptr,
    .writeRule = nullptr,
    .writeHeading = nullptr,
    .close = nullptr,
};
