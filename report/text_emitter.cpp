// The plain-text form: a header block, then fixed-width lines with one blank between
// columns. Columns are measured in terminal columns, not bytes: an accented letter takes
// one, a combining mark none and an East Asian wide character two, so every row's
// columns start at the same place on the screen. Control characters show as "?", so
// that no stored name can move the cursor or send an escape sequence to the terminal.
// Hidden columns leave no gap: every later column moves left by their width.
#include <algorithm>
#include <cstring>
#include <string>

#include "base/utf8.h"
#include "report/report_form.h"

namespace {

constexpr uint64_t kLineLimit = REPORT_LINE_SIZE - 1;  // columns of one line

// A line built column by column: text placed at a column position, blanks between.
class Line {
  public:
    // Puts text (well-formed UTF-8 without control characters) at position, taking at most
    // width columns of it; a wide character that would straddle the end is left out. A
    // right-aligned text that fits ends at the column's last place. Nothing goes past
    // the longest line.
    void Place(uint64_t position, uint64_t width, std::string_view text, bool right) {
        uint64_t taken = 0;
        size_t length = Fit(text, width, &taken);
        if (right && taken < width) position += width - taken;
        if (position >= kLineLimit) return;
        if (position + taken > kLineLimit)
            length = Fit(text.substr(0, length), kLineLimit - position, &taken);
        PadTo(position);
        text_.append(text.substr(0, length));
        columns_ += taken;
    }

    // Fills columns [position, position + width) with "-".
    void Rule(uint64_t position, uint64_t width) {
        if (position >= kLineLimit) return;
        width = std::min(width, kLineLimit - position);
        PadTo(position);
        text_.append(width, '-');
        columns_ += width;
    }

    // The line padded with blanks to width columns, with its newline.
    void Write(FILE* out, uint64_t width) {
        PadTo(std::min(width, kLineLimit));
        text_ += '\n';
        fwrite(text_.data(), 1, text_.size(), out);
    }

  private:
    // The bytes of the longest start of text that takes at most width columns (with the
    // zero-width marks that follow its last character); *taken gets its columns.
    static size_t Fit(std::string_view text, uint64_t width, uint64_t* taken) {
        size_t length = 0, at = 0;
        *taken = 0;
        while (at < text.size()) {
            size_t next = at;
            auto columns = static_cast<uint64_t>(DisplayColumns(Utf8Next(text, &next)));
            if (*taken + columns > width) break;
            *taken += columns;
            at = length = next;
        }
        return length;
    }

    void PadTo(uint64_t position) {
        if (columns_ >= position) return;
        text_.append(position - columns_, ' ');
        columns_ = position;
    }

    std::string text_;
    uint64_t columns_ = 0;
};

// Calls place(column index, column, shifted offset) for every visible column; returns
// the total shift.
template <typename Visit>
uint64_t ForEachVisibleColumn(Report* report, Visit place) {
    uint64_t shift = 0;
    for (uint32_t i = 0; i < report->columnCount; ++i) {
        const ReportColumn& column = report->columns[i];
        if (column.flags & COLUMN_HIDDEN) {
            shift += column.width + 1;
            continue;
        }
        place(i, column, column.offset - shift);
    }
    return shift;
}

uint64_t ShiftedWidth(const Report* report, uint64_t shift) {
    return report->lineWidth > shift ? report->lineWidth - shift : 0;
}

void WriteRuledLine(Report* report) {
    Line line;
    uint64_t shift = ForEachVisibleColumn(
        report, [&line](uint32_t, const ReportColumn& column, uint64_t position) {
            line.Rule(position, column.width);
        });
    line.Write(report->out, ShiftedWidth(report, shift));
}

void WriteHeadingLine(Report* report) {
    Line line;
    uint64_t shift = ForEachVisibleColumn(
        report, [&line](uint32_t, const ReportColumn& column, uint64_t position) {
            line.Place(position, column.width, CellUtf8(column.heading, true), false);
        });
    line.Write(report->out, ShiftedWidth(report, shift));
}

void BeginSection(Report* report, void (*hook)(Report*), const char* title, const char* notes) {
    FILE* out = report->out;
    fputs("\n", out);
    fputs("             System: Corvantix\n", out);
    if (report->reportId != 0) fprintf(out, "          Report ID: %u\n", report->reportId);
    fprintf(out, " Report Description: %s\n", CellUtf8(title, true).c_str());
    if (notes != nullptr && notes[0] != 0)
        fprintf(out, "       Report Notes: %s\n", CellUtf8(notes, true).c_str());
    fprintf(out, "    Production Time: %s\n", SectionTimeText(report));
    fprintf(out, "       Report Width: %u bytes\n", static_cast<unsigned>(report->lineWidth));
    if (report->hiddenWidth != 0)
        fprintf(out, "      Report Hidden: %u bytes\n", static_cast<unsigned>(report->hiddenWidth));
    fputs("\n", out);
    if (hook != nullptr) {
        hook(report);
        fputs("\n", out);
    }
    WriteHeadingLine(report);
    WriteRuledLine(report);
}

// Text too long for its column is cut and starts at the column's first place.
void WriteRow(Report* report, char** fields, size_t count) {
    Line line;
    uint64_t shift = ForEachVisibleColumn(
        report, [&line, fields, count](uint32_t i, const ReportColumn& column, uint64_t position) {
            if (i >= count) return;
            char number[64];
            line.Place(position, column.width, CellUtf8(CellText(column, fields[i], number), true),
                       (column.flags & COLUMN_RIGHT) != 0);
        });
    line.Write(report->out, ShiftedWidth(report, shift));
}

}  // namespace

const ReportForm TextForm = {
    .open = nullptr,
    .setUp =
        [](Report* report) {
            if (report->flags & REPORT_CGI)
                WriteCgiHeader("Content-Type: text/plain; charset=utf-8\n");
        },
    .beginSection = BeginSection,
    .writeRow = WriteRow,
    .endTable = WriteRuledLine,
    .writeRule = WriteRuledLine,
    .writeHeading = nullptr,
    .close = nullptr,
    .setOrientation = nullptr,
    .setPageSize = nullptr,
    .setOutputPath = nullptr,
    .setLogo = nullptr,
};
