// The PDF form of a report: the state shared with a parent report, the output name and
// the CGI header lines. Pages are not drawn yet: a PDF report writes its header lines
// and nothing else.
#include "report/pdf_report.h"

#include <cstdlib>

#include "report/report_form.h"

namespace {

void SetUp(Report* report) {
    if (report->parent != report) {
        free(report->pdf);
        report->pdf = report->parent->pdf;
        report->flags |= REPORT_PDF_BORROWED;
    } else if (report->pdf != nullptr) {
        ChooseOutputName(report->pdf->outputPath, "ZYMBPDFOUTPUTPATH", "Report-", ".pdf",
                         report->creationTime);
    }
    if ((report->flags & REPORT_CGI) && report->pdf != nullptr) {
        WriteCgiHeader("Content-type: application/pdf");
        WriteCgiHeader("Content-disposition: attachment; filename=\"%s\"", report->pdf->outputPath);
    }
}

}  // namespace

void ClosePdfDocument(Report*) {}

const ReportForm PdfForm = {
    .setUp = SetUp,
    .beginSection = nullptr,
    .writeRow = nullptr,
    .endTable = nullptr,
    .writeRule = nullptr,
    .writeHeading = nullptr,
    .close = nullptr,
};
