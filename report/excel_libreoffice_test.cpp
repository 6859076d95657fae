// The Excel form's file list as LibreOffice reads it: the workbook converted to CSV by a
// headless LibreOffice, text cells quoted and number cells bare, names in several scripts
// intact; and converted to .xlsx, whose first sheet shows the column widths, the bold
// headings and the frozen heading row as LibreOffice took them. A test of its own (label
// libreoffice) because starting the office suite takes many seconds.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "tests/support/test_support.h"

namespace {

TEST(ExcelInLibreOffice, FileListReadsBackCellForCell) {
    std::string office = testsupport::FindProgram("soffice");
    if (office.empty() && testsupport::PeersRequired()) FAIL() << "LibreOffice is not installed";
    if (office.empty()) GTEST_SKIP() << "LibreOffice is not installed";

    testsupport::TempDir folder;
    testsupport::ChildOptions driver;
    driver.arguments = {"--now",   "1700000000",     "--indent",      "1",
                        "6r:Seq.", "40:Description", "100:File Name", "4rn:Gen."};
    driver.environment = {{"TZ", "UTC"},
                          {"ZYMBREPORTFORMAT", "excel"},
                          {"REQUEST_URI", std::nullopt},
                          {"ZYMBREPORTCOLUMNDELETE", std::nullopt},
                          {"ZYMBEXCELOUTPUTPATH", folder / "list.xls"}};
    driver.input = std::string("section Corvantix File List") + '\0' +
                   "row 1|Monthly statistics |stats/2024-01.csv |3" + '\0' +
                   "row 2|Gr\xC3\xBC\xC3\x9F"
                   "e \xE2\x82\xAC |\xE6\x97\xA5\xE6\x9C\xAC.csv |1" +
                   '\0' + "row 3|Invoices |invoices/Q1, \"final\".pdf |12" + '\0' +
                   "row 4|Ελληνική έκθεση |Αρχεία/έκθεση.pdf |1" + '\0' +
                   "row 5|Квартальный отчёт |Отчёты/квартал.xlsx |7" + '\0' +
                   "row 6|営業部（東京本社） |東京/報告書.pdf |2" + '\0' + "end" + '\0';
    testsupport::ChildResult written = testsupport::RunProgram(REPORT_DRIVER, driver);
    ASSERT_EQ(written.exitStatus, 0) << written.err;

    // A profile of its own, so that other runs of LibreOffice on the machine do not meet it.
    testsupport::ChildOptions convert;
    convert.arguments = {"--headless",       "-env:UserInstallation=file://" + (folder / "profile"),
                         "--convert-to",     "csv:Text - txt - csv (StarCalc):44,34,76,1",
                         "--outdir",         folder / "out",
                         folder / "list.xls"};
    convert.timeoutSeconds = 240;
    testsupport::ChildResult converted = testsupport::RunProgram(office, convert);
    ASSERT_EQ(converted.exitStatus, 0) << converted.err;
    EXPECT_EQ(testsupport::ReadFile(folder / "out/list.csv"),
              "\"Seq.\",\"Description\",\"File Name\",\"Gen.\"\n"
              "\"1\",\"Monthly statistics\",\"stats/2024-01.csv\",3\n"
              "\"2\",\"Gr\xC3\xBC\xC3\x9F"
              "e \xE2\x82\xAC\",\"\xE6\x97\xA5\xE6\x9C\xAC.csv\",1\n"
              "\"3\",\"Invoices\",\"invoices/Q1, \"\"final\"\".pdf\",12\n"
              "\"4\",\"Ελληνική έκθεση\",\"Αρχεία/έκθεση.pdf\",1\n"
              "\"5\",\"Квартальный отчёт\",\"Отчёты/квартал.xlsx\",7\n"
              "\"6\",\"営業部（東京本社）\",\"東京/報告書.pdf\",2\n")
        << converted.out << converted.err;

    convert.arguments = {"--headless",       "-env:UserInstallation=file://" + (folder / "profile"),
                         "--convert-to",     "xlsx",
                         "--outdir",         folder / "out",
                         folder / "list.xls"};
    converted = testsupport::RunProgram(office, convert);
    ASSERT_EQ(converted.exitStatus, 0) << converted.err;
    const char* root = getenv("ZYMB_SOURCE_DIR");
    testsupport::ChildOptions read;
    read.arguments = {
        std::string(root != nullptr ? root : ".") + "/report/testdata/read_xlsx_layout.py",
        folder / "out/list.xlsx"};
    testsupport::ChildResult layout =
        testsupport::RunProgram(testsupport::FindProgram("python3"), read);
    ASSERT_EQ(layout.exitStatus, 0) << layout.err;
    EXPECT_EQ(layout.out,
              "frozen 1\n"
              "width 1 7\nwidth 2 41\nwidth 3 101\nwidth 4 5\n"
              "bold A1\nbold B1\nbold C1\nbold D1\n");
}

}  // namespace
