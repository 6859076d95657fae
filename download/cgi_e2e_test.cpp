// The download program as a CGI program under a real lighttpd with mod_cgi: options as
// form variables by GET and by POST, the report forms with their header lines, the HTML
// page in a headless browser, and a download that lands on the server's side.
#include <cjson/cJSON.h>
#include <curl/curl.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/pdf_readers.h"
#include "tests/support/test_support.h"
#include "tests/support/xls_read_back.h"

namespace fs = std::filesystem;
using testsupport::ReadFile;

namespace {

struct HttpAnswer {
    long status = 0;
    std::string headers, body;
};

size_t Collect(char* data, size_t size, size_t count, void* target) {
    static_cast<std::string*>(target)->append(data, size * count);
    return size * count;
}

HttpAnswer Fetch(const std::string& url, const std::string* postBody = nullptr) {
    HttpAnswer answer;
    CURL* curl = curl_easy_init();
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &answer.body);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, Collect);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &answer.headers);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 60L);
    if (postBody != nullptr) curl_easy_setopt(curl, CURLOPT_POSTFIELDS, postBody->c_str());
    if (curl_easy_perform(curl) == CURLE_OK)
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &answer.status);
    curl_easy_cleanup(curl);
    return answer;
}

std::string Escape(const std::string& text) {
    char* escaped = curl_easy_escape(nullptr, text.c_str(), static_cast<int>(text.size()));
    std::string result = escaped;
    curl_free(escaped);
    return result;
}

class CgiTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        std::string lighttpd = testsupport::FindProgram("lighttpd");
        if (lighttpd.empty()) {
            missing = true;
            return;
        }
        state = new State;
        State& s = *state;
        auto samples = testsupport::RunProgram(
            "/usr/bin/python3",
            {.arguments = {std::string(ZYMB_SOURCE) + "/samples/make-samples.py",
                           s.root / "samples"}});
        ASSERT_EQ(samples.exitStatus, 0) << samples.err;
        s.serverPort = testsupport::FreeLoopbackPort();
        ASSERT_TRUE(s.server.Start(DEVSERVER_PROGRAM, {"--data", s.root / "samples/data", "--users",
                                                       s.root / "samples/users", "--port",
                                                       std::to_string(s.serverPort), "--quiet"}));
        ASSERT_TRUE(testsupport::WaitForPort(s.serverPort));

        fs::create_directories(s.root / "cgi");
        fs::create_directories(s.root / "logs");
        fs::create_symlink(DOWNLOAD_PROGRAM, s.root / "cgi/download.cgi");
        s.webPort = testsupport::FreeLoopbackPort();
        testsupport::WriteFile(s.root / "lighttpd.conf",
                               "server.document-root = \"" + s.root / "cgi" + "\"\n" +
                                   "server.port = " + std::to_string(s.webPort) + "\n" +
                                   "server.bind = \"127.0.0.1\"\n"
                                   "server.modules = (\"mod_cgi\", \"mod_setenv\")\n"
                                   "setenv.add-environment = (\"ZYMBSTDERRDIR\" => \"" +
                                   s.root / "logs" + "\", \"ZYMBPWPATH\" => \"" +
                                   s.root / "samples/pw" +
                                   "\", \"ZYMBCGISERVERS\" => \"localhost:1, 127.0.0.1:" +
                                   std::to_string(s.serverPort) +
                                   "\")\n"
                                   "cgi.assign = (\".cgi\" => \"\")\n"
                                   "server.errorlog = \"" +
                                   s.root / "error.log" + "\"\n");
        ASSERT_TRUE(s.web.Start(lighttpd, {"-D", "-f", s.root / "lighttpd.conf"}, {},
                                s.root / "lighttpd.out"));
        ASSERT_TRUE(testsupport::WaitForPort(s.webPort)) << ReadFile(s.root / "lighttpd.out");
    }
    static void TearDownTestSuite() {
        delete state;
        state = nullptr;
    }
    void SetUp() override {
        if (missing && testsupport::PeersRequired()) FAIL() << "lighttpd is not installed";
        if (missing) GTEST_SKIP() << "lighttpd is not installed";
    }

    struct State {
        testsupport::TempDir root;
        testsupport::BackgroundProcess server, web;
        int serverPort = 0, webPort = 0;
    };
    static State* state;
    static bool missing;

    // The password comes from the operator's password folder, by user name.
    std::string Form(const std::string& extra, const std::string& filter = "*") const {
        return "C=ACME&f=" + Escape(filter) +
               "&S=" + Escape("batch@127.0.0.1:" + std::to_string(state->serverPort)) + extra;
    }
    // Everything the program logged in its runs so far, from its redirect files.
    static std::string Logs() {
        std::string all;
        for (const auto& entry : fs::directory_iterator(state->root / "logs"))
            all += ReadFile(entry.path());
        return all;
    }
    std::string Url(const std::string& query = "") const {
        return "http://127.0.0.1:" + std::to_string(state->webPort) + "/download.cgi" +
               (query.empty() ? "" : "?" + query);
    }
};
CgiTest::State* CgiTest::state = nullptr;
bool CgiTest::missing = false;

TEST_F(CgiTest, EveryReportFormByGetAndPost) {
    const struct {
        const char* rpt;
        const char* contentType;
    } forms[] = {{"text", "text/plain"},
                 {"csv", "text/plain"},
                 {"html", "text/html"},
                 {"json", "application/json"}};
    for (const auto& form : forms) {
        for (bool post : {false, true}) {
            std::string fields = Form("&l=1&RPT=" + std::string(form.rpt));
            HttpAnswer answer = post ? Fetch(Url(), &fields) : Fetch(Url(fields));
            SCOPED_TRACE(std::string(form.rpt) + (post ? " by POST" : " by GET") + "\n" +
                         answer.headers + answer.body + Logs());
            EXPECT_EQ(answer.status, 200);
            EXPECT_NE(answer.headers.find(std::string("Content-Type: ") + form.contentType),
                      std::string::npos);
            for (const char* name :
                 {"exact.bin", "ledger.txt", "reports/daily.csv", "q4-sales.csv"})
                EXPECT_NE(answer.body.find(name), std::string::npos) << name;
            if (std::string(form.rpt) == "json") {
                cJSON* json = cJSON_Parse(answer.body.c_str());
                EXPECT_NE(json, nullptr);
                cJSON_Delete(json);
            }
            if (std::string(form.rpt) == "csv") {
                EXPECT_TRUE(answer.body.starts_with("Seq.,Description,File Name,Gen.,"))
                    << answer.body;
            }
        }
    }
}

TEST_F(CgiTest, BrowserShowsEveryRowOfTheHtmlReport) {
    std::string chromium = testsupport::FindProgram("chromium");
    if (chromium.empty() && testsupport::PeersRequired()) FAIL() << "chromium is not installed";
    if (chromium.empty()) GTEST_SKIP() << "chromium is not installed";
    testsupport::TempDir profile;
    auto dom = testsupport::RunProgram(
        chromium, {.arguments = {"--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                                 "--no-first-run", "--disable-background-networking",
                                 "--disable-component-update", "--disable-sync",
                                 "--user-data-dir=" + profile.Path(), "--dump-dom",
                                 Url(Form("&l=1&RPT=html"))},
                   .timeoutSeconds = 90});
    ASSERT_EQ(dom.exitStatus, 0) << dom.err;
    for (const char* name : {"exact.bin", "reports/daily.csv", "reports\\2026\\q4-sales.csv"})
        EXPECT_NE(dom.out.find(std::string("<td><tt>") + name + "</tt>"), std::string::npos)
            << name << "\n"
            << dom.out;
    size_t rows = 0;
    for (size_t at = dom.out.find("<tr"); at != std::string::npos; at = dom.out.find("<tr", at + 3))
        ++rows;
    EXPECT_GE(rows, 8u) << "a heading row and seven file rows";
}

TEST_F(CgiTest, ExcelReportIsExactlyTheWorkbookItsLengthAnnounces) {
    if (!xlsreadback::ReaderInstalled()) {
        if (testsupport::PeersRequired()) FAIL() << "python3 with xlrd is not installed";
        GTEST_SKIP() << "python3 with xlrd is not installed";
    }
    HttpAnswer answer = Fetch(Url(Form("&l=1&RPT=excel")));
    SCOPED_TRACE(answer.headers + Logs());
    EXPECT_EQ(answer.status, 200);
    EXPECT_NE(answer.headers.find("Content-type: application/vnd.ms-excel"), std::string::npos);
    EXPECT_NE(answer.headers.find("Content-disposition: attachment; filename=\"Sheet-"),
              std::string::npos);
    EXPECT_NE(answer.headers.find("Content-Length: " + std::to_string(answer.body.size()) + "\r\n"),
              std::string::npos)
        << "body of " << answer.body.size() << " bytes";
    xlsreadback::Book book = xlsreadback::Read("", answer.body);
    ASSERT_TRUE(book.read) << book.error;
    ASSERT_EQ(book.sheets.size(), 1u);
    const xlsreadback::Sheet& sheet = book.sheets[0];
    EXPECT_EQ(sheet.Text(0, 2), "File Name");
    std::string names;
    for (int row = 1; row < sheet.rows; ++row) names += sheet.Text(row, 2) + "\n";
    for (const char* name : {"exact.bin", "ledger.txt", "reports/daily.csv"})
        EXPECT_NE(names.find(std::string(name) + "\n"), std::string::npos) << name << "\n" << names;
}

TEST_F(CgiTest, DownloadByFormVariablesWritesOnTheServerSide) {
    std::string fields = Form("", "ledger*");
    HttpAnswer answer = Fetch(Url(), &fields);
    EXPECT_EQ(answer.status, 200) << Logs();
    EXPECT_NE(answer.body.find("ended with RC=0 (Success)"), std::string::npos) << answer.body;
    EXPECT_TRUE(ReadFile(state->root / "cgi/ledger.txt") ==
                ReadFile(state->root / "samples/originals/ledger.txt"));

    // The same request again: the file exists, so the outcome is a failure and the file stays.
    answer = Fetch(Url(), &fields);
    EXPECT_EQ(answer.status, 200);
    EXPECT_NE(answer.body.find("ended with RC=1 (Failure)"), std::string::npos) << answer.body;
    EXPECT_NE(Logs().find("Open of output file failed: File exists (ledger.txt)"),
              std::string::npos);
}

// A form variable in the long form is a mistaken option, refused as on the command line:
// the run ends before any connection with status 2 and makes no file.
TEST_F(CgiTest, LongOptionInTheFormEndsTheRun) {
    for (bool post : {false, true}) {
        SCOPED_TRACE(post ? "by POST" : "by GET");
        std::string fields = Form("&--output=typo.bin&o=named.bin", "exact.bin");
        HttpAnswer answer = post ? Fetch(Url(), &fields) : Fetch(Url(fields));
        EXPECT_EQ(answer.status, 200) << Logs();
        EXPECT_NE(answer.body.find("ended with RC=2 (Failure)"), std::string::npos) << answer.body;
        const std::string logs = Logs();
        EXPECT_NE(logs.find("Unrecognized option '--output' in the CGI form; see "
                            "'ZYMB10DownloadFile --help'"),
                  std::string::npos)
            << logs;
        for (const char* name : {"typo.bin", "named.bin", "exact.bin"})
            EXPECT_FALSE(fs::exists(state->root / (std::string("cgi/") + name))) << name;
    }
}

// The file list as a PDF document, to the web client and, from the command line, to a
// file; each read back by independent readers.
TEST_F(CgiTest, FileListAsPdf) {
    std::string missing = testsupport::MissingPdfReaders();
    if (!missing.empty() && testsupport::PeersRequired()) FAIL() << "missing " << missing;
    if (!missing.empty()) GTEST_SKIP() << "missing " << missing;
    auto expectFileList = [](const std::string& pdf) {
        EXPECT_EQ(testsupport::QpdfProblems(pdf), "");
        std::string text = testsupport::PdfPageText(testsupport::PdfWords(pdf), 1);
        for (const char* expected :
             {"Corvantix File List", "exact.bin", "ledger.txt", "reports/daily.csv", "Page 1"})
            EXPECT_NE(text.find(expected), std::string::npos) << expected << "\n" << text;
        auto qr = testsupport::PdfQrTexts(pdf);
        ASSERT_EQ(qr.size(), 1u);
        ASSERT_EQ(qr[0].size(), 1u);
        EXPECT_TRUE(qr[0][0].starts_with("1;Corvantix File List;")) << qr[0][0];
    };

    HttpAnswer answer = Fetch(Url(Form("&l=1&RPT=pdf")));
    SCOPED_TRACE(answer.headers + Logs());
    EXPECT_EQ(answer.status, 200);
    EXPECT_NE(answer.headers.find("Content-type: application/pdf"), std::string::npos);
    EXPECT_NE(answer.headers.find("Content-disposition: attachment; filename=\"Report-"),
              std::string::npos);
    EXPECT_NE(answer.headers.find("Content-Length: " + std::to_string(answer.body.size()) + "\r\n"),
              std::string::npos);
    testsupport::TempDir work;
    testsupport::WriteFile(work / "web.pdf", answer.body);
    expectFileList(work / "web.pdf");

    const std::vector<std::string> arguments = {
        "-C",
        "ACME",
        "-f",
        "*",
        "-l",
        "-S",
        "batch:" + state->root / "samples/pw/batch@127.0.0.1:" + std::to_string(state->serverPort)};
    testsupport::ChildOptions options{
        .arguments = arguments,
        .environment = {{"ZYMBREPORTFORMAT", "pdf"}, {"ZYMBPDFOUTPUTPATH", work / "list.pdf"}}};
    auto run = testsupport::RunProgram(DOWNLOAD_PROGRAM, options);
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    expectFileList(work / "list.pdf");

    // A document that cannot be saved fails the run, with the path and the reason.
    options.environment["ZYMBPDFOUTPUTPATH"] = work / "no-such-folder/list.pdf";
    run = testsupport::RunProgram(DOWNLOAD_PROGRAM, options);
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_NE(run.err.find("E-"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("Save of the PDF report to " + work / "no-such-folder/list.pdf" +
                           " failed: No such file or directory"),
              std::string::npos)
        << run.err;
}

TEST_F(CgiTest, MissingOptionAnswersWithTheFailure) {
    HttpAnswer answer = Fetch(Url("f=x&l=1"));
    EXPECT_EQ(answer.status, 200);
    EXPECT_NE(answer.body.find("ended with RC=1 (Failure)"), std::string::npos) << answer.body;
    EXPECT_NE(Logs().find("Value for argument -C is blank and a value is required"),
              std::string::npos);
}

// A web client chooses the server string, so it may not name a file or a folder as the
// password part, nor send a stored password to a server the operator has not listed;
// such requests end with status 1 and say why, before any password is read.
TEST_F(CgiTest, ServerStringCannotSteerCredentials) {
    const std::string port = std::to_string(state->serverPort);
    const struct {
        std::string server;
        std::string reason;
    } refused[] = {
        {"batch:/etc/hostname@127.0.0.1:" + port, "its password part may only be a literal"},
        {"batch:" + state->root / "samples/pw@127.0.0.1:" + port,
         "its password part may only be a literal"},
        {"batch:+@127.0.0.1:" + port, "its password part may only be a literal"},
        {"../pw/batch@127.0.0.1:" + port, "names no password file in the password folder"},
        {"batch@127.0.0.2:" + port, "Server 127.0.0.2:" + port + " refused under a web server"},
        {"batch@127.0.0.1:1", "Server 127.0.0.1:1 refused under a web server"},
    };
    for (const auto& c : refused) {
        fs::remove_all(state->root / "logs");
        fs::create_directories(state->root / "logs");
        HttpAnswer answer = Fetch(Url("C=ACME&f=x&l=1&S=" + Escape(c.server)));
        SCOPED_TRACE(c.server + "\n" + Logs());
        EXPECT_EQ(answer.status, 200);
        EXPECT_NE(answer.body.find("ended with RC=1 (Failure)"), std::string::npos) << answer.body;
        EXPECT_NE(Logs().find(std::string("000E-")), std::string::npos);
        EXPECT_NE(Logs().find(c.reason), std::string::npos);
        EXPECT_EQ(Logs().find("Getting password from Password File"), std::string::npos);
        EXPECT_EQ(Logs().find("Connection to server"), std::string::npos);
    }
    // A literal password, and a listed server named by host name, are the client's to give.
    for (const std::string& server :
         std::vector<std::string>{"batch:-corvantix@127.0.0.1:" + port, "batch@LOCALHOST:1"}) {
        fs::remove_all(state->root / "logs");
        fs::create_directories(state->root / "logs");
        HttpAnswer answer = Fetch(Url("C=ACME&f=x&l=1&S=" + Escape(server)));
        EXPECT_EQ(Logs().find("refused under a web server"), std::string::npos) << server << "\n"
                                                                                << Logs();
        if (server.starts_with("batch:-")) {
            EXPECT_NE(answer.body.find("ledger.txt"), std::string::npos) << answer.body;
        }
    }
}

}  // namespace
