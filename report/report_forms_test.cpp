// The report writer as a program meets it: the test driver runs as a child with its own
// environment and standard output. The file list in each form against fixtures of its
// exact bytes; CGI header lines and the format choice; per-report variables; CSV and
// JSON read back by Python's parsers and the HTML page by a headless Chromium.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "base/utf8.h"
#include "tests/support/test_support.h"

using testsupport::ChildOptions;
using testsupport::ChildResult;

namespace {

using Environment = std::map<std::string, std::optional<std::string>>;

const char* kFileListTime = "1700000000";  // Tuesday, November 14, 2023 - 22:13:20 (UTC)

std::string SourcePath(const std::string& relative) {
    const char* root = getenv("ZYMB_SOURCE_DIR");
    return std::string(root != nullptr ? root : ".") + "/" + relative;
}

// The child's environment: UTC, none of the report variables of the caller's shell,
// then the test's own.
Environment ReportEnvironment(const Environment& changes) {
    Environment environment = {{"TZ", "UTC"}};
    for (const char* name :
         {"REQUEST_URI", "REQUEST_METHOD", "QUERY_STRING", "CONTENT_LENGTH", "ZYMBREPORTFORMAT",
          "ZYMBREPORTCOLUMNDELETE", "ZYMBCSVNOHEADER", "ZYMBREPORTHTMLLOGO", "ZYMBREPORTTITLE",
          "ZYMBDROPREPORT007", "ZYMBREPORTTITLE007", "ZYMBREPORTCOLUMNDELETE007",
          "ZYMBPDFOUTPUTPATH", "ZYMBEXCELOUTPUTPATH", "ZYMBPROGRESSDISABLE"})
        environment[name] = std::nullopt;
    for (const auto& [name, value] : changes) environment[name] = value;
    return environment;
}

struct FileEntry {
    unsigned sequence;
    std::string description;
    std::string name;
    unsigned generation;
};

// One row as the download program's list writes it: a blank after each text so that an
// empty text does not vanish. The texts are not cut here, so the writer's cuts show.
std::string RowCommand(const FileEntry& entry) {
    return "row " + std::to_string(entry.sequence) + "|" + entry.description + " |" + entry.name +
           " |" + std::to_string(entry.generation);
}

std::string Script(const std::string& title, const std::vector<FileEntry>& entries) {
    std::string script = "section " + title + '\0';
    for (const FileEntry& entry : entries) script += RowCommand(entry) + '\0';
    return script + "end" + '\0';
}

const std::vector<std::string> kFileListColumns = {
    "--indent", "1", "6r:Seq.", "40:Description", "100:File Name", "4r:Gen."};

ChildResult RunDriver(const Environment& changes, const std::string& input,
                      std::vector<std::string> arguments = {}) {
    ChildOptions options;
    options.arguments = {"--now", kFileListTime};
    options.arguments.insert(options.arguments.end(), arguments.begin(), arguments.end());
    options.arguments.insert(options.arguments.end(), kFileListColumns.begin(),
                             kFileListColumns.end());
    options.environment = ReportEnvironment(changes);
    options.input = input;
    ChildResult result = testsupport::RunProgram(REPORT_DRIVER, options);
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    return result;
}

const std::vector<FileEntry> kFileList = {
    {1, "Monthly statistics", "stats/2024-01.csv", 3},
    {2, "Quarterly figures for the board, draft 2", "board/q3-figures.xlsx", 1},
    {3, "Quarterly figures for the board, draft 12", "board/q3-figures-v12.xlsx", 2},
    {4, "Invoices", "invoices/Q1, \"final\".pdf", 12},
};

// ---- The file list in each form, byte for byte ------------------------------------

struct FixtureCase {
    const char* format;
    const char* fixture;
    Environment environment;
};

class FileListFixture : public testing::TestWithParam<FixtureCase> {};

TEST_P(FileListFixture, MatchesItsFixtureByteForByte) {
    const FixtureCase& c = GetParam();
    Environment environment = c.environment;
    environment["ZYMBREPORTFORMAT"] = c.format;
    ChildResult result = RunDriver(environment, Script("Corvantix File List", kFileList));
    std::string expected =
        testsupport::ReadFile(SourcePath(std::string("report/testdata/") + c.fixture));
    ASSERT_FALSE(expected.empty()) << "fixture missing: " << c.fixture;
    EXPECT_EQ(result.out, expected);
}

const Environment kHiddenAndRetitled = {{"ZYMBREPORTCOLUMNDELETE", "2"},
                                        {"ZYMBREPORTTITLE", "Nightly Transfer Files"}};

INSTANTIATE_TEST_SUITE_P(
    Forms, FileListFixture,
    testing::Values(FixtureCase{"text", "file_list.txt", {}},
                    FixtureCase{"csv", "file_list.csv", {}},
                    FixtureCase{"html", "file_list.html", {}},
                    FixtureCase{"json", "file_list.json", {}},
                    FixtureCase{"text", "file_list_hidden.txt", kHiddenAndRetitled},
                    FixtureCase{"csv", "file_list_hidden.csv", kHiddenAndRetitled},
                    FixtureCase{"html", "file_list_hidden.html", kHiddenAndRetitled},
                    FixtureCase{"json", "file_list_hidden.json", kHiddenAndRetitled}),
    [](const testing::TestParamInfo<FixtureCase>& info) {
        std::string name = info.param.fixture;
        for (char& c : name)
            if (c == '.') c = '_';
        return name;
    });

// ---- Format choice and CGI header lines -------------------------------------------

TEST(FormatChoice, NamesAreWholeAndIgnoreCase) {
    struct Case {
        std::optional<std::string> name;
        int format;
    } cases[] = {{"text", 0}, {"csv", 2},  {"HTML", 3}, {"PDF", 4}, {"Excel", 5},
                 {"json", 6}, {"pdfx", 0}, {"pd", 0},   {"", 0},    {std::nullopt, 0}};
    for (const Case& c : cases) {
        ChildResult result = RunDriver({{"ZYMBREPORTFORMAT", c.name}}, "", {"--show-format"});
        EXPECT_EQ(result.err, "format " + std::to_string(c.format) + "\n")
            << (c.name ? *c.name : "(unset)");
    }
}

TEST(FormatChoice, UnderAWebServerTheFormVariableDecides) {
    struct Case {
        const char* method;
        const char* query;
        const char* body;  // posted with its length, or with a length one more than it has
        bool shortBody;
        int format;
    } cases[] = {
        {"GET", "rpt=csv", "", false, 2},      {"GET", "a=1&RpT=json", "", false, 6},
        {"GET", "RPT=HTML", "", false, 3},     {"GET", "rpt=json&RPT=csv", "", false, 6},
        {"GET", "RPT=", "", false, 0},         {"GET", "other=csv", "", false, 0},
        {"GET", "rpt=p%64f", "", false, 4},    {"POST", "", "rpt=excel", false, 5},
        {"POST", "rpt=json", "a=1", false, 0},  // a posted form is its body alone
        {"POST", "", "rpt=csv", true, 0},
    };
    for (const Case& c : cases) {
        Environment environment = {{"REQUEST_URI", "/cgi-bin/list"},
                                   {"REQUEST_METHOD", c.method},
                                   {"QUERY_STRING", c.query},
                                   {"ZYMBREPORTFORMAT", "json"}};
        if (std::string(c.method) == "POST") {
            environment["CONTENT_LENGTH"] = std::to_string(strlen(c.body) + c.shortBody);
            environment["CONTENT_TYPE"] = "application/x-www-form-urlencoded";
        }
        ChildResult result = RunDriver(environment, c.body, {"--show-format"});
        EXPECT_EQ(result.err, "format " + std::to_string(c.format) + "\n")
            << c.method << " " << c.query << " " << c.body;
    }
}

TEST(CgiHeaders, ComeFirstOnStandardOutputEndedByCrLf) {
    struct Case {
        const char* rpt;
        std::string header;  // the first bytes on standard output
        std::string next;    // what the report itself begins with
    } cases[] = {
        {"csv", "Content-Type: text/plain; charset=utf-8\n\r\n", "Seq.,Description,"},
        {"text", "Content-Type: text/plain; charset=utf-8\n\r\n",
         "\n             System: Corvantix\n"},
        {"html", "Content-Type: text/html; charset=utf-8\n\r\n",
         "<html><body><table width=\"100%\">"},
        {"json", "Content-Type: application/json; charset=utf-8\n\r\n", "[{\n\t\t\"title\":"},
    };
    for (const Case& c : cases) {
        ChildResult result = RunDriver({{"REQUEST_URI", "/cgi-bin/list"},
                                        {"REQUEST_METHOD", "GET"},
                                        {"QUERY_STRING", std::string("rpt=") + c.rpt}},
                                       Script("Corvantix File List", kFileList));
        EXPECT_EQ(result.out.substr(0, c.header.size()), c.header) << c.rpt;
        EXPECT_EQ(result.out.substr(c.header.size(), c.next.size()), c.next) << c.rpt;
    }
}

TEST(CgiHeaders, PdfAndExcelNameTheirOutputFiles) {
    struct Case {
        const char* rpt;
        const char* now;
        Environment environment;
        std::string output;
    } cases[] = {
        {"pdf",
         kFileListTime,
         {},
         "Content-type: application/pdf\r\n"
         "Content-disposition: attachment; filename=\"Report-2023-11-14-22-13-20.pdf\"\r\n"},
        {"pdf",
         "0",
         {},
         "Content-type: application/pdf\r\n"
         "Content-disposition: attachment; filename=\"Report-Not-Set.pdf\"\r\n"},
        {"pdf",
         kFileListTime,
         {{"ZYMBPDFOUTPUTPATH", "/srv/out/list.pdf"}},
         "Content-type: application/pdf\r\n"
         "Content-disposition: attachment; filename=\"/srv/out/list.pdf\"\r\n"},
        {"excel",
         kFileListTime,
         {},
         "Content-type: application/vnd.ms-excel\r\n"
         "Content-disposition: attachment; filename=\"Sheet-2023-11-14-22-13-20.xls\"\r\n"},
        {"excel",
         kFileListTime,
         {{"ZYMBEXCELOUTPUTPATH", "/srv/out/list.xls"}},
         "Content-type: application/vnd.ms-excel\r\n"
         "Content-disposition: attachment; filename=\"/srv/out/list.xls\"\r\n"},
    };
    for (const Case& c : cases) {
        Environment environment = c.environment;
        environment["REQUEST_URI"] = "/cgi-bin/list";
        environment["QUERY_STRING"] = std::string("RPT=") + c.rpt;
        ChildResult result =
            RunDriver(environment, Script("Corvantix File List", kFileList), {"--now", c.now});
        // The header lines come first; the document follows its Content-Length line.
        EXPECT_EQ(result.out.substr(0, c.output.size()), c.output) << c.rpt << " " << c.now;
    }
}

// ---- Per-report variables, hidden columns, dropped reports ------------------------

std::string Line(const std::string& text, const std::string& start) {
    size_t at = text.find(start);
    if (at == std::string::npos) return "";
    return text.substr(at, text.find('\n', at) - at);
}

TEST(ReportVariables, TheReportIdSelectsItsOwnVariables) {
    Environment environment = {{"ZYMBREPORTTITLE", "Generic title"},
                               {"ZYMBREPORTTITLE007", "Title of report 7"},
                               {"ZYMBREPORTCOLUMNDELETE", "3"},
                               {"ZYMBREPORTCOLUMNDELETE007", "2,40,x"}};
    std::string script = Script("Corvantix File List", kFileList);
    ChildResult seven = RunDriver(environment, script, {"--id", "7"});
    EXPECT_EQ(Line(seven.out, "          Report ID:"), "          Report ID: 7");
    EXPECT_EQ(Line(seven.out, " Report Description:"), " Report Description: Title of report 7");
    EXPECT_EQ(Line(seven.out, "       Report Width:"), "       Report Width: 155 bytes");
    EXPECT_EQ(Line(seven.out, "      Report Hidden:"), "      Report Hidden: 40 bytes");
    EXPECT_NE(seven.out.find(" Seq.   File Name "), std::string::npos) << seven.out;

    ChildResult none = RunDriver(environment, script);
    EXPECT_EQ(Line(none.out, "          Report ID:"), "");
    EXPECT_EQ(Line(none.out, " Report Description:"), " Report Description: Generic title");
    EXPECT_EQ(Line(none.out, "      Report Hidden:"), "      Report Hidden: 100 bytes");
}

TEST(ReportVariables, ADroppedReportWritesOnlyItsCgiHeaderLines) {
    std::string script = Script("Corvantix File List", kFileList);
    Environment cgi = {
        {"REQUEST_URI", "/cgi-bin/list"}, {"QUERY_STRING", "rpt=html"}, {"ZYMBDROPREPORT007", "0"}};
    EXPECT_EQ(RunDriver(cgi, script, {"--id", "7"}).out,
              "Content-Type: text/html; charset=utf-8\n\r\n<html><body>");
    EXPECT_EQ(
        RunDriver({{"ZYMBREPORTFORMAT", "json"}, {"ZYMBDROPREPORT007", ""}}, script, {"--id", "7"})
            .out,
        "");
    // Report ID 0 has no per-report variables: nothing is dropped.
    EXPECT_NE(RunDriver(cgi, script).out.find("</body></html>"), std::string::npos);
}

// ---- Read back by independent parsers ---------------------------------------------

std::string Unhex(const std::string& hex) {
    std::string bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return bytes;
}

std::string Hex(const std::string& bytes) {
    std::string hex;
    char pair[3];
    for (unsigned char byte : bytes) {
        snprintf(pair, sizeof pair, "%02x", byte);
        hex += pair;
    }
    return hex;
}

std::vector<std::string> Words(const std::string& line, char separator) {
    std::vector<std::string> words;
    size_t start = 0;
    while (true) {
        size_t end = line.find(separator, start);
        words.push_back(line.substr(start, end - start));
        if (end == std::string::npos) return words;
        start = end + 1;
    }
}

// Tests that read a report back with python3 (parse_back.py). A missing peer program
// fails under CI and skips the test elsewhere.
class ReadBack : public testing::Test {
  protected:
    void SetUp() override {
        python_ = testsupport::FindProgram("python3");
        if (python_.empty() && testsupport::PeersRequired()) FAIL() << "python3 is not installed";
        if (python_.empty()) GTEST_SKIP() << "python3 is not installed";
    }

    // Standard output of parse_back.py with these arguments and input.
    std::string ParseBack(std::vector<std::string> arguments, const std::string& input = "") {
        ChildOptions options;
        options.arguments = {SourcePath("report/testdata/parse_back.py")};
        options.arguments.insert(options.arguments.end(), arguments.begin(), arguments.end());
        options.input = input;
        ChildResult result = testsupport::RunProgram(python_, options);
        EXPECT_EQ(result.exitStatus, 0) << result.err;
        return result.out;
    }

    // Python's UTF-8 decoding of each text, U+FFFD for what is not UTF-8, encoded again.
    std::vector<std::string> PythonRepair(const std::vector<std::string>& texts) {
        std::string input;
        for (const std::string& text : texts) input += Hex(text) + "\n";
        std::vector<std::string> repaired;
        for (const std::string& line : testsupport::Lines(ParseBack({"utf8"}, input)))
            repaired.push_back(Unhex(line));
        return repaired;
    }

    std::string python_;
};

// Names a server may hold that break naive writers.
const std::vector<std::string> kAwkwardNames = {
    "plain.txt",
    "a,b.csv",
    "trailing comma,",
    "say \"hi\".txt",
    "\"quoted,\"\"twice\"\".txt",
    "<script>alert(1)</script>.html",
    "R&D <draft> 'v2' & more.doc",
    "tab\tinside.txt",
    "line\nbreak.txt",
    "cr\rinside.txt",
    "back\\slash.txt",
    "ctl\x01\x7f.txt",
    "euro \xE2\x82\xAC.txt",
    "caf\xE9.txt",
    "\xFF\xFE.bin",
    "cut \xE2\x82.txt",
    "surrogate \xED\xA0\x80.txt",
    "overlong \xC0\xAF.txt",
};

std::vector<FileEntry> AwkwardEntries() {
    std::vector<FileEntry> entries;
    unsigned sequence = 0;
    for (const std::string& name : kAwkwardNames) {
        ++sequence;
        entries.push_back(
            {sequence, "Item " + std::to_string(sequence) + ", \"odd\" <&>", name, sequence * 7});
    }
    return entries;
}

TEST_F(ReadBack, CsvGivesBackEveryFieldExactly) {
    testsupport::TempDir folder;
    for (bool heading : {true, false}) {
        Environment environment = {{"ZYMBREPORTFORMAT", "csv"}};
        if (!heading) environment["ZYMBCSVNOHEADER"] = "";
        ChildResult report =
            RunDriver(environment, Script("Corvantix File List", AwkwardEntries()));
        testsupport::WriteFile(folder / "list.csv", report.out);

        std::vector<std::vector<std::string>> expected;
        if (heading) expected.push_back({"Seq.", "Description", "File Name", "Gen.", ""});
        for (const FileEntry& entry : AwkwardEntries())
            expected.push_back({std::to_string(entry.sequence), entry.description,
                                RepairUtf8(entry.name), std::to_string(entry.generation), ""});
        expected.push_back({});  // the empty line that ends the table

        std::vector<std::vector<std::string>> records;
        for (const std::string& line :
             testsupport::Lines(ParseBack({"csv", folder / "list.csv"}))) {
            size_t colon = line.find(':');
            std::vector<std::string> fields;
            if (std::stoul(line.substr(0, colon)) != 0)
                for (const std::string& hex : Words(line.substr(colon + 1), ','))
                    fields.push_back(Unhex(hex));
            records.push_back(fields);
        }
        EXPECT_EQ(records, expected) << report.out;
    }
}

TEST_F(ReadBack, JsonIsValidAndHoldsEveryValueAsAString) {
    testsupport::TempDir folder;
    ChildResult report = RunDriver({{"ZYMBREPORTFORMAT", "json"}},
                                   Script("Corvantix File List", AwkwardEntries()), {"--id", "12"});
    testsupport::WriteFile(folder / "list.json", report.out);
    std::string parsed = ParseBack({"json", folder / "list.json"});
    std::vector<std::string> lines = testsupport::Lines(parsed);
    ASSERT_EQ(lines.size(), 2 + AwkwardEntries().size()) << parsed;
    EXPECT_EQ(lines[0], "section " + Hex("Corvantix File List") + " " +
                            Hex("Tuesday, November 14, 2023 - 22:13:20 (UTC)") + " 12");
    EXPECT_EQ(lines[1], "keys title,creation_time,report_id,records");

    std::vector<std::string> names = PythonRepair(kAwkwardNames);
    ASSERT_EQ(names.size(), kAwkwardNames.size());
    for (size_t i = 0; i < kAwkwardNames.size(); ++i) {
        const FileEntry entry = AwkwardEntries()[i];
        EXPECT_EQ(lines[2 + i], "record " + Hex("seq.") + "=" +
                                    Hex(std::to_string(entry.sequence)) + " " + Hex("description") +
                                    "=" + Hex(entry.description) + " " + Hex("file-name") + "=" +
                                    Hex(names[i]) + " " + Hex("gen.") + "=" +
                                    Hex(std::to_string(entry.generation)))
            << "row " << i + 1;
    }
}

TEST_F(ReadBack, Utf8RepairAgreesWithPythonsDecoder) {
    std::vector<std::string> samples = kAwkwardNames;
    for (const char* piece :
         {"\x80", "\xBF\xBF", "\xC2", "\xC2\x41", "\xE0\x80\x80", "\xE0\xA0", "\xEF\xBF\xBF",
          "\xF0\x8F\xBF\xBF", "\xF0\x90\x80", "\xF4\x8F\xBF\xBF", "\xF5\x80\x80\x80",
          "\xF8\x88\x80\x80\x80", "\xED\x9F\xBF\xED\xA0", "a\xE1\x80\xE2\xF0\x91\x92\xF1\xBF\x41"})
        samples.push_back(piece);
    std::vector<std::string> expected = PythonRepair(samples);
    ASSERT_EQ(expected.size(), samples.size());
    for (size_t i = 0; i < samples.size(); ++i)
        EXPECT_EQ(Hex(RepairUtf8(samples[i])), Hex(expected[i])) << Hex(samples[i]);
}

// The HTML page as a browser builds it: its DOM, dumped by a headless Chromium.

TEST_F(ReadBack, ChromiumShowsEveryRowAndNoNameTurnsIntoMarkup) {
    std::string chromium = testsupport::FindProgram("chromium");
    if (chromium.empty() && testsupport::PeersRequired()) FAIL() << "chromium is not installed";
    if (chromium.empty()) GTEST_SKIP() << "chromium is not installed";
    std::vector<FileEntry> entries;
    for (const FileEntry& entry : AwkwardEntries())
        if (entry.name.find('\r') == std::string::npos) entries.push_back(entry);
    entries.push_back({99, "A long name", std::string(600, 'x'), 1});

    testsupport::TempDir folder;
    ChildResult report =
        RunDriver({{"ZYMBREPORTFORMAT", "html"}}, Script("Corvantix File List", entries));
    testsupport::WriteFile(folder / "list.html", report.out);
    ChildOptions browser;
    browser.arguments = {"--headless",
                         "--no-sandbox",
                         "--disable-gpu",
                         "--disable-quic",
                         "--no-first-run",
                         "--disable-background-networking",
                         "--disable-component-update",
                         "--disable-sync",
                         "--user-data-dir=" + (folder / "profile"),
                         "--dump-dom",
                         "file://" + (folder / "list.html")};
    ChildResult dom = testsupport::RunProgram(chromium, browser);
    ASSERT_EQ(dom.exitStatus, 0) << dom.err;
    testsupport::WriteFile(folder / "dom.html", dom.out);

    std::string parsed = ParseBack({"html", folder / "dom.html"});
    std::vector<std::vector<std::string>> rows;
    for (const std::string& line : testsupport::Lines(parsed)) {
        std::vector<std::string> words = Words(line, ' ');
        EXPECT_FALSE(words[0] == "markup" && words[1] == "2") << "a cell holds markup: " << line;
        if (words[0] != "tr" || words[1] != "2") continue;  // the data table only
        std::vector<std::string> cells;
        for (size_t i = 3; i < words.size(); ++i)
            cells.push_back(words[i] == "-" ? "" : Unhex(words[i]));
        rows.push_back(cells);
    }
    ASSERT_EQ(rows.size(), 1 + entries.size()) << parsed;
    EXPECT_EQ(rows[0], (std::vector<std::string>{"Seq.", "Description", "File Name", "Gen."}));
    for (size_t i = 0; i < entries.size(); ++i) {
        const FileEntry& entry = entries[i];
        const std::vector<std::string>& cells = rows[1 + i];
        ASSERT_EQ(cells.size(), 4u) << "row " << i + 1;
        EXPECT_EQ(cells[0], std::to_string(entry.sequence));
        EXPECT_EQ(cells[1], entry.description);
        EXPECT_EQ(cells[3], std::to_string(entry.generation));
        // A page without a character set is decoded as the browser likes; only the
        // ASCII names can be compared.
        bool ascii = true;
        for (unsigned char byte : entry.name) ascii = ascii && byte < 0x80;
        if (!ascii) continue;
        std::string shown = entry.name.size() == 600 ? std::string(505, 'x') : entry.name;
        EXPECT_EQ(cells[2], shown) << "row " << i + 1;
    }
}

}  // namespace
