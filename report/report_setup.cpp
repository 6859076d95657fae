// The first section of a report: the operator's per-report settings, hidden columns,
// the CGI header lines of the form, the title override and dropped reports; also the
// names of the PDF and Excel output files.
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/value_format.h"
#include "report/report_form.h"

namespace {

// The per-report variable: the name followed by the ID in three digits; none for ID 0.
const char* ReportVariable(const Report* report, const char* name) {
    if (report->reportId == 0) return nullptr;
    char full[64];
    snprintf(full, sizeof full, "%s%3.3u", name, static_cast<unsigned>(report->reportId));
    return getenv(full);
}

// Marks columns 1 to 31 named in the comma-separated list; other tokens are ignored.
void HideColumns(Report* report) {
    if (report->columnDelete[0] == 0) return;
    report->hiddenWidth = 0;
    char list[sizeof report->columnDelete];
    snprintf(list, sizeof list, "%s", report->columnDelete);
    char* rest = nullptr;
    for (char* token = strtok_r(list, ",", &rest); token != nullptr;
         token = strtok_r(nullptr, ",", &rest)) {
        int number = atoi(token);
        if (number < 1 || number > 31) continue;
        ReportColumn& column = report->columns[number - 1];
        column.flags |= COLUMN_HIDDEN;
        report->hiddenWidth += column.width;
    }
}

// JSON keys: blanks become "-", everything else lower case ("File Name" -> file-name).
void RewriteHeadingsAsKeys(Report* report) {
    for (ReportColumn& column : report->columns)
        for (char* at = column.heading; *at != 0; ++at)
            *at = *at == ' ' ? '-' : static_cast<char>(tolower(static_cast<unsigned char>(*at)));
}

}  // namespace

void WriteCgiHeader(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    vfprintf(stdout, format, arguments);
    va_end(arguments);
    fputs("\r\n", stdout);
}

void SetUpReport(Report* report) {
    if (const char* list = ReportVariable(report, "ZYMBREPORTCOLUMNDELETE"))
        snprintf(report->columnDelete, sizeof report->columnDelete, "%s", list);
    HideColumns(report);

    const ReportForm* form = FormOf(report->format);
    if (form != nullptr && form->setUp != nullptr) form->setUp(report);
    if (report->format == REPORT_JSON) RewriteHeadingsAsKeys(report);

    if (const char* title = getenv("ZYMBREPORTTITLE"))
        snprintf(report->titleOverride, sizeof report->titleOverride, "%s", title);
    if (const char* title = ReportVariable(report, "ZYMBREPORTTITLE"))
        snprintf(report->titleOverride, sizeof report->titleOverride, "%s", title);
    if (ReportVariable(report, "ZYMBDROPREPORT") != nullptr) report->format = REPORT_DROPPED;

    report->flags |= REPORT_SET_UP;
}

void ChooseOutputName(char (&name)[261], const char* variable, const char* prefix,
                      const char* extension, int64_t creationTime) {
    if (const char* value = getenv(variable)) {
        snprintf(name, sizeof name, "%s", value);
        return;
    }
    if (name[0] != 0) return;
    char stamp[64];
    FormatLocalTime(static_cast<time_t>(creationTime), "%Y-%m-%d-%H-%M-%S", stamp, sizeof stamp);
    snprintf(name, sizeof name, "%s%s%s", prefix, stamp, extension);
}
