// The choice of a report's form: from ZYMBREPORTFORMAT, or under a web server from the
// form variable RPT (read by the program's form reader); and the operator's settings read
// when the report is made (the HTML logo is the HTML form's own, read when it opens).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/value_format.h"
#include "report/report_form.h"

namespace {

const NameValue kFormatNames[] = {
    {"text", REPORT_TEXT},   {"csv", REPORT_CSV},   {"pdf", REPORT_PDF}, {"html", REPORT_HTML},
    {"excel", REPORT_EXCEL}, {"json", REPORT_JSON}, {nullptr, 0},
};

}  // namespace

// The forms table: each format's form.
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

void ChooseFormat(Report* report, const ReportSetUp* setUp) {
    std::string name;
    if (setUp != nullptr && setUp->cgi) {
        report->flags |= REPORT_CGI;
        if (setUp->formVariable != nullptr) name = setUp->formVariable("RPT");
    } else if (const char* value = getenv("ZYMBREPORTFORMAT")) {
        name = value;
    }
    int format = REPORT_TEXT;
    if (name.empty() || !LookupName(kFormatNames, name.c_str(), &format)) format = REPORT_TEXT;
    report->format = format;

    if (const char* list = getenv("ZYMBREPORTCOLUMNDELETE"))
        snprintf(report->columnDelete, sizeof report->columnDelete, "%s", list);
    if (format == REPORT_CSV && getenv("ZYMBCSVNOHEADER") != nullptr)
        report->flags |= REPORT_CSV_NO_HEADER;
    const char* raw = getenv("ZYMBCSVRAW");
    if (format == REPORT_CSV && raw != nullptr && strcmp(raw, "1") == 0)
        report->flags |= REPORT_CSV_RAW;
}
