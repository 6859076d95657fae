// The workbook writer: text conversion, sheet names, sheet limits, saving without
// leaving half a file, and every workbook read back cell for cell by Python's xlrd.
#include "report/xls/xls_book.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "report/xls/xls_text.h"
#include "tests/support/test_support.h"
#include "tests/support/xls_read_back.h"

namespace {

using xls::Utf16FromUtf8;

struct BookOwner {
    XlsBook* book = XlsBook_Create();
    ~BookOwner() { XlsBook_Release(book); }
};

TEST(XlsText, Utf8BecomesUtf16WithReplacementsAndCharacterCuts) {
    struct Case {
        std::string utf8;
        size_t maxUnits;
        std::u16string utf16;
    } cases[] = {
        {"plain", 100, u"plain"},
        {"caf\xC3\xA9 \xE2\x82\xAC", 100, u"caf\u00E9 \u20AC"},
        {"\xF0\x9F\x98\x80!", 100, u"\U0001F600!"},
        {"caf\xE9", 100, u"caf\uFFFD"},        // Latin-1, not UTF-8
        {"cut \xE2\x82", 100, u"cut \uFFFD"},  // one replacement for the cut piece
        {"\xE2\x82"
         "A",
         100, u"\uFFFDA"},
        {"\xC0\xAF|\xED\xA0\x80", 100, u"\uFFFD\uFFFD|\uFFFD\uFFFD\uFFFD"},  // overlong, surrogate
        {"\xF4\x90\x80\x80", 100, u"\uFFFD\uFFFD\uFFFD\uFFFD"},              // past U+10FFFF
        {"\x80\xFF", 100, u"\uFFFD\uFFFD"},
        {"abcdef", 4, u"abcd"},
        {"ab\xE2\x82\xAC", 3, u"ab\u20AC"},
        {"abc\xF0\x9F\x98\x80", 4, u"abc"},  // a pair is never split
        {"abc\xF0\x9F\x98\x80", 5, u"abc\U0001F600"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Utf16FromUtf8(c.utf8, c.maxUnits), c.utf16) << c.utf8 << " / " << c.maxUnits;
}

TEST(XlsText, PackedOneByteACharacterWhenEveryCharacterFits) {
    EXPECT_EQ(xls::PackText(u"Ab\u00E9"), std::string("\x03\x00\x00"
                                                      "Ab\xE9",
                                                      6));
    EXPECT_EQ(xls::PackText(u"A\u20AC"), std::string("\x02\x00\x01"
                                                     "A\x00\xAC\x20",
                                                     7));
    EXPECT_EQ(xls::PackShortText(u"Arial"), std::string("\x05\x00"
                                                        "Arial",
                                                        7));
}

TEST(XlsBook, RefusesSheetNamesTheFormatCannotHold) {
    BookOwner owner;
    ASSERT_NE(XlsBook_AddSheet(owner.book, "Report 0 1804289383"), nullptr);
    EXPECT_STREQ(XlsBook_ErrorMessage(owner.book), "");
    struct Case {
        const char* name;
        const char* error;
    } cases[] = {
        {"", "a sheet name cannot be empty"},
        {"report 0 1804289383", "a sheet named \"Report 0 1804289383\" already exists"},
        {"0123456789012345678901234567890x",
         "sheet name \"0123456789012345678901234567890x\" is longer than 31 characters"},
        {"a/b", nullptr},
        {"a[1]", nullptr},
        {"what?", nullptr},
        {"'quoted'", nullptr},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(XlsBook_AddSheet(owner.book, c.name), nullptr) << c.name;
        std::string error = XlsBook_ErrorMessage(owner.book);
        if (c.error != nullptr)
            EXPECT_EQ(error, c.error);
        else
            EXPECT_NE(error.find("a sheet name cannot hold"), std::string::npos) << error;
    }
    // 31 characters, some of them outside ASCII, are fine.
    EXPECT_NE(XlsBook_AddSheet(owner.book,
                               "\xC3\x9C"
                               "123456789012345678901234567890"),
              nullptr);
}

TEST(XlsBook, CellsStayWithinTheSheet) {
    BookOwner owner;
    XlsSheet* sheet = XlsBook_AddSheet(owner.book, "limits");
    EXPECT_EQ(XlsSheet_WriteText(sheet, XLS_MAX_ROWS - 1, XLS_MAX_COLUMNS - 1, "last"), 1);
    EXPECT_EQ(XlsSheet_WriteNumber(sheet, XLS_MAX_ROWS - 1, 0, 1), 1);
    EXPECT_EQ(XlsSheet_WriteText(sheet, XLS_MAX_ROWS, 0, "beyond"), 0);
    EXPECT_STREQ(XlsBook_ErrorMessage(owner.book),
                 "row 65536 is past the last row of a sheet (65535)");
    EXPECT_EQ(XlsSheet_WriteNumber(sheet, 0, XLS_MAX_COLUMNS, 2), 0);
    EXPECT_STREQ(XlsBook_ErrorMessage(owner.book),
                 "column 256 is past the last column of a sheet (255)");
}

// ---- Read back by xlrd ---------------------------------------------------------------

class XlsReadBack : public testing::Test {
  protected:
    void SetUp() override {
        if (xlsreadback::ReaderInstalled()) return;
        if (testsupport::PeersRequired()) FAIL() << "python3 with xlrd is not installed";
        GTEST_SKIP() << "python3 with xlrd is not installed";
    }
    testsupport::TempDir folder_;
};

// Texts of every length around the record size, one byte and two bytes a character, so
// that strings start, end and break at every kind of place in the continuation records.
std::vector<std::string> ManyTexts() {
    std::vector<std::string> texts;
    for (int i = 0; i < 600; ++i) {
        size_t length = (i * 97) % 5000;
        std::string text;
        for (size_t k = 0; k < length; ++k)
            text += i % 3 == 0 ? std::string("\xE2\x82\xAC") : std::string(1, 'a' + (k + i) % 26);
        texts.push_back(text);
    }
    return texts;
}

TEST_F(XlsReadBack, EveryCellComesBackWithItsTypeAndValue) {
    BookOwner owner;
    XlsSheet* first = XlsBook_AddSheet(owner.book,
                                       "\xC3\x9C"
                                       "bersicht \xE2\x82\xAC");
    XlsSheet* second = XlsBook_AddSheet(owner.book, "Report 7 846930886");
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    const std::vector<std::string> texts = ManyTexts();
    for (size_t i = 0; i < texts.size(); ++i)
        ASSERT_EQ(XlsSheet_WriteText(first, static_cast<uint32_t>(i), 0, texts[i].c_str()), 1);
    const double numbers[] = {0, 1, -1.5, 1234567, 9007199254740992.0, 1e-300};
    for (size_t i = 0; i < std::size(numbers); ++i)
        XlsSheet_WriteNumber(first, static_cast<uint32_t>(i), 1, numbers[i]);
    XlsSheet_WriteText(second, 0, 0, "first value");
    XlsSheet_WriteText(second, 0, 0, "replaced");  // the later write wins
    XlsSheet_WriteText(second, 3, 2, "caf\xC3\xA9 \xF0\x9F\x98\x80 caf\xE9");
    XlsSheet_WriteText(second, 4, 0, std::string(40000, 'x').c_str());
    XlsSheet_WriteText(second, 65535, 255, "far corner");

    std::string path = folder_ / "book.xls";
    ASSERT_EQ(XlsBook_SaveToFile(owner.book, path.c_str()), 1) << XlsBook_ErrorMessage(owner.book);
    xlsreadback::Book book = xlsreadback::Read(path);
    ASSERT_TRUE(book.read) << book.error;
    ASSERT_EQ(book.sheets.size(), 2u);
    EXPECT_EQ(book.sheets[0].name,
              "\xC3\x9C"
              "bersicht \xE2\x82\xAC");
    EXPECT_EQ(book.sheets[1].name, "Report 7 846930886");

    const xlsreadback::Sheet& sheet = book.sheets[0];
    for (size_t i = 0; i < texts.size(); ++i) {
        const xlsreadback::Cell* cell = sheet.At(static_cast<int>(i), 0);
        if (texts[i].empty()) continue;  // an empty text reads as an empty cell
        ASSERT_NE(cell, nullptr) << "row " << i;
        EXPECT_FALSE(cell->number);
        EXPECT_EQ(cell->text, texts[i]) << "row " << i << ", " << texts[i].size() << " bytes";
    }
    for (size_t i = 0; i < std::size(numbers); ++i) {
        const xlsreadback::Cell* cell = sheet.At(static_cast<int>(i), 1);
        ASSERT_NE(cell, nullptr);
        EXPECT_TRUE(cell->number);
        EXPECT_EQ(cell->value, numbers[i]);
    }

    const xlsreadback::Sheet& other = book.sheets[1];
    EXPECT_EQ(other.rows, 65536);
    EXPECT_EQ(other.columns, 256);
    EXPECT_EQ(other.Text(0, 0), "replaced");
    EXPECT_EQ(other.Text(3, 2), "caf\xC3\xA9 \xF0\x9F\x98\x80 caf\xEF\xBF\xBD");
    EXPECT_EQ(other.Text(4, 0), std::string(XLS_MAX_TEXT, 'x'));
    EXPECT_EQ(other.Text(65535, 255), "far corner");
}

TEST_F(XlsReadBack, SavedToMemoryItIsTheSameWorkbook) {
    BookOwner owner;
    XlsSheet* sheet = XlsBook_AddSheet(owner.book, "one");
    XlsSheet_WriteText(sheet, 0, 0, "Seq.");
    XlsSheet_WriteNumber(sheet, 1, 0, 42);
    const char* bytes = nullptr;
    uint32_t size = 0;
    ASSERT_EQ(XlsBook_SaveToMemory(owner.book, &bytes, &size), 1);
    std::string saved(bytes, size);
    EXPECT_EQ(saved.substr(0, 8), "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1");  // a compound document
    xlsreadback::Book book = xlsreadback::Read("", saved);
    ASSERT_TRUE(book.read) << book.error;
    ASSERT_EQ(book.sheets.size(), 1u);
    EXPECT_EQ(book.sheets[0].Text(0, 0), "Seq.");
    ASSERT_NE(book.sheets[0].At(1, 0), nullptr);
    EXPECT_EQ(book.sheets[0].At(1, 0)->value, 42);

    // An empty book still opens: it gets one empty sheet.
    BookOwner empty;
    ASSERT_EQ(XlsBook_SaveToMemory(empty.book, &bytes, &size), 1);
    book = xlsreadback::Read("", std::string(bytes, size));
    ASSERT_TRUE(book.read) << book.error;
    ASSERT_EQ(book.sheets.size(), 1u);
    EXPECT_EQ(book.sheets[0].rows, 0);
}

// Column widths, bold text and frozen rows as xlrd reads them with the formatting; a
// second sheet keeps its own, and a sheet without them has none.
TEST_F(XlsReadBack, WidthsBoldTextAndFrozenRows) {
    BookOwner owner;
    XlsSheet* first = XlsBook_AddSheet(owner.book, "Κατάλογος");
    XlsSheet* second = XlsBook_AddSheet(owner.book, "plain");
    EXPECT_EQ(XlsSheet_SetColumnWidth(first, 0, 7), 1);
    EXPECT_EQ(XlsSheet_SetColumnWidth(first, 2, 101.5), 1);
    EXPECT_EQ(XlsSheet_SetColumnWidth(first, 3, 1000), 1);  // no wider than 255
    EXPECT_EQ(XlsSheet_SetColumnWidth(first, XLS_MAX_COLUMNS, 5), 0);
    EXPECT_STREQ(XlsBook_ErrorMessage(owner.book),
                 "column 256 is past the last column of a sheet (255)");
    EXPECT_EQ(XlsSheet_FreezeRows(first, 1), 1);
    EXPECT_EQ(XlsSheet_FreezeRows(second, XLS_MAX_ROWS), 0);
    XlsSheet_WriteText(first, 0, 0, "Имя", XLS_BOLD);
    XlsSheet_WriteText(first, 0, 2, "名前", XLS_BOLD);
    XlsSheet_WriteText(first, 1, 0, "Müller");
    XlsSheet_WriteNumber(first, 1, 2, 3);
    XlsSheet_WriteText(second, 0, 0, "plain");
    std::string path = folder_ / "layout.xls";
    ASSERT_EQ(XlsBook_SaveToFile(owner.book, path.c_str()), 1) << XlsBook_ErrorMessage(owner.book);
    xlsreadback::Book book = xlsreadback::Read(path);
    ASSERT_TRUE(book.read) << book.error;
    ASSERT_EQ(book.sheets.size(), 2u);
    const xlsreadback::Sheet& sheet = book.sheets[0];
    EXPECT_EQ(sheet.columnWidths, (std::map<int, double>{{0, 7}, {2, 101.5}, {3, 255}}));
    EXPECT_EQ(sheet.bold, (std::set<std::pair<int, int>>{{0, 0}, {0, 2}}));
    EXPECT_EQ(sheet.frozenRows, 1);
    EXPECT_EQ(sheet.frozenColumns, 0);
    EXPECT_EQ(sheet.Text(0, 2), "名前");
    EXPECT_EQ(sheet.Text(1, 0), "Müller");
    EXPECT_TRUE(book.sheets[1].columnWidths.empty());
    EXPECT_TRUE(book.sheets[1].bold.empty());
    EXPECT_EQ(book.sheets[1].frozenRows, 0);
}

// ---- Saving to a file -------------------------------------------------------------

std::vector<std::string> FolderEntries(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

TEST_F(XlsReadBack, ASaveReplacesTheFileWholeOrNotAtAll) {
    std::string path = folder_ / "list.xls";
    testsupport::WriteFile(path, "the previous workbook");

    BookOwner owner;
    XlsSheet* sheet = XlsBook_AddSheet(owner.book, "big");
    for (uint32_t row = 0; row < 20000; ++row)
        XlsSheet_WriteText(sheet, row, 0, "a row of text that takes some room in the file");

    // A write that fails half way (the file size limit stands in for a full disk).
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{64 * 1024, 64 * 1024};
        setrlimit(RLIMIT_FSIZE, &limit);
        int saved = XlsBook_SaveToFile(owner.book, path.c_str());
        std::string error = XlsBook_ErrorMessage(owner.book);
        _exit(saved == 0 && !error.empty() ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the save did not fail";
    EXPECT_EQ(testsupport::ReadFile(path), "the previous workbook");
    EXPECT_EQ(FolderEntries(folder_.Path()), std::vector<std::string>{"list.xls"});

    ASSERT_EQ(XlsBook_SaveToFile(owner.book, path.c_str()), 1) << XlsBook_ErrorMessage(owner.book);
    EXPECT_EQ(FolderEntries(folder_.Path()), std::vector<std::string>{"list.xls"});
    struct stat status2;
    ASSERT_EQ(stat(path.c_str(), &status2), 0);
    mode_t mask = umask(0);
    umask(mask);
    EXPECT_EQ(status2.st_mode & 0777, 0666 & ~mask) << "a new file's usual permissions";
    xlsreadback::Book book = xlsreadback::Read(path);
    ASSERT_TRUE(book.read) << book.error;
    EXPECT_EQ(book.sheets[0].rows, 20000);

    // A folder that does not exist, and a destination that is a folder.
    std::string missing = folder_ / "no/such/folder/list.xls";
    EXPECT_EQ(XlsBook_SaveToFile(owner.book, missing.c_str()), 0);
    EXPECT_NE(std::string(XlsBook_ErrorMessage(owner.book)).find("No such file or directory"),
              std::string::npos)
        << XlsBook_ErrorMessage(owner.book);
    std::filesystem::create_directory(folder_ / "taken");
    EXPECT_EQ(XlsBook_SaveToFile(owner.book, (folder_ / "taken").c_str()), 0);
    EXPECT_STREQ(XlsBook_ErrorMessage(owner.book), "Is a directory");
    EXPECT_EQ(FolderEntries(folder_.Path()), (std::vector<std::string>{"list.xls", "taken"}));
}

}  // namespace
