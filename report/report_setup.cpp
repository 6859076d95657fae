// The first section of a report: the operator's per-report settings, hidden columns,
// the CGI header lines of the form, the title override and dropped reports; also the
// names of the PDF and Excel output files.
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/utf8.h"
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

    if (report->form->setUp != nullptr) report->form->setUp(report);
    if (report->format == REPORT_JSON) RewriteHeadingsAsKeys(report);

    if (const char* title = getenv("ZYMBREPORTTITLE")) CopyCut(report->titleOverride, title);
    if (const char* title = ReportVariable(report, "ZYMBREPORTTITLE"))
        CopyCut(report->titleOverride, title);
    if (ReportVariable(report, "ZYMBDROPREPORT") != nullptr) report->format = REPORT_DROPPED;

    report->flags |= REPORT_SET_UP;
}

int SendCgiBody(Report* report, const char* what, std::string_view bytes) {
    WriteCgiHeader("Content-Length: %u\n", static_cast<unsigned>(bytes.size()));
    if (fwrite(bytes.data(), 1, bytes.size(), stdout) != bytes.size() || fflush(stdout) != 0) {
        int error = errno != 0 ? errno : EIO;
        ReportMessage(report, MSG_ERROR, "Send of the %s to the web client failed: %s", what,
                      strerror(error));
        return error;
    }
    return 0;
}

bool ChooseOutputName(Report* report, std::string* name, const char* variable, const char* prefix,
                      const char* extension) {
    if (const char* value = getenv(variable)) {
        // The name as given: cutting it would write under a name nobody gave.
        if (strlen(value) >= PATH_MAX) {
            ReportMessage(report, MSG_ERROR,
                          "%s is longer than a path can be (%d bytes), nothing is written "
                          "under it: %.120s...",
                          variable, PATH_MAX - 1, value);
            report->saveResult = ENAMETOOLONG;
            name->clear();
            return false;
        }
        *name = value;
        return true;
    }
    if (!name->empty()) return true;
    char stamp[64];
    FormatLocalTime(static_cast<time_t>(report->creationTime), "%Y-%m-%d-%H-%M-%S", stamp,
                    sizeof stamp);
    *name = std::string(prefix) + stamp + extension;
    return true;
}
