// The Excel form as a program meets it: the test driver writes workbooks in a folder of
// its own, and Python's xlrd (and, in the libreoffice test, LibreOffice) reads them back.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/test_support.h"
#include "tests/support/xls_read_back.h"

using testsupport::ChildOptions;
using testsupport::ChildResult;

namespace {

using Environment = std::map<std::string, std::optional<std::string>>;

const char* kFileListTime = "1700000000";  // 2023-11-14 22:13:20 UTC
const char* kDefaultName = "Sheet-2023-11-14-22-13-20.xls";
// The C library's generator unseeded gives these first; they name the sheets.
const char* kFirstSheet = "Report 0 1804289383";
const char* kSecondSheet = "Report 0 846930886";

const std::vector<std::string> kFileListColumns = {
    "--indent", "1", "6r:Seq.", "40:Description", "100:File Name", "4r:Gen."};

struct DriverRun {
    ChildResult result;
    testsupport::TempDir folder;  // the driver's working directory
};

std::string Rows(const std::vector<std::string>& rows, const std::string& title = "File List") {
    std::string script = "section " + title + '\0';
    for (const std::string& row : rows) script += "row " + row + '\0';
    return script + "end" + '\0';
}

void RunDriver(DriverRun* run, const Environment& changes, const std::string& input,
               const std::vector<std::string>& columns = kFileListColumns) {
    ChildOptions options;
    options.arguments = {"--now", kFileListTime};
    options.arguments.insert(options.arguments.end(), columns.begin(), columns.end());
    options.environment = {{"TZ", "UTC"},
                           {"ZYMBREPORTFORMAT", "excel"},
                           {"REQUEST_URI", std::nullopt},
                           {"ZYMBREPORTCOLUMNDELETE", std::nullopt},
                           {"ZYMBEXCELOUTPUTPATH", std::nullopt},
                           {"ZYMBREPORTTITLE", std::nullopt}};
    for (const auto& [name, value] : changes) options.environment[name] = value;
    options.input = input;
    options.workingDirectory = run->folder.Path();
    run->result = testsupport::RunProgram(REPORT_DRIVER, options);
}

class ExcelReport : public testing::Test {
  protected:
    void SetUp() override {
        if (xlsreadback::ReaderInstalled()) return;
        if (testsupport::PeersRequired()) FAIL() << "python3 with xlrd is not installed";
        GTEST_SKIP() << "python3 with xlrd is not installed";
    }

    // Runs the driver and reads the workbook it wrote under the default name.
    xlsreadback::Book Workbook(const Environment& changes, const std::string& input,
                               const std::vector<std::string>& columns = kFileListColumns) {
        RunDriver(&run_, changes, input, columns);
        EXPECT_EQ(run_.result.exitStatus, 0) << run_.result.err;
        xlsreadback::Book book = xlsreadback::Read(run_.folder / kDefaultName);
        EXPECT_TRUE(book.read) << book.error;
        return book;
    }

    DriverRun run_;
};

const std::vector<std::string> kThreeFiles = {
    "1|Monthly statistics |stats/2024-01.csv |3",
    "2|Quarterly figures for the board, draft 2 |board/q3-figures.xlsx |1",
    "3|Invoices |invoices/Q1, \"final\".pdf |12",
};

TEST_F(ExcelReport, FileListIsOneSheetWithHeadingsAndTextRows) {
    xlsreadback::Book book = Workbook({}, Rows(kThreeFiles));
    ASSERT_EQ(book.sheets.size(), 1u);
    const xlsreadback::Sheet& sheet = book.sheets[0];
    EXPECT_EQ(sheet.name, kFirstSheet);
    EXPECT_EQ(sheet.rows, 4);
    EXPECT_EQ(sheet.columns, 4);
    const std::vector<std::vector<std::string>> expected = {
        {"Seq.", "Description", "File Name", "Gen."},
        {"1", "Monthly statistics", "stats/2024-01.csv", "3"},
        {"2", "Quarterly figures for the board, draft 2", "board/q3-figures.xlsx", "1"},
        {"3", "Invoices", "invoices/Q1, \"final\".pdf", "12"},
    };
    for (int row = 0; row < 4; ++row)
        for (int column = 0; column < 4; ++column)
            EXPECT_EQ(sheet.Text(row, column), expected[row][column]) << row << "," << column;
    EXPECT_EQ(run_.result.out, "") << "nothing on standard output outside a web server";
}

TEST_F(ExcelReport, AHiddenColumnTakesNoSheetColumn) {
    xlsreadback::Book book = Workbook({{"ZYMBREPORTCOLUMNDELETE", "2"}}, Rows(kThreeFiles));
    ASSERT_EQ(book.sheets.size(), 1u);
    const xlsreadback::Sheet& sheet = book.sheets[0];
    EXPECT_EQ(sheet.columns, 3);
    EXPECT_EQ(sheet.Text(0, 1), "File Name");
    EXPECT_EQ(sheet.Text(0, 2), "Gen.");
    EXPECT_EQ(sheet.Text(3, 1), "invoices/Q1, \"final\".pdf");
    EXPECT_EQ(sheet.Text(3, 2), "12");
}

TEST_F(ExcelReport, CountColumnsHoldNumbers) {
    struct Case {
        const char* field;
        double value;
    } cases[] = {{"1234567", 1234567}, {"?123", 0}, {"  42 files", 42},
                 {"-5", -5},           {"abc", 0},  {"9007199254740993", 9007199254740992.0}};
    std::vector<std::string> rows;
    for (const Case& c : cases) rows.push_back(std::string(c.field) + "|name |");
    xlsreadback::Book book = Workbook({}, Rows(rows), {"12n:Count", "20:Name"});
    ASSERT_EQ(book.sheets.size(), 1u);
    const xlsreadback::Sheet& sheet = book.sheets[0];
    for (size_t i = 0; i < std::size(cases); ++i) {
        const xlsreadback::Cell* cell = sheet.At(static_cast<int>(i) + 1, 0);
        ASSERT_NE(cell, nullptr) << cases[i].field;
        EXPECT_TRUE(cell->number) << cases[i].field;
        EXPECT_EQ(cell->value, cases[i].value) << cases[i].field;
        EXPECT_EQ(sheet.Text(static_cast<int>(i) + 1, 1), "name");
    }
}

TEST_F(ExcelReport, ASecondSectionStartsBelowTheFirstSectionsRows) {
    std::string script = Rows(kThreeFiles, "First") + Rows({"9|Late |late.txt |1"}, "Second");
    xlsreadback::Book book = Workbook({}, script);
    ASSERT_EQ(book.sheets.size(), 2u);
    EXPECT_EQ(book.sheets[1].name, kSecondSheet);
    const xlsreadback::Sheet& second = book.sheets[1];
    EXPECT_EQ(second.Text(0, 0), "Seq.");
    for (int row = 1; row <= 3; ++row) EXPECT_EQ(second.At(row, 0), nullptr) << row;
    EXPECT_EQ(second.Text(4, 2), "late.txt");
    // After a rule the counter starts again: the next section's rows begin at row 1.
    script = Rows(kThreeFiles, "First") + std::string("rule") + '\0' +
             Rows({"9|Late |late.txt |1"}, "Second");
    book = Workbook({}, script);
    ASSERT_EQ(book.sheets.size(), 2u);
    EXPECT_EQ(book.sheets[1].Text(1, 2), "late.txt");
}

TEST_F(ExcelReport, NamesOutsideAsciiKeepTheirCharacters) {
    const std::vector<std::pair<std::string, std::string>> names = {
        {"Gr\xC3\xBC\xC3\x9F"
         "e \xE2\x82\xAC.txt",
         "Gr\xC3\xBC\xC3\x9F"
         "e \xE2\x82\xAC.txt"},
        {"\xE6\x97\xA5\xE6\x9C\xAC.csv", "\xE6\x97\xA5\xE6\x9C\xAC.csv"},
        {"smile \xF0\x9F\x98\x80.png", "smile \xF0\x9F\x98\x80.png"},
        {"caf\xE9.txt", "caf\xEF\xBF\xBD.txt"},  // not UTF-8: the byte is replaced
        {"cut \xE2\x82", "cut \xEF\xBF\xBD"},
    };
    std::vector<std::string> rows;
    for (size_t i = 0; i < names.size(); ++i)
        rows.push_back(std::to_string(i + 1) + "|D\xC3\xA9scription |" + names[i].first + " |1");
    xlsreadback::Book book = Workbook({}, Rows(rows));
    ASSERT_EQ(book.sheets.size(), 1u);
    for (size_t i = 0; i < names.size(); ++i) {
        EXPECT_EQ(book.sheets[0].Text(static_cast<int>(i) + 1, 2), names[i].second) << i;
        EXPECT_EQ(book.sheets[0].Text(static_cast<int>(i) + 1, 1), "D\xC3\xA9scription");
    }
}

TEST_F(ExcelReport, RowsPastTheSheetLimitGoOnInTheNextSheet) {
    const int count = 70000;
    std::vector<std::string> rows;
    for (int i = 1; i <= count; ++i)
        rows.push_back(std::to_string(i) + "|Row " + std::to_string(i) + " |f" + std::to_string(i) +
                       " |1");
    xlsreadback::Book book = Workbook({}, Rows(rows));
    ASSERT_EQ(book.sheets.size(), 2u);
    EXPECT_EQ(book.sheets[0].name, kFirstSheet);
    EXPECT_EQ(book.sheets[1].name, std::string(kFirstSheet) + " (2)");
    EXPECT_EQ(book.sheets[0].rows, 65536);
    EXPECT_EQ(book.sheets[1].rows, count - 65535 + 1);
    EXPECT_EQ(book.sheets[1].Text(0, 0), "Seq.");
    // Every row once, in order, across the two sheets.
    int expected = 1;
    for (const xlsreadback::Sheet& sheet : book.sheets)
        for (int row = 1; row < sheet.rows; ++row, ++expected)
            ASSERT_EQ(sheet.Text(row, 2), "f" + std::to_string(expected)) << sheet.name << row;
    EXPECT_EQ(expected, count + 1);
}

TEST_F(ExcelReport, OutputPathVariableNamesTheFile) {
    RunDriver(&run_, {{"ZYMBEXCELOUTPUTPATH", run_.folder / "chosen.xls"}}, Rows(kThreeFiles));
    EXPECT_EQ(run_.result.exitStatus, 0) << run_.result.err;
    EXPECT_FALSE(std::filesystem::exists(run_.folder / kDefaultName));
    xlsreadback::Book book = xlsreadback::Read(run_.folder / "chosen.xls");
    ASSERT_TRUE(book.read) << book.error;
    EXPECT_EQ(book.sheets[0].Text(1, 2), "stats/2024-01.csv");
}

TEST_F(ExcelReport, AFailedSaveIsAFailureNamingThePathAndReason) {
    std::string path = run_.folder / "missing/list.xls";
    RunDriver(&run_, {{"ZYMBEXCELOUTPUTPATH", path}}, Rows(kThreeFiles));
    EXPECT_EQ(run_.result.exitStatus, 1);
    EXPECT_NE(run_.result.err.find("Excel workbook \"" + path + "\" not saved: "),
              std::string::npos)
        << run_.result.err;
    EXPECT_NE(run_.result.err.find("No such file or directory"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(run_.folder / "missing"));
}

TEST_F(ExcelReport, UnderAWebServerTheWorkbookFollowsItsLength) {
    {
        Environment environment = {{"REQUEST_URI", "/cgi-bin/list"},
                                   {"REQUEST_METHOD", "GET"},
                                   {"QUERY_STRING", "RPT=excel"}};
        RunDriver(&run_, environment, Rows(kThreeFiles));
        ASSERT_EQ(run_.result.exitStatus, 0) << run_.result.err;
        const std::string& out = run_.result.out;
        const std::string head =
            "Content-type: application/vnd.ms-excel\r\n"
            "Content-disposition: attachment; filename=\"" +
            std::string(kDefaultName) + "\"\r\nContent-Length: ";
        ASSERT_EQ(out.substr(0, head.size()), head);
        size_t end = out.find("\n\r\n", head.size());
        ASSERT_NE(end, std::string::npos);
        size_t length = std::stoul(out.substr(head.size(), end - head.size()));
        std::string body = out.substr(end + 3);
        EXPECT_EQ(body.size(), length);
        xlsreadback::Book book = xlsreadback::Read("", body);
        ASSERT_TRUE(book.read) << book.error;
        EXPECT_EQ(book.sheets[0].Text(3, 2), "invoices/Q1, \"final\".pdf");
        EXPECT_FALSE(std::filesystem::exists(run_.folder / kDefaultName));
    }
}

}  // namespace
