// The HTML form: a title table per section, then one table of rows whose cells are
// escaped, so that no value can turn into markup. Title, notes and headings come from
// the program and its operator and are written as they are.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "base/utf8.h"
#include "base/value_format.h"
#include "report/report_form.h"

namespace {

// A cell stops taking input once it has produced this many bytes; the longest escape
// then still fits the 512-byte buffer.
constexpr size_t kCellLimit = 505;

// Escapes text into cell (512 bytes); a long text is cut, never inside a character.
void EscapeCell(const char* text, char (&cell)[512]) {
    memset(cell, 0, sizeof cell);
    size_t used = 0;
    const std::string_view rest = text;
    for (size_t at = 0; at < rest.size() && used < kCellLimit;) {
        const char* escaped = MarkupEntity(rest[at]);
        if (escaped == nullptr) {
            size_t next = at;
            Utf8Next(rest, &next);
            // A character that would go past the limit is left out whole; the limit leaves
            // room for any character, as it does for the longest escape.
            if (used + (next - at) > sizeof cell - 1) break;
            memcpy(cell + used, rest.data() + at, next - at);
            used += next - at;
            at = next;
            continue;
        }
        ++at;
        size_t length = strlen(escaped);
        memcpy(cell + used, escaped, length);
        used += length;
    }
}

void BeginSection(Report* report, void (*)(Report*), const char* title, const char* notes) {
    FILE* out = report->out;
    char logo[300];
    const char* htmlLogo = static_cast<const char*>(report->formState);
    if (htmlLogo != nullptr)
        snprintf(logo, sizeof logo,
                 "<img src=\"%s\" alt=\"Report Logo\" "
                 "style=\"width:237px;height:59px;border:0;\">",
                 htmlLogo);
    else
        snprintf(logo, sizeof logo, "<h1>Report</h1>");
    fprintf(out,
            "<table width=\"100%%\"><tr><td width=\"20%%\" bgcolor=\"#ffffff\">%s</td>"
            "<td width=\"80%%\" bgcolor=\"#0A4169\"><font size=\"6\" color=\"#fff\">&nbsp; "
            "%s</td>",
            logo, title);
    fprintf(out,
            "<tr><td width = \"20%%\" bgcolor=\"#ffffff\"></td><td width = \"80%%\" "
            "bgcolor=\"#ffffff\">Production Time: %s</td>",
            SectionTimeText(report));
    if (notes != nullptr && notes[0] != 0) {
        fputs(
            "</tr><tr>\n<td width=\"20%\" bgcolor=\"#ffffff\"></td><td width=\"80%\" "
            "bgcolor=\"#ffffff\">Report Notes: ",
            out);
        fprintf(out, "%s</td></tr>", notes);
    }
    fputs("</tr></table>", out);
    fputs("<table><tr bgcolor=\"#EEEEEE\">", out);
    for (uint32_t i = 0; i < report->columnCount; ++i)
        if ((report->columns[i].flags & COLUMN_HIDDEN) == 0)
            fprintf(out, "<th>%s</th>", report->columns[i].heading);
    fputs("</tr>", out);
}

void WriteRow(Report* report, char** fields, size_t count) {
    FILE* out = report->out;
    fputs("<tr>", out);
    for (size_t i = 0; i < count; ++i) {
        const ReportColumn& column = report->columns[i];
        if (column.flags & COLUMN_HIDDEN) continue;
        char cell[512];
        EscapeCell(TrimBlanks(fields[i]), cell);
        fputs((column.flags & COLUMN_RIGHT) ? "<td align=\"right\">" : "<td>", out);
        fprintf(out, "<tt>%s</tt></td>", cell);
    }
    fputs("</tr>", out);
}

// The form's state is the operator's logo address (ZYMBREPORTHTMLLOGO), or none.
void Open(Report* report) {
    if (const char* logo = getenv("ZYMBREPORTHTMLLOGO")) report->formState = strdup(logo);
}

void Close(Report* report) {
    if (report->format != REPORT_DROPPED) fputs("</body></html>", report->out);
    free(report->formState);
}

}  // namespace

const ReportForm HtmlForm = {
    .open = Open,
    .setUp =
        [](Report* report) {
            if (report->flags & REPORT_CGI) {
                WriteCgiHeader("Content-Type: text/html; charset=utf-8\n");
                fputs("<html><body>", report->out);
            }
        },
    .beginSection = BeginSection,
    .writeRow = WriteRow,
    .endTable = [](Report* report) { fputs("</table><p></p>", report->out); },
    .writeRule = nullptr,
    .writeHeading = nullptr,
    .close = Close,
    .setOrientation = nullptr,
    .setPageSize = nullptr,
    .setOutputPath = nullptr,
    .setLogo = nullptr,
};
