// Names in several scripts, names longer than their column and names a hostile server may
// hold, through every form of the file list, read back by readers that are not ours:
// Python's strict UTF-8 decoding and its terminal column count for the text form, its csv
// module for CSV, pdftotext with word boxes for the PDF, xlrd with the formatting for the
// workbook. Also the output paths of the PDF and the workbook, however long.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "tests/support/pdf_readers.h"
#include "tests/support/test_support.h"
#include "tests/support/xls_read_back.h"

namespace fs = std::filesystem;
using testsupport::ChildResult;

namespace {

using Environment = std::map<std::string, std::optional<std::string>>;

std::string Repeat(const std::string& text, int times) {
    std::string all;
    for (int i = 0; i < times; ++i) all += text;
    return all;
}

// 18 columns on a terminal: nine East Asian wide characters; and eighteen Cyrillic ones.
const std::string kLongPiece = "長い名前のファイル";
const std::string kCyrillicPiece = "квартальный_отчёт_";

struct Entry {
    std::string description, name;
    // What the text form shows in the 40- and 100-column cells.
    std::string shownDescription, shownName;
};

// The file list of a customer with German, Greek, Russian and Japanese names.
const std::vector<Entry> kEntries = {
    {"Geschäftsbericht für Müller", "Berichte/Übersicht_Jürgen.pdf", "Geschäftsbericht für Müller",
     "Berichte/Übersicht_Jürgen.pdf"},
    // A u with a combining diaeresis: two characters, one column.
    {"Mu\u0308ller Bericht", "mu\u0308ller.txt", "Mu\u0308ller Bericht", "mu\u0308ller.txt"},
    {"Ελληνική έκθεση", "Αρχεία/έκθεση_Ιούνιος.pdf", "Ελληνική έκθεση",
     "Αρχεία/έκθεση_Ιούνιος.pdf"},
    {"Квартальный отчёт", "Отчёты/квартал_Январь.xlsx", "Квартальный отчёт",
     "Отчёты/квартал_Январь.xlsx"},
    // 24 wide characters (48 columns) in a 40-column cell: the first 20 show.
    {"営業部（東京本社）の月次報告書と関連資料一式です", "東京/報告書.pdf",
     "営業部（東京本社）の月次報告書と関連資料", "東京/報告書.pdf"},
    // 109 columns in a 100-column cell: 99 show, as the next wide character would straddle
    // the column's end.
    {"Long name", "x" + Repeat(kLongPiece, 6) + ".dat", "Long name",
     "x" + Repeat(kLongPiece, 5) + "長い名前"},
    // 154 columns of Cyrillic in a 100-column cell.
    {"Длинное имя", "Архив/" + Repeat(kCyrillicPiece, 8) + ".zip", "Длинное имя",
     "Архив/" + Repeat(kCyrillicPiece, 5) + "квар"},
    // A description the server cut inside a character.
    {"（東京本社\xE6", "cut.txt", "（東京本社\uFFFD", "cut.txt"},
    // Escape sequences, a bell and a carriage return: never sent to the terminal.
    {"evil\x1B]0;pwned\x07 title", "bell\x07\r.txt", "evil?]0;pwned? title", "bell??.txt"},
};

std::string Script(const std::vector<Entry>& entries) {
    std::string script = std::string("section Corvantix File List") + '\0';
    for (size_t i = 0; i < entries.size(); ++i)
        script += "row " + std::to_string(i + 1) + "|" + entries[i].description + " |" +
                  entries[i].name + " |" + std::to_string(i + 3) + '\0';
    return script + "end" + '\0';
}

ChildResult RunDriver(const std::string& folder, const Environment& changes,
                      const std::string& script) {
    testsupport::ChildOptions options;
    options.arguments = {"--now",   "1700000000",     "--notes",       "",       "--indent", "1",
                         "6r:Seq.", "40:Description", "100:File Name", "4r:Gen."};
    options.environment = {{"TZ", "UTC"},
                           {"REQUEST_URI", std::nullopt},
                           {"ZYMBREPORTCOLUMNDELETE", std::nullopt},
                           {"ZYMBREPORTTITLE", std::nullopt},
                           {"ZYMBCSVRAW", std::nullopt},
                           {"ZYMBPDFOUTPUTPATH", std::nullopt},
                           {"ZYMBEXCELOUTPUTPATH", std::nullopt},
                           {"ZYMBPDFLOGOPATH", std::nullopt}};
    for (const auto& [name, value] : changes) options.environment[name] = value;
    options.input = script;
    options.workingDirectory = folder;
    return testsupport::RunProgram(REPORT_DRIVER, options);
}

std::string Hex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char byte : bytes) {
        hex += digits[byte >> 4];
        hex += digits[byte & 15];
    }
    return hex.empty() ? "-" : hex;
}

std::string Python() {
    return xlsreadback::Python();
}

// parse_back.py's answer, or a failure when Python could not read the file.
std::string ParseBack(const std::vector<std::string>& arguments) {
    const char* root = getenv("ZYMB_SOURCE_DIR");
    testsupport::ChildOptions options;
    options.arguments = {std::string(root != nullptr ? root : ".") +
                         "/report/testdata/parse_back.py"};
    options.arguments.insert(options.arguments.end(), arguments.begin(), arguments.end());
    ChildResult result = testsupport::RunProgram(Python(), options);
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    return result.out;
}

class Scripts : public testing::Test {
  protected:
    void SetUp() override {
        if (!Python().empty()) return;
        if (testsupport::PeersRequired()) FAIL() << "python3 is not installed";
        GTEST_SKIP() << "python3 is not installed";
    }
    testsupport::TempDir folder_;
};

// Every line is 155 terminal columns wide and every column's text sits in its columns,
// cut at a character (never inside one), with control characters as "?".
TEST_F(Scripts, TextColumnsLineUpOnATerminal) {
    ChildResult result =
        RunDriver(folder_.Path(), {{"ZYMBREPORTFORMAT", "text"}}, Script(kEntries));
    ASSERT_EQ(result.exitStatus, 0) << result.err;
    for (char control : {'\x1B', '\x07', '\r'})
        EXPECT_EQ(result.out.find(control), std::string::npos) << int(control);
    testsupport::WriteFile(folder_ / "list.txt", result.out);
    std::vector<std::string> lines = testsupport::Lines(
        ParseBack({"text", folder_ / "list.txt", "1:7", "8:48", "49:149", "150:154"}));
    // The header block, the heading line, the rule, the rows and the closing rule.
    auto heading = std::find(lines.begin(), lines.end(),
                             "line 155 " + Hex("Seq.") + " " + Hex("Description") + " " +
                                 Hex("File Name") + " " + Hex("Gen."));
    ASSERT_NE(heading, lines.end()) << result.out;
    const std::string rule = "line 155 " + Hex(std::string(6, '-')) + " " +
                             Hex(std::string(40, '-')) + " " + Hex(std::string(100, '-')) + " " +
                             Hex(std::string(4, '-'));
    ASSERT_LT(static_cast<size_t>(heading - lines.begin()) + kEntries.size() + 2, lines.size() + 1);
    EXPECT_EQ(heading[1], rule);
    for (size_t i = 0; i < kEntries.size(); ++i)
        EXPECT_EQ(heading[2 + i], "line 155 " + Hex(std::to_string(i + 1)) + " " +
                                      Hex(kEntries[i].shownDescription) + " " +
                                      Hex(kEntries[i].shownName) + " " + Hex(std::to_string(i + 3)))
            << kEntries[i].name;
    EXPECT_EQ(heading[2 + kEntries.size()], rule);
}

// The CSV file is UTF-8 a strict decoder takes; values that a spreadsheet would run as
// formulas get a quote before them, unless the operator asks for the raw text.
TEST_F(Scripts, CsvIsValidUtf8AndRunsNoFormulas) {
    std::vector<Entry> entries = kEntries;
    const std::vector<std::string> formulas = {"=HYPERLINK(\"http://x.test\",\"click\")", "+1+1",
                                               "-2+3", "@SUM(A1:A9)"};
    for (const std::string& formula : formulas) entries.push_back({formula, formula, "", ""});
    for (bool raw : {false, true}) {
        Environment environment = {{"ZYMBREPORTFORMAT", "csv"}};
        if (raw) environment["ZYMBCSVRAW"] = "1";
        ChildResult result = RunDriver(folder_.Path(), environment, Script(entries));
        ASSERT_EQ(result.exitStatus, 0) << result.err;
        testsupport::WriteFile(folder_ / "list.csv", result.out);
        std::vector<std::string> records =
            testsupport::Lines(ParseBack({"csv", folder_ / "list.csv"}));
        ASSERT_EQ(records.size(), entries.size() + 2) << result.out;
        for (size_t i = 0; i < entries.size(); ++i) {
            bool formula = i >= kEntries.size();
            // CSV values are not cut; control characters other than the quoted line breaks
            // stay as they are, and what is not UTF-8 becomes U+FFFD.
            std::string description = formula  ? entries[i].description
                                      : i == 7 ? "（東京本社\uFFFD"
                                               : entries[i].description;
            std::string name = entries[i].name;
            if (formula && !raw) description = "'" + description, name = "'" + name;
            EXPECT_EQ(records[i + 1], "5:" + Hex(std::to_string(i + 1)) + "," + Hex(description) +
                                          "," + Hex(name) + "," + Hex(std::to_string(i + 3)) + ",")
                << (raw ? "raw " : "") << entries[i].name;
        }
    }
}

// The PDF tests need the PDF readers (pdftotext, pdffonts, qpdf).
class PdfScripts : public Scripts {
  protected:
    void SetUp() override {
        Scripts::SetUp();
        if (IsSkipped() || HasFailure()) return;
        std::string missing = testsupport::MissingPdfReaders();
        if (!missing.empty() && testsupport::PeersRequired()) FAIL() << "missing " << missing;
        if (!missing.empty()) GTEST_SKIP() << "missing " << missing;
    }
    ChildResult WritePdf(const std::string& pdf, const std::vector<Entry>& entries) {
        return RunDriver(folder_.Path(), {{"ZYMBREPORTFORMAT", "pdf"}, {"ZYMBPDFOUTPUTPATH", pdf}},
                         Script(entries));
    }
};

// Every name comes back from the PDF's text, in its own script, and a name longer than
// its column ends with "…" before the next column begins.
TEST_F(PdfScripts, PdfShowsEveryScriptInsideItsColumns) {
    std::string pdf = folder_ / "list.pdf";
    ChildResult result = WritePdf(pdf, kEntries);
    ASSERT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(testsupport::QpdfProblems(pdf), "");
    auto words = testsupport::PdfWords(pdf);
    const double unit = 592.0 / 150;
    const double fileNameX = 15 + 46 * unit, generationX = 15 + 146 * unit;
    for (const char* word :
         {"Geschäftsbericht", "Berichte/Übersicht_Jürgen.pdf", "Ελληνική",
          "Αρχεία/έκθεση_Ιούνιος.pdf", "Квартальный", "Отчёты/квартал_Январь.xlsx",
          "東京/報告書.pdf", "（東京本社\uFFFD", "evil?]0;pwned?", "bell??.txt"})
        EXPECT_NE(testsupport::FindWord(words, 1, word), nullptr) << word;
    // The Japanese names are drawn in an installed font that has their characters (the
    // DejaVu fonts have none; IPA Gothic where the packages are installed), embedded
    // beside DejaVu Sans.
    std::string fonts =
        testsupport::RunProgram(testsupport::FindProgram("pdffonts"), {.arguments = {pdf}}).out;
    EXPECT_NE(fonts.find("DejaVuSans,Book"), std::string::npos) << fonts;
    bool other = false;
    for (const std::string& line : testsupport::Lines(fonts))
        other |= line.find("CID TrueType") != std::string::npos &&
                 line.find("DejaVu") == std::string::npos;
    EXPECT_TRUE(other) << "no font for the Japanese names:\n" << fonts;
    // The long name: its start, cut with "…", ending before the generation column.
    const testsupport::PdfWord* cut = nullptr;
    for (const auto& word : words)
        if (word.text.starts_with("Архив/квартальный_отчёт_") && word.text.ends_with("…"))
            cut = &word;
    ASSERT_NE(cut, nullptr) << testsupport::PdfPageText(words, 1);
    EXPECT_NEAR(cut->x, fileNameX, 0.5);
    EXPECT_LE(cut->right, generationX);
    EXPECT_GT(cut->right, generationX - 30) << "the cut uses the room the column has";
    // Nothing on the page runs past the right margin, and no row's cell into the next
    // column.
    for (const auto& word : words) {
        EXPECT_LE(word.right, 602.5) << word.text;
        if (word.x >= fileNameX - 0.5 && word.x < generationX - 0.5 && word.y > 40 &&
            word.y < 700) {
            EXPECT_LE(word.right, generationX) << word.text;
        }
    }
}

// Characters beyond U+FFFF (emoji, rare ideographs), which the library's UTF-8 encoder
// would drop without a trace, show as the replacement mark; the log says where the
// document went.
TEST_F(PdfScripts, PdfMarksCharactersBeyondTheBasicPlaneAndSaysWhereItWent) {
    std::string pdf = folder_ / "list.pdf";
    ChildResult result = WritePdf(pdf, {{"emoji \U0001F600 desc", "\U00020BB7野家.txt", "", ""}});
    ASSERT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(result.err.rfind("PDF report saved to " + fs::canonical(pdf).string() + " (", 0), 0u)
        << result.err;
    auto words = testsupport::PdfWords(pdf);
    EXPECT_NE(testsupport::FindWord(words, 1, "\uFFFD野家.txt"), nullptr)
        << testsupport::PdfPageText(words, 1);
    EXPECT_NE(testsupport::FindWord(words, 1, "\uFFFD"), nullptr)
        << testsupport::PdfPageText(words, 1);
}

// The workbook: every name whole in its own script, the columns as wide as the report
// declares them, the headings bold and frozen; the log says where it went.
TEST_F(Scripts, WorkbookKeepsEveryNameInReadableColumns) {
    if (!xlsreadback::ReaderInstalled()) {
        if (testsupport::PeersRequired()) FAIL() << "python3 with xlrd is not installed";
        GTEST_SKIP() << "python3 with xlrd is not installed";
    }
    ChildResult result =
        RunDriver(folder_.Path(), {{"ZYMBREPORTFORMAT", "excel"}}, Script(kEntries));
    ASSERT_EQ(result.exitStatus, 0) << result.err;
    const std::string path = fs::canonical(folder_.Path()) / "Sheet-2023-11-14-22-13-20.xls";
    EXPECT_EQ(result.err, "Excel workbook saved to " + path + " (" +
                              std::to_string(kEntries.size()) + " rows)\n");
    xlsreadback::Book book = xlsreadback::Read(path);
    ASSERT_TRUE(book.read) << book.error;
    ASSERT_EQ(book.sheets.size(), 1u);
    const xlsreadback::Sheet& sheet = book.sheets[0];
    EXPECT_EQ(sheet.columnWidths, (std::map<int, double>{{0, 7}, {1, 41}, {2, 101}, {3, 5}}));
    EXPECT_EQ(sheet.bold, (std::set<std::pair<int, int>>{{0, 0}, {0, 1}, {0, 2}, {0, 3}}));
    EXPECT_EQ(sheet.frozenRows, 1);
    EXPECT_EQ(sheet.frozenColumns, 0);
    for (size_t i = 0; i < kEntries.size(); ++i) {
        int row = static_cast<int>(i) + 1;
        std::string description = i == 7 ? "（東京本社\uFFFD" : kEntries[i].description;
        EXPECT_EQ(sheet.Text(row, 1), description);
        EXPECT_EQ(sheet.Text(row, 2), kEntries[i].name) << "a workbook cell keeps the whole name";
    }
}

// An output path is used as it is given, however long, up to what a path can be; beyond
// that nothing is written, under that name or any other, and the run fails naming it.
TEST_F(Scripts, OutputPathsAreUsedWholeOrNotAtAll) {
    // A folder deep enough that the files' paths pass 260 characters.
    fs::path deep = folder_.Path();
    for (int i = 0; i < 6; ++i) deep /= std::string(50, 'a' + i);
    fs::create_directories(deep);
    const std::string pdf = deep / "Bericht für Jürgen.pdf", xls = deep / "Отчёт.xls";
    ASSERT_GT(pdf.size(), 300u);
    const std::string tooLong = folder_ / std::string(5000, 'z');
    const struct {
        const char* format;
        const char* variable;
        std::string path;
        bool written;
    } cases[] = {
        {"pdf", "ZYMBPDFOUTPUTPATH", pdf, true},
        {"excel", "ZYMBEXCELOUTPUTPATH", xls, true},
        {"pdf", "ZYMBPDFOUTPUTPATH", tooLong, false},
        {"excel", "ZYMBEXCELOUTPUTPATH", tooLong, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.format) + " " + std::to_string(c.path.size()));
        std::error_code ignored;
        fs::remove(c.path, ignored);
        ChildResult result =
            RunDriver(folder_.Path(), {{"ZYMBREPORTFORMAT", c.format}, {c.variable, c.path}},
                      Script({kEntries[0]}));
        EXPECT_EQ(result.exitStatus, c.written ? 0 : 1) << result.err;
        EXPECT_EQ(fs::exists(c.path, ignored), c.written);
        if (!c.written) {
            EXPECT_NE(result.err.find(std::string(c.variable) + " is longer than a path can be"),
                      std::string::npos)
                << result.err;
            // Nothing was written anywhere: the folder holds only the deep folders.
            for (const auto& entry : fs::directory_iterator(folder_.Path()))
                EXPECT_TRUE(entry.is_directory()) << entry.path();
        }
    }
}

}  // namespace
