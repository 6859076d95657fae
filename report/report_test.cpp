// The report writer in process: row splitting, columns, number cells, alignment and
// cuts, HTML cell escaping, JSON sections, counters and parent reports. The form is
// chosen by Report_Init from the environment the test sets for it.
#include "report/report.h"

#include <cjson/cJSON.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <iterator>
#include <string>
#include <vector>

#include "base/value_format.h"
#include "report/report_form.h"

namespace {

time_t FixedClock(time_t* out) {
    if (out != nullptr) *out = 1700000000;
    return 1700000000;
}

// A report of a given form that writes into memory.
class MemoryReport {
  public:
    explicit MemoryReport(int format) {
        // The form is chosen, and opened, by Report_Init.
        const char* name = format == REPORT_CSV     ? "csv"
                           : format == REPORT_HTML  ? "html"
                           : format == REPORT_PDF   ? "pdf"
                           : format == REPORT_EXCEL ? "excel"
                           : format == REPORT_JSON  ? "json"
                                                    : "text";
        setenv("ZYMBREPORTFORMAT", name, 1);
        Report_Init(&report);
        unsetenv("ZYMBREPORTFORMAT");
        EXPECT_EQ(report.format, format);
        report.flags &= ~(REPORT_CGI | REPORT_CSV_NO_HEADER);
        report.now = FixedClock;
        report.out = open_memstream(&data_, &size_);
    }
    ~MemoryReport() {
        if (!closed_) Report_Close(&report);
        fclose(report.out);
        free(data_);
    }
    void Close() {
        Report_Close(&report);
        closed_ = true;
    }
    std::string Output() {
        fflush(report.out);
        return std::string(data_, size_);
    }
    // The output from the first byte after what has been read before.
    std::string Fresh() {
        std::string all = Output();
        std::string fresh = all.substr(read_);
        read_ = all.size();
        return fresh;
    }

    Report report;

  private:
    char* data_ = nullptr;
    size_t size_ = 0;
    size_t read_ = 0;
    bool closed_ = false;
};

std::vector<std::string> Split(std::string row) {
    char* fields[8];
    size_t count = SplitRow(row.data(), fields, 8);
    return std::vector<std::string>(fields, fields + count);
}

TEST(RowFields, RunsOfBarsAreOneSeparatorAndEmptyFieldsDisappear) {
    struct Case {
        std::string row;
        std::vector<std::string> fields;
    } cases[] = {
        {"1||x|2", {"1", "x", "2"}},
        {"|a|", {"a"}},
        {"", {}},
        {"|||", {}},
        {"a| |b", {"a", " ", "b"}},
        {"one field", {"one field"}},
    };
    for (const Case& c : cases) EXPECT_EQ(Split(c.row), c.fields) << c.row;
}

TEST(RowFields, FieldsBeyondTheCapacityAreIgnored) {
    std::string row = "a|b|c|d";
    char* fields[2];
    ASSERT_EQ(SplitRow(row.data(), fields, 2), 2u);
    EXPECT_STREQ(fields[0], "a");
    EXPECT_STREQ(fields[1], "b");
}

TEST(TextForm, ShiftedFieldsFillTheFirstColumns) {
    MemoryReport text(REPORT_TEXT);
    for (const char* heading : {"A", "B", "C", "D"}) Report_AddColumn(&text.report, 3, heading, 0);
    Report_WriteRow(&text.report, "%u||%s|%u", 1u, "x", 2u);
    EXPECT_EQ(text.Fresh(), "1   x   2       \n");
}

// Fields given as separate values keep their columns in every form, whatever they hold:
// a "|" stays in its value and an empty field stays an empty cell.
TEST(WriteFields, BarsAndEmptyFieldsKeepTheirColumns) {
    const char* fields[] = {"1", "", "a|b.csv", "left|right", "extra beyond the columns"};
    struct Case {
        int format;
        std::string expected;
    } cases[] = {
        {REPORT_TEXT, "1" + std::string(23, ' ') + "a|b.csv     left|right  \n"},
        {REPORT_CSV, "1,,a|b.csv,left|right,\n"},
        {REPORT_HTML,
         "<tr><td><tt>1</tt></td><td><tt></tt></td><td><tt>a|b.csv</tt></td>"
         "<td><tt>left|right</tt></td></tr>"},
    };
    for (const Case& c : cases) {
        MemoryReport report(c.format);
        for (const char* heading : {"Seq", "Empty", "Name", "Description"})
            Report_AddColumn(&report.report, 11, heading, 0);
        Report_WriteFields(&report.report, fields, std::size(fields));
        EXPECT_EQ(report.Fresh(), c.expected) << c.format;
    }
    MemoryReport json(REPORT_JSON);
    Report_AddColumn(&json.report, 6, "Name", 0);
    Report_AddColumn(&json.report, 6, "Empty", 0);
    Report_AddColumn(&json.report, 6, "Gen", 0);
    Report_BeginSection(&json.report, nullptr, "T", nullptr);
    const char* jsonFields[] = {"a|b.csv", "", "2"};
    Report_WriteFields(&json.report, jsonFields, 3);
    json.Close();
    cJSON* document = cJSON_Parse(json.Output().c_str());
    ASSERT_NE(document, nullptr) << json.Output();
    char* printed = cJSON_PrintUnformatted(document);
    EXPECT_NE(std::string(printed).find(
                  "\"records\":[{\"name\":\"a|b.csv\",\"empty\":\"\",\"gen\":\"2\"}]"),
              std::string::npos)
        << printed;
    cJSON_free(printed);
    cJSON_Delete(document);
}

// Fields longer than a row can hold are cut, never written past the row buffer.
TEST(WriteFields, LongFieldsAreCut) {
    MemoryReport csv(REPORT_CSV);
    for (int i = 0; i < 3; ++i) Report_AddColumn(&csv.report, 10, "c", 0);
    std::string longField(2000, 'x');
    const char* fields[] = {longField.c_str(), longField.c_str(), "z"};
    Report_WriteFields(&csv.report, fields, 3);
    EXPECT_EQ(csv.Fresh(), std::string(1023, 'x') + ",,,\n");
}

TEST(Columns, OffsetsFollowTheLineWidthAndTheSixtyFifthIsRefused) {
    MemoryReport text(REPORT_TEXT);
    text.report.lineWidth = 1;
    EXPECT_EQ(Report_AddColumn(&text.report, 6, "Seq.", COLUMN_RIGHT), 7u);
    EXPECT_EQ(Report_AddColumn(&text.report, 40, "Description", 0), 41u);
    EXPECT_EQ(text.report.columns[1].offset, 8u);
    EXPECT_EQ(text.report.lineWidth, 49u);

    MemoryReport wide(REPORT_TEXT);
    for (int i = 0; i < 64; ++i) Report_AddColumn(&wide.report, 1, "c", 0);
    EXPECT_EQ(Report_AddColumn(&wide.report, 1, "extra", 0), 64u);
    EXPECT_EQ(wide.report.columnCount, 64u);
    EXPECT_EQ(wide.report.lineWidth, 128u);
    std::string row;
    for (int i = 1; i <= 65; ++i) row += (i < 64 ? "." : std::to_string(i % 10)) + "|";
    Report_WriteRow(&wide.report, "%s", row.c_str());
    std::string line = wide.Fresh();
    ASSERT_EQ(line.size(), 129u);
    EXPECT_EQ(line.substr(124), ". 4 \n") << "the 65th field must be ignored";
}

TEST(Columns, HeadingsAreCutAtSixtyThreeCharacters) {
    MemoryReport text(REPORT_TEXT);
    std::string heading(80, 'h');
    Report_AddColumn(&text.report, 100, heading.c_str(), 0);
    EXPECT_EQ(std::string(text.report.columns[0].heading), std::string(63, 'h'));
}

TEST(TextForm, NumberColumnsShowGroupedOrPlainCounts) {
    struct Case {
        int flags;
        const char* field;
        const char* shown;
    } cases[] = {
        {COLUMN_NUMBER, "1234567", "1,234,567"},
        {COLUMN_NUMBER, "?123", "?123"},
        {COLUMN_NUMBER, "0", "0"},
        {COLUMN_NUMBER | COLUMN_PLAIN, "0", " "},
        {COLUMN_NUMBER | COLUMN_PLAIN, "1234567", "1234567"},
        {COLUMN_NUMBER, "  42abc", "42"},
        {COLUMN_NUMBER, "abc", "0"},
        {COLUMN_NUMBER, "-1", "18,446,744,073,709,551,615"},
        {0, "1234567", "1234567"},
    };
    for (const Case& c : cases) {
        MemoryReport text(REPORT_TEXT);
        Report_AddColumn(&text.report, 30, "n", c.flags);
        Report_WriteRow(&text.report, "%s", c.field);
        std::string expected =
            std::string(c.shown) + std::string(30 - strlen(c.shown), ' ') + " \n";
        EXPECT_EQ(text.Fresh(), expected) << c.field;
    }
}

TEST(TextForm, RightAlignmentAndCutsAtTheColumnWidth) {
    struct Case {
        int flags;
        const char* field;
        const char* line;
    } cases[] = {
        {COLUMN_RIGHT, "12", "    12 #"},
        {COLUMN_RIGHT, "123456", "123456 #"},
        {COLUMN_RIGHT, "1234567", "123456 #"},
        {0, "abc", "abc    #"},
        {0, "abcdefgh", "abcdef #"},
        {COLUMN_RIGHT | COLUMN_NUMBER, "1234567", "1,234, #"},
    };
    for (const Case& c : cases) {
        MemoryReport text(REPORT_TEXT);
        Report_AddColumn(&text.report, 6, "Column heading", c.flags);
        Report_AddColumn(&text.report, 1, "#", 0);
        Report_WriteRow(&text.report, "%s|#", c.field);
        EXPECT_EQ(text.Fresh(), std::string(c.line) + " \n") << c.field;
    }
}

TEST(TextForm, HeaderBlockWithReportIdNotesAndHook) {
    MemoryReport text(REPORT_TEXT);
    text.report.reportId = 7;
    text.report.lineWidth = 1;
    Report_AddColumn(&text.report, 6, "Sequence", COLUMN_RIGHT);
    Report_AddColumn(&text.report, 3, "Gen.", 0);
    text.report.BeginSection(
        &text.report, [](Report* report) { fputs("hook\n", report->out); }, "Title", "%d notes", 2);
    EXPECT_EQ(text.Fresh(),
              "\n"
              "             System: Corvantix\n"
              "          Report ID: 7\n"
              " Report Description: Title\n"
              "       Report Notes: 2 notes\n"
              "    Production Time: " +
                  std::string(FormatTimeText(1700000000)) +
                  "\n"
                  "       Report Width: 12 bytes\n"
                  "\n"
                  "hook\n"
                  "\n"
                  " Sequen Gen \n"
                  " ------ --- \n");
}

TEST(TextForm, NotesThatFormatToNothingShowNoNotesLine) {
    for (const char* notes : {"%s", "%.0s"}) {
        MemoryReport text(REPORT_TEXT);
        Report_AddColumn(&text.report, 4, "A", 0);
        Report_BeginSection(&text.report, nullptr, "Title", notes, "");
        EXPECT_EQ(text.Fresh().find("Report Notes"), std::string::npos) << notes;
    }
}

TEST(TextForm, LinesNeverRunPastTheLineBuffer) {
    MemoryReport text(REPORT_TEXT);
    Report_AddColumn(&text.report, 1500, "Wide", 0);
    Report_AddColumn(&text.report, 1500, "Wider", COLUMN_RIGHT);
    std::string field(1000, 'y');  // right-aligned: from 2001 to 3000, cut at 2047
    Report_WriteRow(&text.report, "x|%s", field.c_str());
    std::string line = text.Fresh();
    ASSERT_EQ(line.size(), REPORT_LINE_SIZE);  // 2047 characters and the newline
    EXPECT_EQ(line.substr(2000, 2), " y");
    EXPECT_EQ(line.substr(2045), "yy\n");
}

TEST(HtmlForm, SectionBlockWithLogoAndNotes) {
    setenv("ZYMBREPORTHTMLLOGO", "logo.png", 1);
    MemoryReport html(REPORT_HTML);
    unsetenv("ZYMBREPORTHTMLLOGO");
    Report_AddColumn(&html.report, 6, "Seq.", COLUMN_RIGHT);
    Report_AddColumn(&html.report, 6, "Hidden", COLUMN_HIDDEN);
    Report_AddColumn(&html.report, 6, "File Name", 0);
    Report_BeginSection(&html.report, nullptr, "Title", "%u files", 3u);
    EXPECT_EQ(html.Fresh(),
              "<table width=\"100%\"><tr><td width=\"20%\" bgcolor=\"#ffffff\"><img "
              "src=\"logo.png\" alt=\"Report Logo\" style=\"width:237px;height:59px;border:0;\">"
              "</td><td width=\"80%\" bgcolor=\"#0A4169\"><font size=\"6\" color=\"#fff\">"
              "&nbsp; Title</td><tr><td width = \"20%\" bgcolor=\"#ffffff\"></td><td width = "
              "\"80%\" bgcolor=\"#ffffff\">Production Time: " +
                  std::string(FormatTimeText(1700000000)) +
                  "</td></tr><tr>\n<td width=\"20%\" bgcolor=\"#ffffff\"></td><td "
                  "width=\"80%\" bgcolor=\"#ffffff\">Report Notes: 3 files</td></tr>"
                  "</tr></table><table><tr bgcolor=\"#EEEEEE\"><th>Seq.</th><th>File Name</th>"
                  "</tr>");
}

std::string HtmlCell(const std::string& value) {
    MemoryReport html(REPORT_HTML);
    Report_AddColumn(&html.report, 10, "Name", 0);
    Report_WriteRow(&html.report, "%s", value.c_str());
    std::string row = html.Fresh();
    const std::string open = "<tr><td><tt>", close = "</tt></td></tr>";
    EXPECT_EQ(row.substr(0, open.size()), open);
    EXPECT_EQ(row.substr(row.size() - close.size()), close);
    return row.substr(open.size(), row.size() - open.size() - close.size());
}

TEST(HtmlForm, CellsAreEscapedTrimmedAndCut) {
    EXPECT_EQ(HtmlCell("a<b&c>d \"e\" 'f'"), "a&lt;b&amp;c&gt;d &quot;e&quot; &apos;f&apos;");
    EXPECT_EQ(HtmlCell("\t name \n"), "name");
    // Input is taken while fewer than 505 bytes have been produced.
    EXPECT_EQ(HtmlCell(std::string(600, 'a')), std::string(505, 'a'));
    EXPECT_EQ(HtmlCell(std::string(504, 'a') + "&&"), std::string(504, 'a') + "&amp;");
    std::string escaped;
    for (int i = 0; i < 101; ++i) escaped += "&amp;";
    EXPECT_EQ(HtmlCell(std::string(200, '&')), escaped);
}

TEST(HtmlForm, RightColumnsAndEndOfTable) {
    MemoryReport html(REPORT_HTML);
    Report_AddColumn(&html.report, 6, "Seq.", COLUMN_RIGHT);
    Report_AddColumn(&html.report, 6, "Name", 0);
    Report_WriteRow(&html.report, "%u|%s", 12u, "x ");
    Report_EndTable(&html.report);
    EXPECT_EQ(html.Fresh(),
              "<tr><td align=\"right\"><tt>12</tt></td><td><tt>x</tt></td></tr>"
              "</table><p></p>");
    html.Close();
    EXPECT_EQ(html.Fresh(), "</body></html>");
}

TEST(JsonForm, RowsGoToTheCurrentSectionAndMissingFieldsAreEmpty) {
    MemoryReport json(REPORT_JSON);
    Report_AddColumn(&json.report, 6, "Seq.", COLUMN_RIGHT);
    Report_AddColumn(&json.report, 6, "File Name", 0);
    Report_WriteRow(&json.report, "%s", "0|before any section");
    Report_BeginSection(&json.report, nullptr, "First", nullptr);
    Report_WriteRow(&json.report, "%s", "1|a ");
    Report_BeginSection(&json.report, nullptr, "Second", nullptr);
    Report_WriteRow(&json.report, "%s", "2");
    Report_EndTable(&json.report);
    EXPECT_EQ(json.Fresh(), "") << "JSON is written at close only";
    json.Close();
    cJSON* document = cJSON_Parse(json.Output().c_str());
    ASSERT_NE(document, nullptr) << json.Output();
    char* printed = cJSON_PrintUnformatted(document);
    std::string time = FormatTimeText(1700000000);
    EXPECT_EQ(std::string(printed), "[{\"title\":\"First\",\"creation_time\":\"" + time +
                                        "\",\"records\":[{\"seq.\":\"1\",\"file-name\":\"a\"}]},"
                                        "{\"title\":\"Second\",\"creation_time\":\"" +
                                        time +
                                        "\",\"records\":[{\"seq.\":\"2\",\"file-name\":\"\"}]}]");
    EXPECT_NE(json.Output().back(), '\n');
    cJSON_free(printed);
    cJSON_Delete(document);
}

TEST(Counters, RulesResetRowsOnlyWhereTheFormHasNoRuledLine) {
    struct Case {
        int format;
        uint32_t rowsAfterRule;
    } cases[] = {{REPORT_TEXT, 2}, {REPORT_CSV, 2}, {REPORT_HTML, 0}, {REPORT_JSON, 0}};
    for (const Case& c : cases) {
        MemoryReport report(c.format);
        Report_AddColumn(&report.report, 4, "A", 0);
        Report_WriteRow(&report.report, "%s", "1");
        Report_WriteRow(&report.report, "%s", "2");
        Report_WriteRule(&report.report);
        EXPECT_EQ(report.report.rowsCounter, c.rowsAfterRule) << c.format;
        Report_NewPage(&report.report);
        EXPECT_EQ(report.report.rowsCounter, 0u);
    }
}

TEST(ParentReports, ShareStateAndCountersAndFreeItOnce) {
    for (int format : {REPORT_PDF, REPORT_EXCEL}) {
        MemoryReport parent(format);
        MemoryReport child(format);
        child.report.parent = &parent.report;
        Report_AddColumn(&parent.report, 4, "A", 0);
        Report_AddColumn(&child.report, 4, "A", 0);
        Report_BeginSection(&parent.report, nullptr, "Parent", nullptr);
        Report_BeginSection(&child.report, nullptr, "Child", nullptr);
        if (format == REPORT_PDF)
            EXPECT_TRUE(child.report.flags & REPORT_PDF_BORROWED);
        else
            EXPECT_TRUE(child.report.flags & REPORT_EXCEL_BORROWED);
        parent.report.rowsCounter = child.report.rowsCounter = 5;
        Report_NewPage(&child.report);
        EXPECT_EQ(parent.report.rowsCounter, 0u);
        child.Close();  // the parent's state must outlive the child's close
        parent.Close();
        EXPECT_EQ(parent.Output(), "") << "PDF and Excel write nothing yet outside CGI mode";
    }
}

}  // namespace
