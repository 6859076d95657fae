// The PDF form as readers see it: the test driver writes a report with its own
// environment, and qpdf, pdfinfo, pdftotext, pdftoppm and zbarimg read the document
// back: structure, page sizes, where the words are, the colours of rendered pixels, the
// QR symbol of every page and the bookmarks.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "report/pdf_text.h"
#include "report/report.h"
#include "tests/support/pdf_readers.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;
using testsupport::ChildResult;
using testsupport::FindWord;
using testsupport::PdfWord;

namespace {

using Environment = std::map<std::string, std::optional<std::string>>;

const char* kTime = "1700000000";
const char* kTitle = "Corvantix File List";
const std::string kQrTime = "Tuesday, November 14, 2023 - 22:13:20";
// With the file list's empty notes, a letter page in portrait holds 52 rows.
constexpr int kRowsPerLetterPage = 52;
constexpr double kRowOneY = 663;  // lower edge of the first row's band

class PdfReport : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string missing = testsupport::MissingPdfReaders();
        if (!missing.empty() && testsupport::PeersRequired()) FAIL() << "missing " << missing;
        if (!missing.empty()) GTEST_SKIP() << "missing " << missing;
    }

    std::string Output() const { return folder_ / "report.pdf"; }

    // Runs the driver with the file list's columns and empty notes, as the download
    // program writes its list, and the PDF written to Output().
    ChildResult Run(const Environment& changes, const std::string& script,
                    std::vector<std::string> extra = {}) {
        testsupport::ChildOptions options;
        options.arguments = {"--now", kTime, "--notes", "", "--indent", "1"};
        options.arguments.insert(options.arguments.end(), extra.begin(), extra.end());
        for (const char* column : {"6r:Seq.", "40:Description", "100:File Name", "4r:Gen."})
            options.arguments.push_back(column);
        options.environment = {
            {"TZ", "UTC"}, {"ZYMBREPORTFORMAT", "pdf"}, {"ZYMBPDFOUTPUTPATH", Output()}};
        for (const char* name :
             {"REQUEST_URI", "ZYMBPDFLOGOPATH", "ZYMBPDFORIENTATION", "ZYMBPDFPAGESIZE",
              "ZYMBPDFCOLORHDR", "ZYMBPDFCOLORHDR007", "ZYMBPDFBLANKPAGETEXT", "ZYMBREPORTTITLE",
              "ZYMBREPORTCOLUMNDELETE"})
            options.environment[name] = std::nullopt;
        for (const auto& [name, value] : changes) options.environment[name] = value;
        options.input = script;
        return testsupport::RunProgram(REPORT_DRIVER, options);
    }

    testsupport::TempDir folder_;
};

std::string Command(const std::string& text) {
    return text + '\0';
}

std::string Rows(int first, int last) {
    std::string script;
    for (int i = first; i <= last; ++i)
        script += Command("row " + std::to_string(i) + "|Description " + std::to_string(i) +
                          " |file-" + std::to_string(i) + ".dat |" + std::to_string(i % 10));
    return script;
}

std::string Qr(int page, const std::string& title = kTitle) {
    return std::to_string(page) + ";" + title + ";" + kQrTime;
}

// Pixel colours of a page rendered at 72 dpi (one pixel per point), top row first.
struct Raster {
    int width = 0, height = 0;
    std::string rgb;
    // The colour at PDF point (x, y), origin bottom left.
    std::vector<int> At(double x, double y) const {
        int column = static_cast<int>(x), row = height - 1 - static_cast<int>(y);
        size_t at =
            (static_cast<size_t>(row) * static_cast<size_t>(width) + static_cast<size_t>(column)) *
            3;
        if (row < 0 || column < 0 || at + 2 >= rgb.size()) return {};
        return {static_cast<unsigned char>(rgb[at]), static_cast<unsigned char>(rgb[at + 1]),
                static_cast<unsigned char>(rgb[at + 2])};
    }
};

Raster Render(const std::string& pdf, int page) {
    testsupport::TempDir folder;
    Raster raster;
    auto result = testsupport::RunProgram(
        testsupport::FindProgram("pdftoppm"),
        {.arguments = {"-r", "72", "-f", std::to_string(page), "-l", std::to_string(page),
                       "-singlefile", pdf, folder / "page"}});
    std::string image = testsupport::ReadFile(folder / "page.ppm");
    int maximum = 0, used = 0;
    if (result.exitStatus != 0 ||
        sscanf(image.c_str(), "P6 %d %d %d%n", &raster.width, &raster.height, &maximum, &used) != 3)
        return raster;
    raster.rgb = image.substr(static_cast<size_t>(used) + 1);
    return raster;
}

// Everything a sound document shows: qpdf finds no fault and every page has its QR
// symbol with its own page number.
void ExpectSound(const std::string& pdf, const std::string& title = kTitle) {
    EXPECT_EQ(testsupport::QpdfProblems(pdf), "");
    auto qr = testsupport::PdfQrTexts(pdf);
    for (size_t page = 0; page < qr.size(); ++page)
        EXPECT_EQ(qr[page], std::vector<std::string>{Qr(static_cast<int>(page) + 1, title)})
            << "page " << page + 1;
}

// A fontconfig configuration that knows no fonts: the PDF form falls back to the standard
// Latin-1 fonts, as on a system without the DejaVu fonts.
std::string NoFontsConfiguration(const testsupport::TempDir& folder) {
    std::string path = folder / "no-fonts.conf";
    testsupport::WriteFile(path, "<?xml version=\"1.0\"?>\n<fontconfig></fontconfig>\n");
    return path;
}

// The fonts of the document as pdffonts lists them, one line each.
std::string FontList(const std::string& pdf) {
    return testsupport::RunProgram(testsupport::FindProgram("pdffonts"), {.arguments = {pdf}}).out;
}

TEST_F(PdfReport, FileListOnLetterPortrait) {
    std::string script = Command(std::string("section ") + kTitle) +
                         Command("row 1|Quarterly ledger |ledger.txt |3") +
                         Command(
                             "row 2|Caf\xC3\xA9 na\xC3\xAFve \xE2\x82\xAC \xE6\x97\xA5 |"
                             "caf\xE9.txt |12") +
                         Command("row 3|Totals |reports/2026/q4.csv |1234") + Command("end");
    // Every cell on its row. With the Unicode fonts every character comes through and a
    // byte that is no UTF-8 is U+FFFD; with the standard fonts characters WinAnsi holds
    // come through and the others, and bytes that are no UTF-8, become "?".
    const struct {
        bool unicode;
        std::vector<std::string> secondRow;
    } cases[] = {
        {true,
         {"2", "Caf\xC3\xA9", "na\xC3\xAFve", "\xE2\x82\xAC", "\xE6\x97\xA5", "caf\xEF\xBF\xBD.txt",
          "12"}},
        {false, {"2", "Caf\xC3\xA9", "na\xC3\xAFve", "\xE2\x82\xAC", "?", "caf?.txt", "12"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.unicode ? "Unicode fonts" : "standard fonts");
        Environment environment;
        if (!c.unicode) environment["FONTCONFIG_FILE"] = NoFontsConfiguration(folder_);
        ChildResult result = Run(environment, script);
        ASSERT_EQ(result.exitStatus, 0) << result.err << result.out;
        ExpectSound(Output());
        std::string fonts = FontList(Output());
        EXPECT_EQ(fonts.find("DejaVuSans") != std::string::npos, c.unicode) << fonts;
        EXPECT_EQ(fonts.find("Helvetica") != std::string::npos, !c.unicode) << fonts;
        auto words = testsupport::PdfWords(Output());
        const std::vector<std::vector<std::string>> rows = {
            {"1", "Quarterly", "ledger", "ledger.txt", "3"},
            c.secondRow,
            {"3", "Totals", "reports/2026/q4.csv", "1234"}};
        for (const auto& row : rows) {
            const PdfWord* start = FindWord(words, 1, row[1]);
            ASSERT_NE(start, nullptr) << row[1];
            for (const std::string& cell : row) {
                bool found = false;
                for (const PdfWord& word : words)
                    found |= word.text == cell &&
                             std::fabs(word.y - start->y) < 3;  // fonts differ in depth
                EXPECT_TRUE(found) << cell << " on the row of " << row[1];
            }
        }
    }
    fs::remove(folder_ / "no-fonts.conf");

    auto sizes = testsupport::PdfPageSizes(Output());
    ASSERT_EQ(sizes.size(), 1u);
    EXPECT_EQ(sizes[0].width, 612);
    EXPECT_EQ(sizes[0].height, 792);
    ASSERT_EQ(Run({}, script).exitStatus, 0);
    auto words = testsupport::PdfWords(Output());
    std::string text = testsupport::PdfPageText(words, 1);
    for (const char* expected :
         {"Corvantix File List Production Time: Tuesday, November 14, 2023 - 22:13:20 (UTC)",
          "Seq. Description", "Page 1"})
        EXPECT_NE(text.find(expected), std::string::npos) << expected << "\n" << text;

    // Columns in proportion to their widths: 592 points for 150 units, from x = 15.
    const double unit = 592.0 / 150;
    const PdfWord* description = FindWord(words, 1, "Description");
    ASSERT_NE(description, nullptr);
    EXPECT_NEAR(description->x, 15 + 6 * unit, 0.5);
    const PdfWord* fileName = FindWord(words, 1, "ledger.txt");
    ASSERT_NE(fileName, nullptr);
    EXPECT_NEAR(fileName->x, 15 + 46 * unit, 0.5);
    // Right-aligned cells end 5 points before their column does; the generation column
    // is a plain count here, so 1234 is not grouped.
    const PdfWord* seq = FindWord(words, 1, "Seq.");
    ASSERT_NE(seq, nullptr);
    EXPECT_NEAR(seq->right, 15 + 6 * unit - 5, 0.5);
    const PdfWord* generation = FindWord(words, 1, "1234");
    ASSERT_NE(generation, nullptr);
    EXPECT_NEAR(generation->right, 602, 0.5);
    // The first row's text stands 3 points above its band.
    const PdfWord* first = FindWord(words, 1, "Quarterly");
    ASSERT_NE(first, nullptr);
    EXPECT_NEAR(first->y, kRowOneY + 3, 3.0);

    // Only the document is left in the folder: no hidden file of the save.
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder_.Path()))
        names.push_back(entry.path().filename());
    EXPECT_EQ(names, std::vector<std::string>{"report.pdf"});
}

TEST_F(PdfReport, APageTakesExactlyItsRowsAndEveryOtherRowIsBanded) {
    ChildResult result = Run({}, Command(std::string("section ") + kTitle) +
                                     Rows(1, kRowsPerLetterPage + 1) + Command("end"));
    ASSERT_EQ(result.exitStatus, 0) << result.err;
    ExpectSound(Output());
    auto words = testsupport::PdfWords(Output());
    EXPECT_EQ(testsupport::PdfPageSizes(Output()).size(), 2u);
    const PdfWord* first = FindWord(words, 1, "file-1.dat");
    const PdfWord* last = FindWord(words, 1, "file-52.dat");
    const PdfWord* next = FindWord(words, 2, "file-53.dat");
    ASSERT_TRUE(first != nullptr && last != nullptr && next != nullptr);
    EXPECT_NEAR(last->y, first->y - 51 * 12, 0.5);
    EXPECT_NEAR(next->y, first->y, 0.5) << "row 53 takes the first place of page 2";
    EXPECT_EQ(FindWord(words, 1, "file-53.dat"), nullptr);

    Raster page = Render(Output(), 1);
    for (int row : {1, 2, 3, 4, 52}) {
        int grey = row % 2 == 0 ? 250 : 255;  // light band 0.98 on even rows
        EXPECT_EQ(page.At(12, kRowOneY - (row - 1) * 12 + 6), std::vector<int>(3, grey))
            << "row " << row;
    }
    // The heading band is grey 0.8.
    EXPECT_EQ(page.At(12, kRowOneY + 18), std::vector<int>(3, 204));
}

TEST_F(PdfReport, HeadingBarsNeverTakeTheLastRowOfAPage) {
    // After 51 rows the next place is the page's last: the bar moves to the next page.
    std::string script = Command(std::string("section ") + kTitle) +
                         Rows(1, kRowsPerLetterPage - 1) + Command("heading Totals") +
                         Rows(60, 60) + Command("end") + Command("section Second") +
                         Command("heading Opening") + Rows(70, 70) + Command("end");
    ChildResult result = Run({}, script);
    ASSERT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(testsupport::QpdfProblems(Output()), "");
    auto words = testsupport::PdfWords(Output());
    const PdfWord* first = FindWord(words, 1, "file-1.dat");
    const PdfWord* totals = FindWord(words, 2, "Totals");
    const PdfWord* after = FindWord(words, 2, "file-60.dat");
    ASSERT_TRUE(first != nullptr && totals != nullptr && after != nullptr);
    EXPECT_NEAR(totals->y, first->y, 0.5);
    EXPECT_NEAR(after->y, first->y - 12, 0.5);
    // A bar that opens a page leaves the first row empty and takes the second.
    const PdfWord* opening = FindWord(words, 3, "Opening");
    const PdfWord* row = FindWord(words, 3, "file-70.dat");
    ASSERT_TRUE(opening != nullptr && row != nullptr);
    EXPECT_NEAR(opening->y, first->y - 12, 0.5);
    EXPECT_NEAR(row->y, first->y - 24, 0.5);
    // The bar is centred on half the usable width.
    EXPECT_NEAR((totals->x + totals->right) / 2, 296, 1.0);
}

TEST_F(PdfReport, AnEmptyTableStillGivesAPageAReaderOpens) {
    std::string script = Command(std::string("section ") + kTitle) + Command("end");
    ChildResult result = Run({{"ZYMBPDFBLANKPAGETEXT", "No files today"}}, script);
    ASSERT_EQ(result.exitStatus, 0) << result.err;
    ExpectSound(Output());
    auto words = testsupport::PdfWords(Output());
    EXPECT_NE(testsupport::PdfPageText(words, 1).find("No files today"), std::string::npos);
    const PdfWord* no = FindWord(words, 1, "No");
    const PdfWord* today = FindWord(words, 1, "today");
    ASSERT_TRUE(no != nullptr && today != nullptr);
    EXPECT_NEAR((no->x + today->right) / 2, 10 + 592 / 2.0, 1.0);
    EXPECT_EQ(Render(Output(), 1).At(12, (792 - 30) / 2.0 + 2), std::vector<int>(3, 204));

    // Without the text the page carries only its heading and footer.
    result = Run({}, script);
    ASSERT_EQ(result.exitStatus, 0) << result.err;
    ExpectSound(Output());
    EXPECT_EQ(testsupport::PdfPageSizes(Output()).size(), 1u);
    std::string text = testsupport::PdfPageText(testsupport::PdfWords(Output()), 1);
    EXPECT_NE(text.find("Page 1"), std::string::npos) << text;
    EXPECT_EQ(text.find("No files"), std::string::npos) << text;
}

TEST_F(PdfReport, OrientationAndPageSizeByNameInAnyCase) {
    const struct {
        Environment environment;
        double width, height;
    } cases[] = {
        {{}, 612, 792},
        {{{"ZYMBPDFPAGESIZE", "a4"}}, 595.276, 841.89},
        {{{"ZYMBPDFPAGESIZE", "A6"}}, 612, 792},  // unknown: letter
        {{{"ZYMBPDFPAGESIZE", "Legal"}, {"ZYMBPDFORIENTATION", "LANDSCAPE"}}, 1008, 612},
        {{{"ZYMBPDFPAGESIZE", "executive"}, {"ZYMBPDFORIENTATION", "land"}}, 522, 756},
        {{{"ZYMBPDFPAGESIZE", "A5"}, {"ZYMBPDFORIENTATION", "landscape"}}, 595.276, 419.528},
    };
    std::string script = Command(std::string("section ") + kTitle) + Rows(1, 40) + Command("end");
    for (const auto& c : cases) {
        ChildResult result = Run(c.environment, script);
        ASSERT_EQ(result.exitStatus, 0) << result.err;
        auto sizes = testsupport::PdfPageSizes(Output());
        ASSERT_FALSE(sizes.empty());
        EXPECT_NEAR(sizes[0].width, c.width, 0.01);
        EXPECT_NEAR(sizes[0].height, c.height, 0.01);
        // Every row is somewhere, on however many pages the size gives.
        auto words = testsupport::PdfWords(Output());
        for (int row : {1, 40}) {
            bool found = false;
            for (const PdfWord& word : words)
                found |= word.text == "file-" + std::to_string(row) + ".dat";
            EXPECT_TRUE(found) << row;
        }
        EXPECT_EQ(testsupport::QpdfProblems(Output()), "");
    }
}

TEST_F(PdfReport, TitleBandColourAndLogo) {
    // A JPEG logo made by a reader from a page of a document.
    ASSERT_EQ(Run({}, Command(std::string("section ") + kTitle) + Command("end")).exitStatus, 0);
    std::string jpeg = folder_ / "logo";
    ASSERT_EQ(
        testsupport::RunProgram(testsupport::FindProgram("pdftoppm"),
                                {.arguments = {"-r", "20", "-jpeg", "-singlefile", Output(), jpeg}})
            .exitStatus,
        0);
    jpeg += ".jpg";
    std::string notJpeg = folder_ / "logo.png";
    testsupport::WriteFile(notJpeg, "\x89PNG\r\n\x1a\n not really");

    const struct {
        Environment environment;
        std::vector<int> band;  // the colour at the left end of the title band
        double titleX;          // where the title begins
    } cases[] = {
        {{}, {0, 0, 128}, 20},
        {{{"ZYMBPDFCOLORHDR", "800000"}}, {128, 0, 0}, 20},
        {{{"ZYMBPDFCOLORHDR", "80000"}}, {0, 0, 128}, 20},
        {{{"ZYMBPDFCOLORHDR", "+80000"}}, {0, 0, 128}, 20},
        {{{"ZYMBPDFCOLORHDR", "zz0000"}}, {0, 0, 128}, 20},
        // A logo that is no JPEG: no logo, and the band starts at the margin.
        {{{"ZYMBPDFLOGOPATH", notJpeg}}, {0, 0, 128}, 20},
        {{{"ZYMBPDFLOGOPATH", jpeg}, {"ZYMBPDFCOLORHDR", "008000"}}, {}, 10 + 158 + 20 + 10},
    };
    for (const auto& c : cases) {
        ChildResult result = Run(
            c.environment, Command(std::string("section ") + kTitle) + Rows(1, 2) + Command("end"));
        ASSERT_EQ(result.exitStatus, 0) << result.err;
        ExpectSound(Output());
        Raster page = Render(Output(), 1);
        if (!c.band.empty()) {
            EXPECT_EQ(page.At(12, 792 - 30 - 15), c.band);
        }
        auto words = testsupport::PdfWords(Output());
        const PdfWord* title = FindWord(words, 1, "Corvantix");
        ASSERT_NE(title, nullptr);
        EXPECT_NEAR(title->x, c.titleX, 1.0);
        if (c.environment.contains("ZYMBPDFLOGOPATH") && c.band.empty()) {
            EXPECT_EQ(page.At(10 + 158 + 20 + 2, 792 - 30 - 15), (std::vector<int>{0, 128, 0}));
            EXPECT_EQ(result.out, "");
            EXPECT_EQ(result.err.find("PDF logo"), std::string::npos) << result.err;
        }
        // A logo that cannot be used is named once, with the reason, on the log (standard
        // error for the driver); nothing of the library's reaches standard output.
        if (c.environment.contains("ZYMBPDFLOGOPATH") && !c.band.empty()) {
            EXPECT_EQ(result.out, "");
            EXPECT_EQ(
                result.err.rfind("PDF logo " + notJpeg + " not used: it is not a JPEG image\n" +
                                     "PDF report saved to ",
                                 0),
                0u)
                << result.err;
        }
    }
}

TEST_F(PdfReport, BookmarksForTitlesWithTheirNotesBeneath) {
    // Two sections with one title share a bookmark; every section's notes (empty ones
    // too) are a bookmark under it, leading to the first page begun after the section.
    std::string script = Command("section Monthly") + Rows(1, 60) + Command("end") +
                         Command("section Monthly") + Rows(61, 62) + Command("end") +
                         Command("section Yearly") + Rows(63, 63) + Command("end");
    ChildResult result = Run({}, script);
    ASSERT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(testsupport::QpdfProblems(Output()), "");
    auto outline = testsupport::PdfOutline(Output());
    ASSERT_EQ(outline.size(), 2u);
    EXPECT_EQ(outline[0].title, "Monthly");
    EXPECT_EQ(outline[0].page, 1);
    ASSERT_EQ(outline[0].children.size(), 2u);
    EXPECT_EQ(outline[0].children[0].page, 1);
    EXPECT_EQ(outline[0].children[1].page, 3);
    EXPECT_EQ(outline[1].title, "Yearly");
    EXPECT_EQ(outline[1].page, 4);
    ASSERT_EQ(outline[1].children.size(), 1u);
    auto qr = testsupport::PdfQrTexts(Output());
    ASSERT_EQ(qr.size(), 4u);
    EXPECT_EQ(qr[2], std::vector<std::string>{Qr(3, "Monthly")});
    EXPECT_EQ(qr[3], std::vector<std::string>{Qr(4, "Yearly")});

    // Titles in UTF-8 keep their letters in the outline and in the QR symbol.
    result = Run({{"ZYMBREPORTTITLE", "R\xC3\xA9sum\xC3\xA9 \xE2\x80\x93 \xE6\x97\xA5"}},
                 Command("section x") + Rows(1, 1) + Command("end"));
    ASSERT_EQ(result.exitStatus, 0) << result.err;
    outline = testsupport::PdfOutline(Output());
    ASSERT_EQ(outline.size(), 1u);
    EXPECT_EQ(outline[0].title, "R\xC3\xA9sum\xC3\xA9 \xE2\x80\x93 \xE6\x97\xA5");
    EXPECT_EQ(testsupport::PdfQrTexts(Output())[0],
              std::vector<std::string>{Qr(1, "R\xC3\xA9sum\xC3\xA9 \xE2\x80\x93 \xE6\x97\xA5")});
}

TEST_F(PdfReport, FooterShowsTheReportIdOnItsFirstPageOnly) {
    ChildResult result =
        Run({}, Command(std::string("section ") + kTitle) + Rows(1, 60) + Command("end"),
            {"--id", "7"});
    ASSERT_EQ(result.exitStatus, 0) << result.err;
    auto words = testsupport::PdfWords(Output());
    std::string first = testsupport::PdfPageText(words, 1),
                second = testsupport::PdfPageText(words, 2);
    EXPECT_NE(first.find("Report-ID 007"), std::string::npos) << first;
    EXPECT_EQ(second.find("Report-ID"), std::string::npos) << second;
    for (const std::string& text : {first, second})
        EXPECT_NE(text.find("Brindlemoor. All rights reserved."), std::string::npos) << text;
    // "Page 2" ends at the right margin, in the footer below the rule.
    bool pageNumber = false;
    for (const PdfWord& word : words)
        pageNumber |=
            word.page == 2 && word.text == "2" && word.y < 30 && std::fabs(word.right - 602) < 0.5;
    EXPECT_TRUE(pageNumber);
}

TEST_F(PdfReport, AFailedSaveIsAFailureAndLeavesNoFile) {
    std::string script = Command(std::string("section ") + kTitle) + Rows(1, 3) + Command("end");
    ChildResult result = Run({{"ZYMBPDFOUTPUTPATH", folder_ / "missing/report.pdf"}}, script);
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_NE(result.err.find("Save of the PDF report to " + folder_ / "missing/report.pdf" +
                              " failed: No such file or directory"),
              std::string::npos)
        << result.err;

    // A folder in the way of the name: the rename fails and the hidden file goes.
    fs::create_directory(folder_ / "taken.pdf");
    result = Run({{"ZYMBPDFOUTPUTPATH", folder_ / "taken.pdf"}}, script);
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_NE(result.err.find("failed: Is a directory"), std::string::npos) << result.err;
    size_t entries = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(folder_.Path())) ++entries;
    EXPECT_EQ(entries, 1u) << "only the folder in the way";
}

TEST_F(PdfReport, UnderAWebServerTheDocumentFollowsItsLength) {
    std::string notJpeg = folder_ / "logo.txt";
    testsupport::WriteFile(notJpeg, "not an image");
    ChildResult result =
        Run({{"REQUEST_URI", "/cgi-bin/list"},
             {"REQUEST_METHOD", "GET"},
             {"QUERY_STRING", "RPT=pdf"},
             {"ZYMBPDFLOGOPATH", notJpeg}},
            Command(std::string("section ") + kTitle) + Rows(1, 3) + Command("end"));
    ASSERT_EQ(result.exitStatus, 0) << result.err;
    const std::string head =
        "Content-type: application/pdf\r\n"
        "Content-disposition: attachment; filename=\"" +
        Output() +
        "\"\r\n"
        "Content-Length: ";
    ASSERT_EQ(result.out.substr(0, head.size()), head);
    size_t end = result.out.find("\n\r\n", head.size());
    ASSERT_NE(end, std::string::npos);
    size_t length = std::stoul(result.out.substr(head.size(), end - head.size()));
    std::string body = result.out.substr(end + 3);
    EXPECT_EQ(body.size(), length);
    EXPECT_TRUE(body.starts_with("%PDF-"));
    // What is wrong with the logo goes to the server's log, not into the body.
    EXPECT_EQ(result.err, "PDF logo " + notJpeg + " not used: it is not a JPEG image\n");
    EXPECT_FALSE(fs::exists(Output())) << "nothing is written to a file";
    testsupport::WriteFile(folder_ / "body.pdf", body);
    ExpectSound(folder_ / "body.pdf");
}

// A report whose parent is another report adds its pages to the parent's document and
// numbering; only the parent's close saves it.
TEST_F(PdfReport, AChildReportSharesItsParentsDocument) {
    setenv("ZYMBREPORTFORMAT", "pdf", 1);
    setenv("ZYMBPDFOUTPUTPATH", Output().c_str(), 1);
    setenv("TZ", "UTC", 1);
    tzset();
    Report parent, child;
    Report_Init(&parent);
    Report_Init(&child);
    unsetenv("ZYMBREPORTFORMAT");
    child.parent = &parent;
    parent.creationTime = child.creationTime = atoll(kTime);
    for (Report* report : {&parent, &child}) {
        Report_AddColumn(report, 10, "Name", 0);
        Report_AddColumn(report, 5, "Size", COLUMN_RIGHT | COLUMN_NUMBER);
    }
    Report_BeginSection(&parent, nullptr, "Parent", nullptr);
    for (int i = 0; i < 60; ++i) Report_WriteRow(&parent, "parent-%d|%d", i, i * 1000);
    Report_EndTable(&parent);
    Report_BeginSection(&child, nullptr, "Child", nullptr);
    Report_WriteRow(&child, "child-row|1234567");
    Report_EndTable(&child);
    Report_Close(&child);
    EXPECT_FALSE(fs::exists(Output())) << "the child's close saves nothing";
    Report_Close(&parent);
    unsetenv("ZYMBPDFOUTPUTPATH");
    EXPECT_EQ(parent.saveResult, 0);

    EXPECT_EQ(testsupport::QpdfProblems(Output()), "");
    auto words = testsupport::PdfWords(Output());
    EXPECT_NE(FindWord(words, 3, "child-row"), nullptr);
    EXPECT_NE(FindWord(words, 3, "1,234,567"), nullptr) << "a number column groups its digits";
    EXPECT_NE(FindWord(words, 3, "3"), nullptr) << "page 3 of the shared numbering";
    auto outline = testsupport::PdfOutline(Output());
    ASSERT_EQ(outline.size(), 2u);
    EXPECT_EQ(outline[1].title, "Child");
    EXPECT_EQ(outline[1].page, 3);
}

TEST(PdfText, Utf8BecomesWinAnsiOrQuestionMarks) {
    const struct {
        std::string utf8, shown;
    } cases[] = {
        {"plain ASCII |[]", "plain ASCII |[]"},
        {"caf\xC3\xA9 \xC3\x9F \xC3\xBF", "caf\xE9 \xDF \xFF"},  // Latin-1 letters
        {"\xE2\x82\xAC \xE2\x80\x9C\xE2\x80\x9D \xC5\xB8 \xE2\x84\xA2", "\x80 \x93\x94 \x9F \x99"},
        {"\xE6\x97\xA5\xE6\x9C\xAC", "??"},   // outside the encoding
        {"\xF0\x9F\x98\x80", "?"},            // one character, four bytes
        {"caf\xE9.txt", "caf?.txt"},          // Latin-1 bytes are no UTF-8
        {"\xC0\xAF \xED\xA0\x80", "?? ???"},  // overlong form, surrogate
        {"tab\there\x7F", "tab?here?"},       // control characters
        {"\xC2\x81 \xC2\xA0", "? \xA0"},      // C1 control; no-break space
    };
    for (const auto& c : cases) EXPECT_EQ(ToWinAnsi(c.utf8), c.shown) << c.utf8;
}

}  // namespace
