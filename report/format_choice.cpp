// The choice of a report's form: from ZYMBREPORTFORMAT, or under a web server from the
// form variable RPT; and the operator's settings read when the report is made.
#include <cgicc/Cgicc.h>
#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

#include "report/report_form.h"
#include "report/value_format.h"

namespace {

const NameValue kFormatNames[] = {
    {"text", REPORT_TEXT},   {"csv", REPORT_CSV},   {"pdf", REPORT_PDF}, {"html", REPORT_HTML},
    {"excel", REPORT_EXCEL}, {"json", REPORT_JSON}, {nullptr, 0},
};

// The value of the first form variable named RPT in any case; "" when there is none or
// the form cannot be read (a posted body already consumed, a short body, no memory).
std::string CgiReportFormat() {
    try {
        cgicc::Cgicc form;
        for (const cgicc::FormEntry& entry : form.getElements())
            if (strcasecmp(entry.getName().c_str(), "RPT") == 0) return entry.getValue();
    } catch (const std::exception&) {
    }
    return "";
}

}  // namespace

void ChooseFormat(Report* report) {
    std::string name;
    if (getenv("REQUEST_URI") != nullptr) {
        report->flags |= REPORT_CGI;
        name = CgiReportFormat();
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
    if (format == REPORT_HTML) {
        if (const char* logo = getenv("ZYMBREPORTHTMLLOGO")) report->htmlLogo = strdup(logo);
    }
}
