// The choice of a report's form: from ZYMBREPORTFORMAT, or under a web server from the
// form variable RPT; and the operator's settings read when the report is made.
#include <strings.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "frame/arguments.h"
#include "frame/cgi_form.h"
#include "report/report_form.h"
#include "report/value_format.h"

namespace {

const NameValue kFormatNames[] = {
    {"text", REPORT_TEXT},   {"csv", REPORT_CSV},   {"pdf", REPORT_PDF}, {"html", REPORT_HTML},
    {"excel", REPORT_EXCEL}, {"json", REPORT_JSON}, {nullptr, 0},
};

const char* Variable(const char* name) {
    const char* value = getenv(name);
    return value != nullptr ? value : "";
}

// The value of the first form variable named RPT in any case; "" when there is none or
// the form cannot be read.
std::string CgiReportFormat() {
    CgiRequest request{
        Variable("REQUEST_METHOD"), Variable("QUERY_STRING"), Variable("CONTENT_TYPE"), {}};
    if (ClassifyCgiMethod(request.method) == CGI_POST) {
        const CgiBody& posted = ReadCgiBody();
        if (posted.status != CgiBody::COMPLETE) return "";
        request.body = posted.text;
    }
    std::vector<FormVariable> variables;
    std::string error;
    if (!ParseCgiForm(request, &variables, &error)) return "";
    for (const FormVariable& variable : variables)
        if (strcasecmp(variable.name.c_str(), "RPT") == 0) return variable.value;
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
