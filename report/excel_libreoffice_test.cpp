// The Excel form's file list as LibreOffice reads it: the workbook converted to CSV by a
// headless LibreOffice, text cells quoted and number cells bare. A test of its own
// (label libreoffice) because starting the office suite takes many seconds.
#include <gtest/gtest.h>

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
                   '\0' + "row 3|Invoices |invoices/Q1, \"final\".pdf |12" + '\0' + "end" + '\0';
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
              "\"3\",\"Invoices\",\"invoices/Q1, \"\"final\"\".pdf\",12\n")
        << converted.out << converted.err;
}

}  // namespace
